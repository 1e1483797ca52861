// --set ADDR=HEX: bytes of the command line in place of the file's, for
// what differs from board to board (a serial number, a calibration value).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chip/chip.h"

namespace cli {

struct ByteSet {
    std::uint8_t addr = 0;            // where the first byte goes
    std::vector<std::uint8_t> bytes;  // 1 to 256, not past 0xFF
    std::string text;                 // ADDR=HEX as given

    // Just past the last byte.
    [[nodiscard]] std::size_t End() const { return addr + bytes.size(); }
};

// Takes one ADDR=HEX into sets (the rules of --set with other options are
// in together.cpp): ADDR is one or two hex digits, 0x before
// them allowed; HEX an even number of hex digits (0x before them allowed),
// 1 to 256 bytes that end at 0xFF at the latest. Returns why it is
// refused, or "" when taken.
std::string AddByteSet(std::vector<ByteSet>& sets, const std::string& text);

// Puts each set's bytes into image.
void ApplyByteSets(const std::vector<ByteSet>& sets, ConfigImage& image);

}  // namespace cli
