#include "cli/skip_identical.h"

#include <cstdio>

#include "cli/run_log.h"

namespace cli {

bool HoldsAlready(const Settings& settings, ConfigImage& sent) {
    ApplyControlCode(settings.code, settings.type, sent);
    ConfigImage held{};
    const PagesResult read = ReadConfigData(settings.code, settings.type, held);
    if (!read.Ok() || held != sent) {
        return false;
    }
    std::printf(
        "Skipped: the memory at 0x%02X already holds what would be written; nothing was "
        "erased or written.\n\n",
        read.addr);
    Record().skipped = true;
    return true;
}

}  // namespace cli
