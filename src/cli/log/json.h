// JSON text for the --log line: strings escaped as JSON requires, and an
// object built one member at a time, in the order they are added.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cli::log {

// text as a JSON string, quotes included. The quote, the backslash and
// every control character are escaped; valid UTF-8 passes as it is. A byte
// that is not part of valid UTF-8 (a file name in Latin-1, say) becomes
// \udcXX, XX the byte: the escape of Python's "surrogateescape", so that
// os.fsencode() of the decoded string gives the original bytes back, and
// no valid text can be mistaken for it.
std::string JsonString(std::string_view text);

class JsonObject {
public:
    JsonObject& String(std::string_view key, std::string_view value);
    JsonObject& Number(std::string_view key, long long value);
    // value with one digit after the point.
    JsonObject& Decimal(std::string_view key, double value);
    JsonObject& Bool(std::string_view key, bool value);
    JsonObject& Null(std::string_view key);
    // value, or null when there is none.
    JsonObject& StringOrNull(std::string_view key, const char* value);
    JsonObject& NumberOrNull(std::string_view key, std::optional<long long> value);
    // value is JSON already: an array, an object.
    JsonObject& Raw(std::string_view key, std::string_view value);

    // The object, on one line.
    [[nodiscard]] std::string Text() const { return text_ + "}"; }

private:
    JsonObject& Key(std::string_view key);

    std::string text_ = "{";
};

}  // namespace cli::log
