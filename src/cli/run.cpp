#include <unistd.h>

#include <cstdio>
#include <cstring>

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
}

// Only the first character counts; anything else leaves the type as it was.
ConfigType ParseType(const char* arg, ConfigType type) {
    switch (arg[0]) {
        case 'r':
        case 'R':
            return kConfigReg;
        case 'n':
        case 'N':
            return kConfigNvm;
        case 'e':
        case 'E':
            return kConfigEeprom;
        default:
            return type;
    }
}

// One hex digit, 0..f; anything else leaves the code as it was.
std::uint8_t ParseCode(const char* arg, std::uint8_t code) {
    const char c = arg[0];
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return code;
}

}  // namespace

int RunGpakcfg(int argc, char* argv[]) {
    int write_requested = 0;
    const char* file_path = nullptr;
    ConfigType type = kConfigUnset;
    std::uint8_t code = 1;
    opterr = 0;
    optind = 0;  // getopt starts afresh, also when a process runs more than one command

    std::printf("GreenPAK configuration utility\n");
    std::printf("gpakcfg %s\n", GPAKCFG_VERSION);
    std::printf("\n");

    if (argc <= 1 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(argc > 0 ? argv[0] : "gpakcfg");
        return kExitOk;
    }

    // The leading '-' makes getopt hand over other arguments as option 1
    // instead of stopping at them, so options count wherever they stand,
    // even with POSIXLY_CORRECT set.
    int opt = 0;
    while ((opt = getopt(argc, argv, "-w:c:t:f:")) != -1) {
        switch (opt) {
            case 'w':
                write_requested = 1;
                file_path = optarg;
                break;
            case 'c':
                code = ParseCode(optarg, code);
                break;
            case 't':
                type = ParseType(optarg, type);
                break;
            default:  // -f, arguments that are not options, unknown options
                break;
        }
    }

    if (type == kConfigUnset) {
        std::fprintf(stderr, "Type is not specified.");
        return kExitUsage;
    }

    ConfigImage image{};
    int status = kExitOk;
    if (write_requested == 1) {
        status = WriteRun(file_path, code, type, image);
        if (status == kExitUsage) {
            return status;
        }
    }

    image.fill(0);
    PrintHeading("Chip configration data.");
    const bool complete = ReadConfigData(code, type, image);
    DumpData(image);
    std::printf("\n");
    if (!complete) {
        status = kExitFailed;
    }
    return status;
}
