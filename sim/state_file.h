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

// Writes chip to path (through a temporary file and a rename).
bool SaveStateFile(const std::string& path, const ChipState& chip, bool virtual_time,
                   std::int64_t virtual_now, std::string& error);

}  // namespace gpaksim
