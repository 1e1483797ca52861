#include "state_file.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sstream>

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

// Saved after every transfer: plain digits, no formatted output.
void AppendHex(std::string& text, std::uint8_t byte) {
    constexpr char kDigits[] = "0123456789abcdef";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
}

const char* ClockName(bool virtual_time) { return virtual_time ? "virtual" : "monotonic"; }

bool ReadMemory(std::istream& in, Memory& memory) {
    for (std::size_t row = 0; row < 16; ++row) {
        std::string label;
        if (!(in >> label) || label.size() != 3 || label[2] != ':' ||
            std::strtoul(label.c_str(), nullptr, 16) != row * 16) {
            return false;
        }
        for (std::size_t col = 0; col < 16; ++col) {
            unsigned value = 0;
            if (!(in >> std::hex >> value >> std::dec) || value > 0xFF) {
                return false;
            }
            memory[row * 16 + col] = static_cast<std::uint8_t>(value);
        }
    }
    return true;
}

}  // namespace

bool LoadStateFile(const std::string& path, ChipState& chip, bool virtual_time,
                   std::int64_t& virtual_now, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        if (errno == ENOENT) {
            return true;  // a new simulated chip
        }
        error = "cannot read state file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, n);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = "cannot read state file " + path;
        return false;
    }

    ChipState loaded = chip;
    loaded.busy_until_ns = 0;
    std::int64_t clock = 0;
    std::istringstream in(text);
    std::string word;
    int sections = 0;
    while (in >> word) {
        if (word[0] == '#') {
            std::getline(in, word);
            continue;
        }
        if (word == "clock" || word == "busy-until") {
            std::string kind;
            std::int64_t value = 0;
            if (!(in >> kind >> value)) {
                break;
            }
            const bool same_clock = kind == ClockName(virtual_time);
            if (word == "clock" && same_clock) {
                clock = value;
            } else if (word == "busy-until" && same_clock) {
                loaded.busy_until_ns = value;
            }
            continue;
        }
        const Section* section = nullptr;
        for (const Section& s : kSections) {
            if (word == s.name) {
                section = &s;
            }
        }
        if (section == nullptr || !ReadMemory(in, loaded.*(section->memory))) {
            error = "malformed state file " + path;
            error += " near '" + word + "'";
            return false;
        }
        ++sections;
    }
    if (sections != 3) {
        error = "malformed state file " + path + ": it needs registers, nvm and eeprom";
        return false;
    }
    chip = loaded;
    if (virtual_time) {
        virtual_now = clock;
    }
    return true;
}

std::string FormatState(const ChipState& chip, bool virtual_time, std::int64_t virtual_now) {
    std::string text;
    text.reserve(2600);
    text += "# gpak-sim chip state: 256 bytes each of registers, NVM and EEPROM\n";
    char line[128];
    std::snprintf(line, sizeof line, "clock %-9s %20" PRId64 "\n", ClockName(virtual_time),
                  virtual_time ? virtual_now : 0);
    text += line;
    std::snprintf(line, sizeof line, "busy-until %-9s %20" PRId64 "\n", ClockName(virtual_time),
                  chip.busy_until_ns);
    text += line;
    for (const Section& s : kSections) {
        text += s.name;
        text += '\n';
        const Memory& memory = chip.*(s.memory);
        for (std::size_t row = 0; row < 16; ++row) {
            AppendHex(text, static_cast<std::uint8_t>(row * 16));
            text += ':';
            for (std::size_t col = 0; col < 16; ++col) {
                text += ' ';
                AppendHex(text, memory[row * 16 + col]);
            }
            text += '\n';
        }
    }
    return text;
}

}  // namespace gpaksim
