#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "config_file/config_file.h"
#include "config_file/save.h"

int WriteRun(const cli::Settings& settings, ConfigImage& image) {
    const ConfigFileResult file = ReadConfigFile(*settings.write_file, image);
    // Nothing reaches the chip before the file is known to be usable: an
    // erase of the NVM costs a program cycle and the user's configuration.
    switch (file.status) {
        case ConfigFileStatus::kRead:
            break;
        case ConfigFileStatus::kOpenFailed:
            std::fprintf(stderr, "Config file open error: %s\n", std::strerror(file.error_number));
            return kExitUsage;
        case ConfigFileStatus::kReadFailed:
            std::fprintf(stderr, "Config file read error: %s\n", std::strerror(file.error_number));
            return kExitUsage;
        case ConfigFileStatus::kRefused:
            std::fprintf(stderr, "gpakcfg: %s\n", file.refusal.c_str());
            return kExitUsage;
    }

    PrintHeading("Configration file.");
    DumpData(image);
    std::printf("\n");

    if (settings.type != kConfigReg) {
        PrintHeading("Erase chip configration.");
        EraseConfigData(settings.code, settings.type);
        std::printf("\n");
    }

    PrintHeading("Write configration data.");
    const bool written = WriteConfigData(settings.code, settings.type, image);
    std::printf("\n");
    return written ? kExitOk : kExitFailed;
}

int SaveRun(const cli::Settings& settings, bool complete, const ConfigImage& image) {
    const std::string& path = *settings.save_file;
    // A backup with zeros for the pages not read would program back as
    // a configuration the chip never held.
    if (!complete) {
        std::fprintf(stderr,
                     "gpakcfg: %s: not saved: the read-back did not read all 16 pages; "
                     "the file is left as it was\n",
                     path.c_str());
        return kExitFailed;
    }
    const hexfile::ReplaceResult saved = hexfile::SaveConfigFile(path, image);
    if (!saved.replaced) {
        std::fprintf(stderr, "gpakcfg: %s: not saved: %s\n", path.c_str(), saved.error.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
