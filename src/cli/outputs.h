// The files a run writes, settled before anything is sent: each named
// once and apart from the files the run reads and the bus, and each one
// that can be written now. A new output option is one row of the table in
// outputs.cpp.
#pragma once

#include <string>

#include "cli/settings.h"

namespace cli {

// Why the run may not write one of its output files (--save, --log), as a
// line after "gpakcfg: ", or "" when it may write them all. Opens the log
// for appending (creating it) without waiting for a FIFO's reader, and
// makes and removes a new file where --save goes; sends nothing.
std::string OutputRefusal(const Settings& settings);

}  // namespace cli
