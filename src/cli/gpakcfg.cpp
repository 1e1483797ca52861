#include "cli/gpakcfg.h"

#include <cstdio>

#include "cli/log/record.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/runs/adapter.h"
#include "cli/runs/read.h"
#include "cli/runs/scan.h"
#include "cli/runs/write.h"
#include "cli/say.h"
#include "cli/status.h"
#include "cli/texts.h"
#include "cli/together.h"
#include "common/version.h"
#include "i2c/i2c.h"

namespace cli {

namespace {

// The run that settings ask for, on the bus they name, then its --log line.
int RunOn(const Settings& settings) {
    SetDevicePath(settings.bus);
    log::RunRecord record = log::RunRecord::Start();
    const runs::Context run{settings, stdout, record};
    const int status = settings.action == Action::kScan ? runs::ScanRun(run)
                       : settings.write_file            ? runs::WriteRun(run)
                       : settings.verify_file           ? runs::VerifyRun(run)
                                                        : runs::ReadRun(run);
    return log::LogRun(settings, record, status);
}

int Run(int argc, char* argv[]) {
    const ParsedSettings parsed = ParseSettings(argc, argv);
    const Settings& settings = parsed.settings;
    const bool scan = settings.action == Action::kScan;
    const QuietOutput quiet((settings.action == Action::kRun || scan) &&
                            GivenBeforeEnd(argc, argv, "--quiet"));
    std::printf(texts::kBanner, GPAKCFG_VERSION);
    if (!parsed.error.empty()) {
        Say("%s", parsed.error.c_str());
        return kExitUsage;
    }
    if (settings.action == Action::kUsage) {
        PrintUsage(argc > 0 ? argv[0] : "gpakcfg");
        return kExitOk;
    }
    if (settings.action == Action::kVersion) {
        return kExitOk;
    }
    if (settings.action == Action::kListBuses) {
        return runs::ListBusesRun(stdout);
    }
    if (settings.type == kConfigUnset && !scan) {
        // The fixed text ends without a line break and says nothing of
        // -t: a line of ours after it does.
        texts::SayText(texts::kTypeNotSpecified);
        std::fputc('\n', stderr);
        if (parsed.bad_type.empty()) {
            Say("no -t: give the memory with -t reg, -t nvm or -t eeprom");
        } else {
            Say("-t %s: TYPE is reg, nvm or eeprom", parsed.bad_type.c_str());
        }
        return kExitUsage;
    }
    if (const std::string refusal = Refusal(Stage::kFiles, settings); !refusal.empty()) {
        Say("%s", refusal.c_str());
        return kExitUsage;
    }
    return RunOn(settings);
}

}  // namespace

}  // namespace cli

int RunGpakcfg(int argc, char* argv[]) { return cli::FinishOutput(cli::Run(argc, argv)); }
