// The chip kept in a text file, so that every process of a simulated run,
// and the next run, see the same chip: what the file holds, and its
// reading (its writing is in state_format.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/chip_model.h"

namespace gpaksim {

// A state file holds up to this many chips.
constexpr std::size_t kMaxChips = 32;

// A state file is under 3 KiB a chip; anything much larger is no state file.
constexpr std::size_t kStateFileLimit = std::size_t{128} * 1024;

// The largest time a state file's clocks may hold, about 73 years in ns:
// far from where adding a pause to it could overflow. The virtual clock
// stops a minute short of it, so that a busy window after it stays below.
constexpr std::int64_t kClockLimitNs = INT64_MAX / 4;
constexpr std::int64_t kClockStopNs = kClockLimitNs - std::int64_t{60} * 1'000'000'000;

// What the state file holds: the chips and the virtual clock. A state of
// one chip on no bus in particular is written as a file of today's form
// (version 1); chips put on their buses by --chip, in version 2.
struct SimState {
    ChipState chip = DefaultChip();     // chip #1, the only one of a one-chip state
    std::vector<ChipState> more_chips;  // chips #2, #3 and on
    std::int64_t virtual_now_ns = 0;

    [[nodiscard]] std::size_t ChipCount() const { return 1 + more_chips.size(); }
    ChipState& ChipAt(std::size_t index) { return index == 0 ? chip : more_chips.at(index - 1); }
    [[nodiscard]] const ChipState& ChipAt(std::size_t index) const {
        return index == 0 ? chip : more_chips.at(index - 1);
    }
};

struct ParsedState {
    bool ok = false;
    SimState state;
    std::string error;  // what is malformed, when not ok
};

// Reads the text of a state file, of either version. Empty text is a fresh
// chip. The busy windows and the clock are taken only when saved on the
// same kind of clock (virtual or monotonic) as virtual_time asks for.
ParsedState ParseState(std::string_view text, bool virtual_time);

// Loads the state file at path, for the launcher and the tests: a missing
// file is a fresh chip.
ParsedState LoadStateFile(const std::string& path, bool virtual_time);

}  // namespace gpaksim
