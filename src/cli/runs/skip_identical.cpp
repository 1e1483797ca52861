#include "cli/runs/skip_identical.h"

namespace cli::runs {

bool HoldsAlready(const Context& run, ConfigImage& sent) {
    const Settings& settings = run.settings;
    ApplyControlCode(settings.code, settings.type, sent);
    ConfigImage held{};
    const PagesResult read = ReadConfigData(settings.code, settings.type, held);
    if (!read.Ok() || held != sent) {
        return false;
    }
    std::fprintf(run.out,
                 "Skipped: the memory at 0x%02X already holds what would be written; nothing was "
                 "erased or written.\n\n",
                 read.addr);
    run.record.skipped = true;
    return true;
}

}  // namespace cli::runs
