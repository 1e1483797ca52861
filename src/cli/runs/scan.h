// --scan: the chips on a bus, found by one-byte reads, one line each in a
// layout a script can read.
#pragma once

#include "cli/runs/context.h"

namespace cli::runs {

// Takes the bus and lists the chips that answer on it. Returns the exit
// status: 0 when a chip answers, 1 when none does or the bus cannot be had.
int ScanRun(const Context& run);

}  // namespace cli::runs
