#include "cli/runs/verify.h"

#include "cli/runs/read.h"
#include "cli/runs/report.h"
#include "cli/runs/write.h"
#include "cli/status.h"

namespace cli::runs {

int VerifyRun(const Context& run) {
    const Settings& settings = run.settings;
    ConfigImage expected{};
    if (!LoadConfigFile(*settings.verify_file, expected)) {
        return kExitUsage;
    }
    ApplyByteSets(settings.set_bytes, expected);
    ApplyControlCode(settings.code, settings.type, expected);
    run.record.action = "verify";
    ConfigImage image{};
    const Reading reading = ReadAndSave(run, image);
    run.record.SetSent(expected, reading.complete);
    const bool same =
        reading.complete &&
        ReportVerified(DeviceAddress(settings.code, settings.type), expected, image);
    return same && reading.saved ? kExitOk : kExitFailed;
}

}  // namespace cli::runs
