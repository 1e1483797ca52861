// The chip kept in a text file, so that every process of a simulated run,
// and the next run, see the same chip.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "chip_model.h"

namespace gpaksim {

// A state file is a few kilobytes; anything much larger is no state file.
constexpr std::size_t kStateFileLimit = std::size_t{64} * 1024;

// What the state file holds: the chip and the virtual clock.
struct SimState {
    ChipState chip = DefaultChip();
    std::int64_t virtual_now_ns = 0;
};

struct ParsedState {
    bool ok = false;
    SimState state;
    std::string error;  // what is malformed, when not ok
};

// Reads the text of a state file. Empty text is a fresh chip. The busy
// window and the clock are taken only when saved on the same kind of clock
// (virtual or monotonic) as virtual_time asks for.
ParsedState ParseState(std::string_view text, bool virtual_time);

// The file's text for state. Its length never changes, so that a simulated
// run can rewrite the file in place after every transfer.
std::string FormatState(const SimState& state, bool virtual_time);

// Loads the state file at path, for the launcher and the tests: a missing
// file is a fresh chip.
ParsedState LoadStateFile(const std::string& path, bool virtual_time);

}  // namespace gpaksim
