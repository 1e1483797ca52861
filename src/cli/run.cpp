// One gpakcfg command from the banner to its exit status: the read run,
// the verify run, and the read-back section that every run ends with.
#include <cstdio>

#include "cli/adapter.h"
#include "cli/chips.h"
#include "cli/cli.h"
#include "cli/log_file.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/quiet.h"
#include "cli/report.h"
#include "cli/run_log.h"
#include "config_file/save.h"
#include "i2c/i2c.h"

#ifndef GPAKCFG_VERSION
#define GPAKCFG_VERSION "unknown"
#endif

namespace {

// A run that only reads: the bus taken, the memory read back into image
// and, with --save, saved. True when it was read whole (and saved).
struct Reading {
    bool complete = false;
    bool saved = true;
};

Reading ReadAndSave(const cli::Settings& settings, ConfigImage& image) {
    const i2c::BusLock bus = cli::TakeBus(DevicePath());
    Reading reading;
    reading.complete =
        ReadBack(settings,
                 bus.Ready() && cli::AddressesFree(DevicePath(), bus,
                                                   cli::ChipAddresses(settings, false),
                                                   settings.force),
                 image);
    if (settings.save_file) {
        reading.saved = SaveRun(settings, reading.complete, image) == kExitOk;
    }
    return reading;
}

int ReadRun(const cli::Settings& settings) {
    ConfigImage image{};
    cli::Record().action = "read";
    const Reading reading = ReadAndSave(settings, image);
    return reading.complete && reading.saved ? kExitOk : kExitFailed;
}

// --verify FILE: the memory against what -w FILE would have sent.
int VerifyRun(const cli::Settings& settings) {
    ConfigImage expected{};
    if (!LoadConfigFile(*settings.verify_file, expected)) {
        return kExitUsage;
    }
    cli::ApplyByteSets(settings.set_bytes, expected);
    ApplyControlCode(settings.code, settings.type, expected);
    cli::Record().action = "verify";
    ConfigImage image{};
    const Reading reading = ReadAndSave(settings, image);
    cli::RecordSent(expected, reading.complete);
    const bool same =
        reading.complete &&
        cli::ReportVerified(DeviceAddress(settings.code, settings.type), expected, image);
    return same && reading.saved ? kExitOk : kExitFailed;
}

int Run(int argc, char* argv[]) {
    cli::StartRecord();
    const cli::ParsedSettings parsed = cli::ParseSettings(argc, argv);
    const bool runs =
        parsed.settings.action == cli::Action::kRun || parsed.settings.action == cli::Action::kScan;
    const cli::QuietOutput quiet(runs && cli::AsksForQuiet(argc, argv));
    std::printf("GreenPAK configuration utility\n");
    std::printf("gpakcfg %s\n", GPAKCFG_VERSION);
    std::printf("\n");

    if (!parsed.error.empty()) {
        std::fprintf(stderr, "gpakcfg: %s\n", parsed.error.c_str());
        return kExitUsage;
    }
    const cli::Settings& settings = parsed.settings;
    if (settings.action == cli::Action::kUsage) {
        cli::PrintUsage(argc > 0 ? argv[0] : "gpakcfg");
        return kExitOk;
    }
    if (settings.action == cli::Action::kVersion) {
        return kExitOk;
    }
    if (settings.action == cli::Action::kListBuses) {
        return cli::ListBusesRun(stdout);
    }
    const bool scan = settings.action == cli::Action::kScan;
    if (settings.type == kConfigUnset && !scan) {
        std::fprintf(stderr, "Type is not specified.");
        return kExitUsage;
    }
    SetDevicePath(settings.bus);
    const auto& input = settings.write_file ? settings.write_file : settings.verify_file;
    if (settings.save_file && input && hexfile::SameFile(*settings.save_file, *input)) {
        std::fprintf(stderr,
                     "gpakcfg: --save %s: the same file as %s %s: the read-back would replace "
                     "it; save to another file\n",
                     settings.save_file->c_str(), settings.write_file ? "-w" : "--verify",
                     input->c_str());
        return kExitUsage;
    }
    if (const std::string refusal = cli::LogRefusal(settings); !refusal.empty()) {
        std::fprintf(stderr, "gpakcfg: %s\n", refusal.c_str());
        return kExitUsage;
    }
    const int status = scan                   ? cli::ScanRun(settings)
                       : settings.write_file  ? WriteRun(settings)
                       : settings.verify_file ? VerifyRun(settings)
                                              : ReadRun(settings);
    return cli::LogRun(settings, status);
}

}  // namespace

bool ReadBack(const cli::Settings& settings, bool bus_ready, ConfigImage& image) {
    image.fill(0);
    PrintHeading("Chip configration data.");
    bool complete = false;
    if (bus_ready) {
        const PagesResult read = ReadConfigData(settings.code, settings.type, image);
        complete = read.Ok();
        if (!complete) {
            cli::ReportReadError(read);
        }
    } else {
        // Nothing is sent without the bus; the run has said why already.
        cli::ReportNothingRead(DeviceAddress(settings.code, settings.type));
    }
    DumpData(image);
    std::printf("\n");
    cli::RecordReadBack(image, complete);
    return complete;
}

int RunGpakcfg(int argc, char* argv[]) { return cli::FinishOutput(Run(argc, argv)); }
