#include <cstdio>

#include "cli/cli.h"
#include "cli/output.h"
#include "i2c/bus_lock.h"
#include "i2c/i2c.h"

#ifndef GPAKCFG_VERSION
#define GPAKCFG_VERSION "unknown"
#endif

namespace {

void PrintUsage(const char* program) {
    std::printf("Usage: %s [-t TYPE] [-w FILE] [-c CODE] \n", program);
    std::printf(" -t is config type, TYPE is {reg|nvm|eeprom}.\n");
    std::printf(" -w is write operation, FILE is configration file path..\n");
    std::printf(" -c control code, CODE is {0..f}. Default is 1.\n");
    std::printf(" --no-verify skips comparing the memory with FILE after -w.\n");
    std::printf(" --verify FILE compares the memory with FILE, writing nothing.\n");
    std::printf(" --save FILE writes the memory read back to FILE as a hex record file.\n");
    std::printf(" --bus N|PATH uses /dev/i2c-N or PATH instead of /dev/i2c-1.\n");
    std::printf(" -h, --help prints this usage; --version prints the version.\n");
}

int ReadRun(const cli::Settings& settings) {
    const gpakcfg::BusLock bus = gpakcfg::BusLock::Acquire(DevicePath(), gpakcfg::kBusWaitLimit);
    ConfigImage image{};
    const bool complete = ReadBack(settings, bus.Ready(), image);
    int status = complete ? kExitOk : kExitFailed;
    if (settings.save_file && SaveRun(settings, complete, image) != kExitOk) {
        status = kExitFailed;
    }
    return status;
}

// --verify FILE: the memory against what -w FILE would have sent.
int VerifyRun(const cli::Settings& settings) {
    ConfigImage expected{};
    if (!LoadConfigFile(*settings.verify_file, expected)) {
        return kExitUsage;
    }
    ApplyControlCode(settings.code, settings.type, expected);
    const gpakcfg::BusLock bus = gpakcfg::BusLock::Acquire(DevicePath(), gpakcfg::kBusWaitLimit);
    ConfigImage image{};
    const bool complete = ReadBack(settings, bus.Ready(), image);
    bool same = complete && VerifyConfigData(settings.code, settings.type, expected, image);
    if (settings.save_file && SaveRun(settings, complete, image) != kExitOk) {
        same = false;
    }
    return same ? kExitOk : kExitFailed;
}

int Run(int argc, char* argv[]) {
    std::printf("GreenPAK configuration utility\n");
    std::printf("gpakcfg %s\n", GPAKCFG_VERSION);
    std::printf("\n");

    const cli::ParsedSettings parsed = cli::ParseSettings(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "gpakcfg: %s\n", parsed.error.c_str());
        return kExitUsage;
    }
    const cli::Settings& settings = parsed.settings;
    if (settings.action == cli::Action::kUsage) {
        PrintUsage(argc > 0 ? argv[0] : "gpakcfg");
        return kExitOk;
    }
    if (settings.action == cli::Action::kVersion) {
        return kExitOk;
    }
    if (settings.type == kConfigUnset) {
        std::fprintf(stderr, "Type is not specified.");
        return kExitUsage;
    }
    SetDevicePath(settings.bus);
    if (settings.write_file) {
        return WriteRun(settings);
    }
    return settings.verify_file ? VerifyRun(settings) : ReadRun(settings);
}

}  // namespace

bool ReadBack(const cli::Settings& settings, bool bus_ready, ConfigImage& image) {
    image.fill(0);
    PrintHeading("Chip configration data.");
    // Without the bus nothing is sent: the run has said why already.
    const bool complete =
        bus_ready ? ReadConfigData(settings.code, settings.type, image)
                  : (ReportReadError(DeviceAddress(settings.code, settings.type), 0), false);
    DumpData(image);
    std::printf("\n");
    return complete;
}

int RunGpakcfg(int argc, char* argv[]) { return cli::FinishOutput(Run(argc, argv)); }
