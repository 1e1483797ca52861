// The parts of a state file's text, shared by its reader and its writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/chip_model.h"

namespace gpaksim::state_text {

struct Section {
    const char* name;
    Memory ChipState::*memory;
};

inline constexpr Section kSections[] = {
    {"registers", &ChipState::registers},
    {"nvm", &ChipState::nvm},
    {"eeprom", &ChipState::eeprom},
};

// The blocks whose register pointers the "pointers" line holds, in order.
inline constexpr Block kPointerBlocks[] = {kRegisters, kNvm, kEeprom};

// The version a file without a "version" line has: one chip, on the bus of
// --bus; and the one of chips placed on their buses.
constexpr unsigned kOneChipVersion = 1;
constexpr unsigned kChipsVersion = 2;

inline const char* ClockName(bool virtual_time) { return virtual_time ? "virtual" : "monotonic"; }

// Words of the text, '#' comments skipped. Parsed after every transfer, so
// by hand rather than with streams.
class Words {
public:
    explicit Words(std::string_view text) : text_(text) {}

    // The next word; empty at the end.
    std::string_view Next();

    bool Hex(unsigned long long max, unsigned long long& value) {
        return Number(Next(), 16, max, value);
    }

    // A number in base of at most max; false when word is none.
    static bool Number(std::string_view word, int base, unsigned long long max,
                       unsigned long long& value);

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// The 16 rows of a memory's section.
bool ReadMemory(Words& words, Memory& memory);

// "clock KIND N" and "busy-until KIND N" after their names: same_clock when
// KIND is the clock virtual_time asks for.
bool ReadClock(Words& words, bool virtual_time, bool& same_clock, std::int64_t& value);

}  // namespace gpaksim::state_text
