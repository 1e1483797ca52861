#include "cli/json.h"

#include <cstdint>
#include <cstdio>

namespace json {

namespace {

// The length of the valid UTF-8 sequence that starts at text[at] (1 to 4),
// or 0 when none does: no overlong forms, no surrogates, nothing past
// U+10FFFF.
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

void AppendEscape(std::string& out, unsigned code) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", code);
    out += escape;
}

}  // namespace

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        const std::size_t length = Utf8Length(text, at);
        if (length == 0) {
            AppendEscape(out, 0xDC00U | byte);
        } else if (length > 1) {
            out.append(text.substr(at, length));
        } else if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte < 0x20) {
            AppendEscape(out, byte);
        } else {
            out += static_cast<char>(byte);
        }
        at += length == 0 ? 1 : length;
    }
    return out + "\"";
}

Object& Object::Key(std::string_view key) {
    if (text_.size() > 1) {
        text_ += ", ";
    }
    text_ += Quote(key);
    text_ += ": ";
    return *this;
}

Object& Object::String(std::string_view key, std::string_view value) {
    Key(key).text_ += Quote(value);
    return *this;
}

Object& Object::Number(std::string_view key, long long value) {
    Key(key).text_ += std::to_string(value);
    return *this;
}

Object& Object::Decimal(std::string_view key, double value) {
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", value);
    Key(key).text_ += number;
    return *this;
}

Object& Object::Bool(std::string_view key, bool value) {
    Key(key).text_ += value ? "true" : "false";
    return *this;
}

Object& Object::Null(std::string_view key) {
    Key(key).text_ += "null";
    return *this;
}

Object& Object::StringOrNull(std::string_view key, const char* value) {
    return value != nullptr ? String(key, value) : Null(key);
}

Object& Object::NumberOrNull(std::string_view key, std::optional<long long> value) {
    return value ? Number(key, *value) : Null(key);
}

Object& Object::Raw(std::string_view key, std::string_view value) {
    Key(key).text_ += value;
    return *this;
}

}  // namespace json
