// The text of a state file written from the state: every item that
// ParseState (state_file.h) reads, in a layout of fixed widths.
#pragma once

#include <string>

#include "model/state_file.h"

namespace gpaksim {

// The file's text for state. Its length changes only with the chips and
// their buses, so that a simulated run rewrites the file in place after
// every transfer.
std::string FormatState(const SimState& state, bool virtual_time);

}  // namespace gpaksim
