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
            error = "malformed state file " + path + " near '" + word + "'";
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

bool SaveStateFile(const std::string& path, const ChipState& chip, bool virtual_time,
                   std::int64_t virtual_now, std::string& error) {
    std::string text = "# gpak-sim chip state: 256 bytes each of registers, NVM and EEPROM\n";
    char line[128];
    if (virtual_time) {
        std::snprintf(line, sizeof line, "clock virtual %" PRId64 "\n", virtual_now);
        text += line;
    }
    std::snprintf(line, sizeof line, "busy-until %s %" PRId64 "\n", ClockName(virtual_time),
                  chip.busy_until_ns);
    text += line;
    for (const Section& s : kSections) {
        text += s.name;
        text += '\n';
        const Memory& memory = chip.*(s.memory);
        for (std::size_t row = 0; row < 16; ++row) {
            int len = std::snprintf(line, sizeof line, "%02zx:", row * 16);
            for (std::size_t col = 0; col < 16; ++col) {
                len += std::snprintf(line + len, sizeof line - static_cast<std::size_t>(len),
                                     " %02x", memory[row * 16 + col]);
            }
            text += line;
            text += '\n';
        }
    }
    const std::string temp = path + ".tmp";
    std::FILE* file = std::fopen(temp.c_str(), "w");
    if (file == nullptr) {
        error = "cannot write state file " + temp + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write state file " + temp;
        std::remove(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace state file " + path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace gpaksim
