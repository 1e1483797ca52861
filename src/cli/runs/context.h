// What every run is given: its settings, the stream its lines go to and
// the record the --log line is made from.
#pragma once

#include <cstdio>

#include "cli/log/record.h"
#include "cli/settings.h"

namespace cli::runs {

struct Context {
    const Settings& settings;
    std::FILE* out;          // standard output as the run has it (nowhere with -q)
    log::RunRecord& record;  // filled as the run goes
};

}  // namespace cli::runs
