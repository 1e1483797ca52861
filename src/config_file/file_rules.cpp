#include "config_file/file_rules.h"

#include <algorithm>
#include <cstdio>

namespace hexfile {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
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
    // A record that is not at the start of its line would be skipped as a
    // comment, and its data lost: say so instead.
    std::string_view start = line;
    if (start.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        start.remove_prefix(kByteOrderMark.size());
        if (!start.empty() && start[0] == ':') {
            return "a byte-order mark stands before the record: save the file as plain text";
        }
    }
    const std::size_t first = start.find_first_not_of(" \t");
    if (first != std::string_view::npos && first > 0 && start[first] == ':') {
        return "blanks stand before the record: a record starts at the start of its line";
    }
    return "";  // a blank line or a comment
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
            "the record's %u bytes at 0x%04X reach past byte 0x00FF: more than the 256 bytes "
            "of a chip memory (the file is for another memory or another chip)",
            static_cast<unsigned>(size), record.address);
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
            "at 0x0000 to 0x00FF",
            value, value << 4);
    }
    return Format(
        "extended linear address 0x%04X puts the data at 0x%04X0000, outside the memory at "
        "0x0000 to 0x00FF",
        value, value);
}

std::string ImageRules::Finish() const {
    if (end_ == 0) {
        return ended_ ? "no data records before the end record" : "no data records";
    }
    if (!ended_ && end_ < image_.size()) {
        return Format(
            "the file ends after %u of 256 data bytes without the end record :00000001FF, so "
            "it may be cut short; if the rest is meant to be 0x00, end it with that record",
            static_cast<unsigned>(end_));
    }
    return "";
}

}  // namespace hexfile
