#include <cstdio>

#include "cli/cli.h"
#include "cli/interruption.h"
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
    hexfile::ReplaceResult saved;
    {
        // A signal meanwhile acts once the file is replaced whole or its new
        // copy removed: never leaves that copy behind.
        const cli::SignalsDeferred deferred;
        saved = hexfile::SaveConfigFile(path, image);
    }
    if (!saved.replaced) {
        std::fprintf(stderr, "gpakcfg: %s: not saved: %s\n", path.c_str(), saved.error.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
