#include "state_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "raw_io.h"

namespace gpaksim {

namespace {

struct Section {
    const char* name;
    Memory ChipState::*memory;
};

constexpr Section kSections[] = {
    {"registers", &ChipState::registers},
    {"nvm", &ChipState::nvm},
    {"eeprom", &ChipState::eeprom},
};

// The blocks whose register pointers the "pointers" line holds, in order.
constexpr Block kPointerBlocks[] = {kRegisters, kNvm, kEeprom};

const char* ClockName(bool virtual_time) { return virtual_time ? "virtual" : "monotonic"; }

// Words of the text, '#' comments skipped. Parsed after every transfer, so
// by hand rather than with streams.
class Words {
public:
    explicit Words(std::string_view text) : text_(text) {}

    // The next word; empty at the end.
    std::string_view Next() {
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

    bool Hex(unsigned long long max, unsigned long long& value) {
        return Number(Next(), 16, max, value);
    }

    static bool Number(std::string_view word, int base, unsigned long long max,
                       unsigned long long& value) {
        if (word.empty() || word.size() > 20) {
            return false;
        }
        value = 0;
        for (const char c : word) {
            const int digit = DigitValue(c);
            if (digit < 0 || digit >= base) {
                return false;
            }
            value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
            if (value > max) {
                return false;
            }
        }
        return true;
    }

private:
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    static int DigitValue(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

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

// "clock KIND N" and "busy-until KIND N": taken on the same kind of clock.
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

}  // namespace

ParsedState ParseState(std::string_view text, bool virtual_time) {
    ParsedState parsed;
    ChipState& chip = parsed.state.chip;
    chip.busy_until_ns = 0;
    Words words(text);
    int sections = 0;
    for (std::string_view word = words.Next(); !word.empty(); word = words.Next()) {
        bool same_clock = false;
        std::int64_t value = 0;
        bool ok = true;
        if (word == "clock" || word == "busy-until") {
            ok = ReadClock(words, virtual_time, same_clock, value);
            if (ok && same_clock) {
                (word == "clock" ? parsed.state.virtual_now_ns : chip.busy_until_ns) = value;
            }
        } else if (word == "pointers") {
            for (const Block block : kPointerBlocks) {
                unsigned long long pointer = 0;
                ok = ok && words.Hex(0xFF, pointer);
                chip.pointers[block] = static_cast<std::uint8_t>(pointer);
            }
        } else {
            const Section* section = nullptr;
            for (const Section& s : kSections) {
                if (word == s.name) {
                    section = &s;
                }
            }
            ok = section != nullptr && ReadMemory(words, chip.*(section->memory));
            sections += ok ? 1 : 0;
        }
        if (!ok) {
            parsed.error = "malformed near '" + std::string(word) + "'";
            return parsed;
        }
    }
    if (sections != 3 &&
        !(sections == 0 && text.find_first_not_of(" \t\r\n") == std::string_view::npos)) {
        parsed.error = "it needs registers, nvm and eeprom";
        return parsed;
    }
    if (!virtual_time) {
        parsed.state.virtual_now_ns = 0;
    }
    parsed.ok = true;
    return parsed;
}

namespace {

// Written after every transfer: into a buffer of the final size, without
// formatted output.
class Writer {
public:
    explicit Writer(std::size_t size) { text_.resize(size); }
    void Text(std::string_view text) {
        text.copy(&text_[at_], text.size());
        at_ += text.size();
    }
    void Char(char c) { text_[at_++] = c; }
    void Hex(std::uint8_t byte) {
        constexpr char kDigits[] = "0123456789abcdef";
        Char(kDigits[byte >> 4]);
        Char(kDigits[byte & 0x0F]);
    }
    // A field of width characters: name, blanks, then the number.
    void Field(std::string_view name, std::size_t width, std::int64_t value) {
        char digits[24];
        std::size_t n = 0;
        auto v = static_cast<std::uint64_t>(value < 0 ? 0 : value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        Text(name);
        for (std::size_t pad = name.size() + n; pad < width; ++pad) {
            Char(' ');
        }
        while (n > 0) {
            Char(digits[--n]);
        }
    }
    std::string Take() {
        text_.resize(at_);
        return std::move(text_);
    }

private:
    std::string text_;
    std::size_t at_ = 0;
};

}  // namespace

std::string FormatState(const SimState& state, bool virtual_time) {
    const ChipState& chip = state.chip;
    constexpr std::string_view kHeader =
        "# gpak-sim chip state: 256 bytes each of registers, NVM and EEPROM\n";
    // The two clock lines, the pointers line, and three sections of a name
    // line and 16 rows of 52 characters.
    constexpr std::size_t kBodyBytes = std::size_t{2} * 41 + 20 + std::size_t{3} * (16 + 16 * 52);
    Writer out(kHeader.size() + kBodyBytes);
    out.Text(kHeader);
    const std::string_view clock = virtual_time ? "virtual  " : "monotonic";
    out.Text("clock ");
    out.Field(clock, 30, virtual_time ? state.virtual_now_ns : 0);
    out.Char('\n');
    out.Text("busy-until ");
    out.Field(clock, 30, chip.busy_until_ns);
    out.Char('\n');
    out.Text("pointers");
    for (const Block block : kPointerBlocks) {
        out.Char(' ');
        out.Hex(chip.pointers[block]);
    }
    out.Char('\n');
    for (const Section& s : kSections) {
        out.Text(s.name);
        out.Char('\n');
        const Memory& memory = chip.*(s.memory);
        for (std::size_t row = 0; row < 16; ++row) {
            out.Hex(static_cast<std::uint8_t>(row * 16));
            out.Char(':');
            for (std::size_t col = 0; col < 16; ++col) {
                out.Char(' ');
                out.Hex(memory[row * 16 + col]);
            }
            out.Char('\n');
        }
    }
    return out.Take();
}

ParsedState LoadStateFile(const std::string& path, bool virtual_time) {
    const int fd = raw::Open(path.c_str(), O_RDONLY);
    if (fd < 0 && errno == ENOENT) {
        return ParseState("", virtual_time);
    }
    std::string text;
    const bool read = fd >= 0 && raw::ReadWhole(fd, text, kStateFileLimit + 1);
    const int error = errno;
    raw::Close(fd);
    if (!read) {
        ParsedState failed;
        failed.error = std::string("cannot read it: ") + std::strerror(error);
        return failed;
    }
    if (text.size() > kStateFileLimit) {
        ParsedState failed;
        failed.error = "it is larger than a state file can be";
        return failed;
    }
    return ParseState(text, virtual_time);
}

}  // namespace gpaksim
