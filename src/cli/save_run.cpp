#include <cstdio>

#include "cli/cli.h"
#include "config_file/save.h"

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
