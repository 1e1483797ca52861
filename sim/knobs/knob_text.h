// The values of the knobs as text, read and written: numbers in C syntax,
// the buses, the chips of --chip and the NACKs of --nack.
#pragma once

#include <string>
#include <vector>

#include "model/board.h"
#include "model/chip_model.h"

namespace gpaksim {

// A number of C integer syntax (0x0a, 10) from min to max; false when
// text is none.
bool ParseNumber(const std::string& text, long min, long max, long& value);

// N (0 or more) is /dev/i2c-N; anything else is a path.
std::string BusPath(const std::string& text);

// Comma-separated "[BUS:]CODE" items, added to chips: BUS a number N
// (/dev/i2c-N) or a path without commas and blanks, made absolute; CODE
// 0..15 (0x0..0xf). False with error set, at most kMaxChips chips.
bool ParseChips(const std::string& text, std::vector<ChipPlacement>& chips, std::string& error);
std::string FormatChips(const std::vector<ChipPlacement>& chips);

// Parses ADDR[:REG] (C integer syntax: 0x0a, 10). False when malformed.
bool ParseNack(const std::string& text, Nack& nack);

// Comma-separated ADDR[:REG] items, added to nacks. False with error set.
bool ParseNacks(const std::string& text, std::vector<Nack>& nacks, std::string& error);
std::string FormatNacks(const std::vector<Nack>& nacks);

}  // namespace gpaksim
