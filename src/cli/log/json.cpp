#include "cli/log/json.h"

#include <cstdint>
#include <cstdio>

#include "common/text.h"

namespace cli::log {

namespace {

void AppendEscape(std::string& out, unsigned code) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", code);
    out += escape;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        const std::size_t length = common::Utf8Length(text, at);
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

JsonObject& JsonObject::Key(std::string_view key) {
    if (text_.size() > 1) {
        text_ += ", ";
    }
    text_ += JsonString(key);
    text_ += ": ";
    return *this;
}

JsonObject& JsonObject::String(std::string_view key, std::string_view value) {
    Key(key).text_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::Number(std::string_view key, long long value) {
    Key(key).text_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Decimal(std::string_view key, double value) {
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", value);
    Key(key).text_ += number;
    return *this;
}

JsonObject& JsonObject::Bool(std::string_view key, bool value) {
    Key(key).text_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::Null(std::string_view key) {
    Key(key).text_ += "null";
    return *this;
}

JsonObject& JsonObject::StringOrNull(std::string_view key, const char* value) {
    return value != nullptr ? String(key, value) : Null(key);
}

JsonObject& JsonObject::NumberOrNull(std::string_view key, std::optional<long long> value) {
    return value ? Number(key, *value) : Null(key);
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view value) {
    Key(key).text_ += value;
    return *this;
}

}  // namespace cli::log
