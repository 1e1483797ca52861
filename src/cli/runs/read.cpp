#include "cli/runs/read.h"

#include "cli/dump.h"
#include "cli/runs/bus.h"
#include "cli/runs/report.h"
#include "cli/runs/save.h"
#include "cli/status.h"
#include "cli/texts.h"

namespace cli::runs {

Reading ReadAndSave(const Context& run, ConfigImage& image) {
    const i2c::BusLock bus = TakeBus(run.settings.bus);
    Reading reading;
    reading.complete = ReadBack(run, run.settings, bus.Ready(), image);
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

bool ReadBack(const Context& run, const Settings& settings, bool bus_ready, ConfigImage& image) {
    image.fill(0);
    PrintHeading(texts::kReadHeading);
    bool complete = false;
    if (bus_ready) {
        const PagesResult read = ReadConfigData(settings.code, settings.type, image);
        complete = read.Ok();
        if (!complete) {
            ReportReadError(settings.bus, read);
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

}  // namespace cli::runs
