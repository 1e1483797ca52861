#include "model/state_text.h"

#include <charconv>
#include <system_error>

namespace gpaksim::state_text {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::string_view Words::Next() {
    for (;;) {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) {
            ++pos_;
        }
        if (pos_ < text_.size() && text_[pos_] == '#') {
            while (pos_ < text_.size() && text_[pos_] != '\n') {
                ++pos_;
            }
            continue;
        }
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !IsSpace(text_[pos_])) {
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }
}

bool Words::Number(std::string_view word, int base, unsigned long long max,
                   unsigned long long& value) {
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value, base);
    return !word.empty() && stop == end && error == std::errc() && value <= max;
}

bool ReadMemory(Words& words, Memory& memory) {
    for (std::size_t row = 0; row < 16; ++row) {
        const std::string_view label = words.Next();
        unsigned long long offset = 0;
        if (label.size() != 3 || label[2] != ':' ||
            !Words::Number(label.substr(0, 2), 16, 0xFF, offset) || offset != row * 16) {
            return false;
        }
        for (std::size_t col = 0; col < 16; ++col) {
            unsigned long long value = 0;
            if (!words.Hex(0xFF, value)) {
                return false;
            }
            memory[row * 16 + col] = static_cast<std::uint8_t>(value);
        }
    }
    return true;
}

bool ReadClock(Words& words, bool virtual_time, bool& same_clock, std::int64_t& value) {
    const std::string_view kind = words.Next();
    unsigned long long number = 0;
    if ((kind != "virtual" && kind != "monotonic") ||
        !Words::Number(words.Next(), 10, INT64_MAX, number)) {
        return false;
    }
    same_clock = kind == ClockName(virtual_time);
    value = static_cast<std::int64_t>(number);
    return true;
}

}  // namespace gpaksim::state_text
