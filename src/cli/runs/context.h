// What every run is given: its settings, the stream its lines go to and
// the record the --log line is made from.
//
// src/cli/runs/ holds the runs, each a function of this context: read.cpp
// the read run, --verify, the read-back section and --save; write.cpp the
// write run with --skip-identical; scan.cpp --scan; chip_ready.cpp the
// one-byte reads before the erase and --new-code; bus.cpp the bus taken
// and what stands in its way; report.cpp the words for what the chip
// operations return.
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
