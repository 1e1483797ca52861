#include <cstdio>

#include "cli/cli.h"

#ifndef GPAKCFG_VERSION
#define GPAKCFG_VERSION "unknown"
#endif

namespace {

void PrintUsage(const char* program) {
    std::printf("Usage: %s [-t TYPE] [-w FILE] [-c CODE] \n", program);
    std::printf(" -t is config type, TYPE is {reg|nvm|eeprom}.\n");
    std::printf(" -w is write operation, FILE is configration file path..\n");
    std::printf(" -c control code, CODE is {0..f}. Default is 1.\n");
    std::printf(" --save FILE writes the memory read back to FILE as a hex record file.\n");
}

}  // namespace

int RunGpakcfg(int argc, char* argv[]) {
    std::printf("GreenPAK configuration utility\n");
    std::printf("gpakcfg %s\n", GPAKCFG_VERSION);
    std::printf("\n");

    const cli::Settings settings = cli::ParseSettings(argc, argv);
    if (settings.usage) {
        PrintUsage(argc > 0 ? argv[0] : "gpakcfg");
        return kExitOk;
    }
    if (settings.type == kConfigUnset) {
        std::fprintf(stderr, "Type is not specified.");
        return kExitUsage;
    }

    ConfigImage image{};
    int status = kExitOk;
    if (settings.write_file) {
        status = WriteRun(settings, image);
        if (status == kExitUsage) {
            return status;
        }
    }

    image.fill(0);
    PrintHeading("Chip configration data.");
    const bool complete = ReadConfigData(settings.code, settings.type, image);
    DumpData(image);
    std::printf("\n");
    if (!complete) {
        status = kExitFailed;
    }
    if (settings.save_file && SaveRun(settings, complete, image) != kExitOk) {
        status = kExitFailed;
    }
    return status;
}
