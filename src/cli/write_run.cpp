#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "config_file/config_file.h"

int WriteRun(const char* path, std::uint8_t code, ConfigType type, ConfigImage& image) {
    int records = 0;
    const int result = ReadConfigFile(path, image, records);
    // Nothing reaches the chip before the file is known to be usable: an
    // erase of the NVM costs a program cycle and the user's configuration.
    if (result == 0) {
        std::fprintf(stderr, "Config file open error: %s\n", std::strerror(errno));
        return kExitUsage;
    }
    if (result < 0) {
        std::fprintf(stderr, "Config file read error: %s\n", std::strerror(errno));
        return kExitUsage;
    }
    if (records == 0) {
        std::fprintf(stderr, "Config file has no data records.\n");
        return kExitUsage;
    }

    PrintHeading("Configration file.");
    DumpData(image);
    std::printf("\n");

    if (type != kConfigReg) {
        PrintHeading("Erase chip configration.");
        EraseConfigData(code, type);
        std::printf("\n");
    }

    PrintHeading("Write configration data.");
    const bool written = WriteConfigData(code, type, image);
    std::printf("\n");
    return written ? kExitOk : kExitFailed;
}
