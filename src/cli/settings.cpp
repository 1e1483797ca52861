#include "cli/settings.h"

#include <getopt.h>

#include <cstring>

namespace cli {

namespace {

constexpr int kSaveOption = 0x100;  // beyond every short option

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

Settings ParseSettings(int argc, char* argv[]) {
    Settings settings;
    if (argc <= 1 || std::strcmp(argv[1], "-h") == 0) {
        settings.usage = true;
        return settings;
    }
    static const option kLongOptions[] = {
        {"save", required_argument, nullptr, kSaveOption},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    optind = 0;  // getopt starts afresh, also when a process runs more than one command
    // The leading '-' makes getopt hand over other arguments as option 1
    // instead of stopping at them, so options count wherever they stand,
    // even with POSIXLY_CORRECT set.
    int opt = 0;
    while ((opt = getopt_long(argc, argv, "-w:c:t:f:", kLongOptions, nullptr)) != -1) {
        switch (opt) {
            case 'w':
                settings.write_file = optarg;
                break;
            case 'c':
                settings.code = ParseCode(optarg, settings.code);
                break;
            case 't':
                settings.type = ParseType(optarg, settings.type);
                break;
            case kSaveOption:
                settings.save_file = optarg;
                break;
            default:  // -f, arguments that are not options, unknown options
                break;
        }
    }
    return settings;
}

}  // namespace cli
