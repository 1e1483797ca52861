#include "cli/runs/read.h"

#include "cli/interruption.h"
#include "cli/output.h"
#include "cli/runs/adapter.h"
#include "cli/runs/bus.h"
#include "cli/runs/chip_ready.h"
#include "cli/runs/report.h"
#include "cli/runs/write.h"
#include "cli/say.h"
#include "cli/status.h"
#include "cli/texts.h"
#include "config_file/save.h"

namespace cli::runs {

Reading ReadAndSave(const Context& run, ConfigImage& image) {
    const i2c::BusLock bus = TakeBus(run.settings.bus);
    Reading reading;
    const bool reachable =
        bus.Ready() && AddressesFree(run.settings.bus, bus, ChipAddresses(run.settings, false),
                                     run.settings.force);
    reading.complete = ReadBack(run, run.settings, reachable, image, true);
    if (run.settings.save_file) {
        reading.saved = SaveRun(run, reading.complete, image) == kExitOk;
    }
    return reading;
}

int ReadRun(const Context& run) {
    ConfigImage image{};
    run.record.action = "read";
    const Reading reading = ReadAndSave(run, image);
    return reading.complete && reading.saved ? kExitOk : kExitFailed;
}

bool ReadBack(const Context& run, const Settings& settings, bool bus_ready, ConfigImage& image,
              bool look_for_chips) {
    image.fill(0);
    PrintHeading(texts::kReadHeading);
    bool complete = false;
    if (bus_ready) {
        const PagesResult read = ReadConfigData(settings.code, settings.type, image);
        complete = read.Ok();
        if (!complete) {
            ReportReadError(settings.bus, read);
        }
        // Nothing answered at all: where the chips are.
        if (look_for_chips && !complete && read.failed_page == 0 &&
            read.transfer.NotAcknowledged()) {
            SayWhereTheChipsAre(settings);
        }
    } else {
        // Nothing is sent without the bus; the run has said why already.
        ReportNothingRead(settings.bus, DeviceAddress(settings.code, settings.type));
    }
    DumpData(image);
    std::fprintf(run.out, "\n");
    run.record.SetReadBack(image, complete);
    return complete;
}

int VerifyRun(const Context& run) {
    const Settings& settings = run.settings;
    ConfigImage expected{};
    if (!LoadConfigFile("--verify", *settings.verify_file, expected)) {
        return kExitUsage;
    }
    ApplyByteSets(settings.set_bytes, expected);
    ApplyControlCode(settings.code, settings.type, expected);
    run.record.action = "verify";
    ConfigImage image{};
    const Reading reading = ReadAndSave(run, image);
    run.record.SetSent(expected, reading.complete);
    const bool same = reading.complete &&
                      ReportVerified(DeviceAddress(settings.code, settings.type), expected, image);
    return same && reading.saved ? kExitOk : kExitFailed;
}

int SaveRun(const Context& run, bool complete, const ConfigImage& image) {
    const std::string& path = *run.settings.save_file;
    // A backup with zeros for the pages not read would program back as
    // a configuration the chip never held.
    if (!complete) {
        Say("%s: not saved: the read-back did not read all 16 pages; the file is left as it was",
            path.c_str());
        return kExitFailed;
    }
    hexfile::ReplaceResult saved;
    {
        // A signal meanwhile acts once the file is replaced whole or its new
        // copy removed: never leaves that copy behind.
        const SignalsDeferred deferred;
        saved = hexfile::SaveConfigFile(path, image);
    }
    if (!saved.replaced) {
        Say("%s: not saved: %s", path.c_str(), saved.error.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace cli::runs
