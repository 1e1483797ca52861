#include "cli/set_bytes.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "common/hex_digit.h"

namespace cli {

namespace {

constexpr std::size_t kImageSize = std::tuple_size_v<ConfigImage>;

std::string_view WithoutPrefix(std::string_view digits) {
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
    }
    return digits;
}

// Bytes from pairs of hex digits; nullopt for anything else.
std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view digits) {
    if (digits.empty() || digits.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = common::HexDigitValue(digits[i]);
        const int low = common::HexDigitValue(digits[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return bytes;
}

// One or two hex digits, 0x before them allowed; -1 for anything else.
int ParseAddr(std::string_view text) {
    std::string digits(WithoutPrefix(text));
    if (digits.size() == 1) {
        digits.insert(0, "0");
    }
    const auto bytes = HexBytes(digits);
    return bytes && bytes->size() == 1 ? bytes->front() : -1;
}

}  // namespace

std::string AddByteSet(std::vector<ByteSet>& sets, const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        return "not ADDR=HEX, such as 0xF0=0001E240";
    }
    const int addr = ParseAddr(std::string_view(text).substr(0, equals));
    if (addr < 0) {
        return "ADDR is a byte address, 0x00 to 0xFF";
    }
    const std::string_view hex = WithoutPrefix(std::string_view(text).substr(equals + 1));
    const auto bytes = HexBytes(hex);
    if (!bytes || bytes->size() > kImageSize) {
        return "HEX is an even number of hex digits, 1 to 256 bytes";
    }
    ByteSet set{static_cast<std::uint8_t>(addr), *bytes, text};
    if (set.End() > kImageSize) {
        char refusal[64];
        std::snprintf(refusal, sizeof refusal, "%zu bytes from 0x%02X run past 0xFF",
                      set.bytes.size(), set.addr);
        return refusal;
    }
    sets.push_back(std::move(set));
    return "";
}

void ApplyByteSets(const std::vector<ByteSet>& sets, ConfigImage& image) {
    for (const ByteSet& set : sets) {
        std::copy(set.bytes.begin(), set.bytes.end(), image.begin() + set.addr);
    }
}

}  // namespace cli
