#include "cli/runs/save.h"

#include "cli/interruption.h"
#include "cli/say.h"
#include "cli/status.h"
#include "config_file/save.h"

namespace cli::runs {

int SaveRun(const Context& run, bool complete, const ConfigImage& image) {
    const std::string& path = *run.settings.save_file;
    // A backup with zeros for the pages not read would program back as
    // a configuration the chip never held.
    if (!complete) {
        Say("%s: not saved: the read-back did not read all 16 pages; the file is left as it was",
            path.c_str());
        return kExitFailed;
    }
    hexfile::ReplaceResult saved;
    {
        // A signal meanwhile acts once the file is replaced whole or its new
        // copy removed: never leaves that copy behind.
        const SignalsDeferred deferred;
        saved = hexfile::SaveConfigFile(path, image);
    }
    if (!saved.replaced) {
        Say("%s: not saved: %s", path.c_str(), saved.error.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace cli::runs
