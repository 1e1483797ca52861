// The chip's memories kept in a text file between runs, so that one run can
// program the simulated chip and the next one read it.
#pragma once

#include <string>

#include "chip_model.h"

namespace gpaksim {

// Loads chip from path; a missing file leaves chip as it is. The busy
// window is kept only when it was saved on the same kind of clock;
// virtual_now receives the saved virtual clock. False with error set when
// the file is unreadable or malformed.
bool LoadStateFile(const std::string& path, ChipState& chip, bool virtual_time,
                   std::int64_t& virtual_now, std::string& error);

// The file's text for chip. Its length never changes, so that a simulated
// run can rewrite the file in place after every transfer at little cost.
std::string FormatState(const ChipState& chip, bool virtual_time, std::int64_t virtual_now);

}  // namespace gpaksim
