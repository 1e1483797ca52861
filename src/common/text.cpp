#include "common/text.h"

#include <cstdint>
#include <cstdio>

namespace common {

namespace {

bool IsShellSafe(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_./+,:@-").find(c) != std::string_view::npos;
}

}  // namespace

std::string ShellWord(std::string_view word) {
    if (word.empty()) {
        return "''";
    }
    std::string quoted = word[0] == '-' ? "./" : "";
    bool safe = true;
    for (const char c : word) {
        safe = safe && IsShellSafe(c);
    }
    if (safe) {
        return quoted.append(word);
    }
    bool open = false;  // within single quotes
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "$'\\%03o'", byte);
            quoted += open ? "'" : "";
            quoted += escaped;
            open = false;
            continue;
        }
        quoted += open ? "" : "'";
        quoted += c == '\'' ? "'\\''" : std::string(1, c);
        open = true;
    }
    return open ? quoted + "'" : quoted;
}

std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&text](std::size_t i) {
        return i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
    };
    const std::uint8_t lead = byte(at);
    // The second byte's range, which rules out the forms that are not allowed.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    std::size_t length = 0;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace common
