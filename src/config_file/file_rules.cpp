#include "config_file/file_rules.h"

#include <algorithm>

#include "common/hex_digit.h"

namespace hexfile {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr unsigned kBytes = std::tuple_size_v<ConfigImage>;  // of a chip memory

struct NamedCharacter {
    std::string_view bytes;
    const char* name;
};

// Characters an editor shows as nothing, or as a blank.
constexpr NamedCharacter kUnseen[] = {
    {"\f", "a form feed"},
    {"\v", "a vertical tab"},
    {"\xC2\xA0", "a no-break space (C2 A0)"},
    {"\xE2\x80\x8B", "a zero-width space (E2 80 8B)"},
    {"\xE2\x80\x8C", "a zero-width non-joiner (E2 80 8C)"},
    {"\xE2\x80\x8D", "a zero-width joiner (E2 80 8D)"},
    {"\xE2\x80\xAF", "a narrow no-break space (E2 80 AF)"},
    {"\xE2\x81\xA0", "a word joiner (E2 81 A0)"},
    {"\xEF\xBB\xBF", "a byte-order mark (EF BB BF)"},
};

// What the character at the start of text is called in a message.
std::string NameOf(std::string_view text) {
    for (const NamedCharacter& c : kUnseen) {
        if (text.substr(0, c.bytes.size()) == c.bytes) {
            return c.name;
        }
    }
    const auto byte = static_cast<unsigned char>(text[0]);
    return Format(byte > 0x20 && byte < 0x7F ? "'%c'" : "byte 0x%02X", byte);
}

// Whether a line is nothing but the hex digits of a record, blanks around
// them allowed: a record whose ':' was lost, not a comment.
bool IsRecordWithoutColon(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return false;
    }
    const std::string_view digits = line.substr(first, line.find_last_not_of(" \t") + 1 - first);
    return digits.size() >= 10 && std::all_of(digits.begin(), digits.end(),
                                              [](char c) { return common::HexDigitValue(c) >= 0; });
}

}  // namespace

std::string ImageRules::TakeLine(std::string_view line) {
    const std::size_t nul = line.find('\0');
    if (nul != std::string_view::npos) {
        return Format("a NUL byte at column %u: this is not a text file",
                      static_cast<unsigned>(nul + 1));
    }
    if (!line.empty() && line[0] == ':') {
        ParsedRecord parsed = ParseRecord(line);
        return parsed.record ? Take(*parsed.record) : parsed.error;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        // A blank line or a comment, unless it holds a record but its ':'.
        return IsRecordWithoutColon(line) ? "a record without its ':'" : "";
    }
    // A record behind a character the eye does not see would be skipped
    // as a comment, and its data lost: a ':' anywhere else is refused.
    const std::string_view before = line.substr(0, colon);
    if (before == kByteOrderMark) {
        return "a byte-order mark stands before the record: save the file as plain text";
    }
    const std::size_t first = before.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return "blanks stand before the record: a record starts at the start of its line";
    }
    return NameOf(before.substr(first)) +
           Format(
               " at column %u stands before the ':' at column %u: a record starts at the "
               "first character of its line, and a comment holds no ':'",
               static_cast<unsigned>(first + 1), static_cast<unsigned>(colon + 1));
}

std::string ImageRules::Take(const Record& record) {
    switch (record.type) {
        case RecordType::kData:
            return TakeData(record);
        case RecordType::kEndOfFile:
            ended_ = true;
            return "";
        case RecordType::kExtendedSegmentAddress:
        case RecordType::kExtendedLinearAddress:
            return TakeExtendedAddress(record);
        case RecordType::kStartSegmentAddress:
        case RecordType::kStartLinearAddress:
            if (start_address_) {
                return "a second start address record";
            }
            start_address_ = true;
            return "";
    }
    return "";
}

std::string ImageRules::TakeData(const Record& record) {
    // The image has always been filled in file order; a file whose own
    // addresses say otherwise is ambiguous.
    if (record.address != end_) {
        if (end_ == 0) {
            return Format("the first data record loads at 0x%04X, not at 0x0000", record.address);
        }
        return Format(
            "the record loads at 0x%04X, but the data before it ends at 0x%04X: records "
            "must follow one another from 0x0000, without gaps or overlaps",
            record.address, static_cast<unsigned>(end_));
    }
    const std::size_t size = record.data.size();
    if (end_ + size > image_.size()) {
        return Format(
            "the record's %u bytes at 0x%04X reach past byte 0x%04X: more than the %u bytes "
            "of a chip memory (the file is for another memory or another chip)",
            static_cast<unsigned>(size), record.address, kBytes - 1, kBytes);
    }
    std::copy(record.data.begin(), record.data.end(),
              image_.begin() + static_cast<std::ptrdiff_t>(end_));
    end_ += size;
    ++data_records_;
    return "";
}

std::string ImageRules::TakeExtendedAddress(const Record& record) {
    if (record.data.size() != 2) {
        return "an extended address record holds 2 bytes";
    }
    const unsigned value = static_cast<unsigned>(record.data[0]) << 8 | record.data[1];
    if (value == 0) {
        return "";
    }
    if (record.type == RecordType::kExtendedSegmentAddress) {
        return Format(
            "extended segment address 0x%04X puts the data at 0x%05X, outside the memory "
            "at 0x0000 to 0x%04X",
            value, value << 4, kBytes - 1);
    }
    return Format(
        "extended linear address 0x%04X puts the data at 0x%04X0000, outside the memory at "
        "0x0000 to 0x%04X",
        value, value, kBytes - 1);
}

std::string ImageRules::Finish() const {
    if (end_ == 0) {
        return ended_ ? "no data records before the end record" : "no data records";
    }
    if (!ended_ && end_ < image_.size()) {
        return Format(
            "the file ends after %u of %u data bytes without the end record :00000001FF, so "
            "it may be cut short; if the rest is meant to be 0x00, end it with that record",
            static_cast<unsigned>(end_), kBytes);
    }
    return "";
}

}  // namespace hexfile
