#include "knobs/knob_text.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace gpaksim {

namespace {

// A bus as the programs of the run see it wherever they run: absolute.
bool AbsoluteBus(const std::string& text, std::string& bus, std::string& error) {
    bus = BusPath(text);
    if (bus.find_first_of(", \t\n") != std::string::npos) {
        error = "a bus with a comma or a blank: '" + text + "'";
        return false;
    }
    if (bus[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) {
            error = "cannot tell the working directory for '" + text + "'";
            return false;
        }
        bus = std::string(cwd) + "/" + bus;
    }
    return true;
}

bool ParseChip(const std::string& text, ChipPlacement& chip, std::string& error) {
    const std::size_t colon = text.rfind(':');
    const std::string code = colon == std::string::npos ? text : text.substr(colon + 1);
    long value = 0;
    if (!ParseNumber(code, 0, 15, value)) {
        error = "invalid control code '" + code + "' in '" + text + "' ([BUS:]CODE, CODE 0..15)";
        return false;
    }
    chip.code = static_cast<std::uint8_t>(value);
    if (colon == std::string::npos) {
        return true;
    }
    if (colon == 0) {
        error = "an empty bus in '" + text + "' ([BUS:]CODE)";
        return false;
    }
    return AbsoluteBus(text.substr(0, colon), chip.bus, error);
}

}  // namespace

bool ParseNumber(const std::string& text, long min, long max, long& value) {
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtol(s, &end, 0);
    return end != s && *end == '\0' && errno == 0 && value >= min && value <= max;
}

std::string BusPath(const std::string& text) {
    long number = 0;
    if (text.find_first_not_of("0123456789") == std::string::npos &&
        ParseNumber(text, 0, 0xFFFFF, number)) {
        return "/dev/i2c-" + std::to_string(number);
    }
    return text;
}

bool ParseChips(const std::string& text, std::vector<ChipPlacement>& chips, std::string& error) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        ChipPlacement chip;
        if (!ParseChip(text.substr(start, comma - start), chip, error)) {
            return false;
        }
        if (chips.size() == kMaxChips) {
            error = "more than " + std::to_string(kMaxChips) + " chips";
            return false;
        }
        chips.push_back(chip);
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

std::string FormatChips(const std::vector<ChipPlacement>& chips) {
    std::string text;
    for (const ChipPlacement& chip : chips) {
        text += text.empty() ? "" : ",";
        text += chip.bus.empty() ? "" : chip.bus + ":";
        text += std::to_string(chip.code);
    }
    return text;
}

bool ParseNack(const std::string& text, Nack& nack) {
    const std::size_t colon = text.find(':');
    long addr = 0;
    long reg = -1;
    if (!ParseNumber(text.substr(0, colon), 0, 0x7F, addr) ||
        (colon != std::string::npos && !ParseNumber(text.substr(colon + 1), 0, 0xFF, reg))) {
        return false;
    }
    nack.addr = static_cast<std::uint8_t>(addr);
    nack.reg = static_cast<int>(reg);
    return true;
}

bool ParseNacks(const std::string& text, std::vector<Nack>& nacks, std::string& error) {
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        Nack nack;
        if (!ParseNack(item, nack)) {
            error = "invalid NACK '" + item + "' (ADDR[:REG])";
            return false;
        }
        nacks.push_back(nack);
    }
    return true;
}

std::string FormatNacks(const std::vector<Nack>& nacks) {
    std::string text;
    for (const Nack& nack : nacks) {
        char item[16];
        if (nack.reg < 0) {
            std::snprintf(item, sizeof item, "0x%02x", nack.addr);
        } else {
            std::snprintf(item, sizeof item, "0x%02x:0x%02x", nack.addr, nack.reg);
        }
        text += (text.empty() ? "" : ",") + std::string(item);
    }
    return text;
}

}  // namespace gpaksim
