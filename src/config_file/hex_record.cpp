#include "config_file/hex_record.h"

#include <cstdio>
#include <utility>

#include "common/hex_digit.h"

namespace hexfile {

namespace {

// Byte count, address (2), type and checksum.
constexpr std::size_t kFrameBytes = 5;

using common::HexDigitValue;

// The sum of a record's bytes, its checksum among them, is 0 modulo 256.
unsigned Checksum(const std::vector<std::uint8_t>& bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return (0x100 - (sum & 0xFF)) & 0xFF;
}

// What a character that is not a hex digit is called in a message.
std::string Describe(char c, std::size_t column) {
    const auto byte = static_cast<unsigned char>(c);
    const auto at = static_cast<unsigned>(column);
    if (byte == 0) {
        return Format("a NUL byte at column %u: this is not a text file", at);
    }
    if (byte > 0x20 && byte < 0x7F) {
        return Format("'%c' at column %u is not a hex digit", byte, at);
    }
    return Format("byte 0x%02X at column %u is not a hex digit", byte, at);
}

std::string_view WithoutTrailingBlanks(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    return line;
}

const char* RecordName(RecordType type) {
    switch (type) {
        case RecordType::kData:
            return "a data record";
        case RecordType::kEndOfFile:
            return "an end record";
        case RecordType::kExtendedSegmentAddress:
            return "an extended segment address record";
        case RecordType::kStartSegmentAddress:
            return "a start segment address record";
        case RecordType::kExtendedLinearAddress:
            return "an extended linear address record";
        case RecordType::kStartLinearAddress:
            return "a start linear address record";
    }
    return "a record";
}

// The byte count and address field each type must have; "" when it has them.
std::string CheckShape(const Record& record) {
    const auto count = static_cast<unsigned>(record.data.size());
    unsigned expected = 0;
    switch (record.type) {
        case RecordType::kData:
            return "";
        case RecordType::kEndOfFile:
            break;
        case RecordType::kExtendedSegmentAddress:
        case RecordType::kExtendedLinearAddress:
            expected = 2;
            break;
        case RecordType::kStartSegmentAddress:
        case RecordType::kStartLinearAddress:
            expected = 4;
            break;
    }
    const std::string name = RecordName(record.type);
    if (count != expected) {
        return name + Format(" has the byte count %02X, this one %02X", expected, count);
    }
    if (record.address != 0 && record.type != RecordType::kEndOfFile) {
        return name + Format(" has the address field 0000, this one %04X", record.address);
    }
    return "";
}

}  // namespace

std::string Format(const char* format, unsigned a, unsigned b, unsigned c, unsigned d) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

ParsedRecord ParseRecord(std::string_view line) {
    line = WithoutTrailingBlanks(line);
    if (line.empty() || line[0] != ':') {
        return {std::nullopt, "a record starts with ':'"};
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(line.size() / 2);
    for (std::size_t i = 1; i < line.size(); i += 2) {
        const int high = HexDigitValue(line[i]);
        if (high < 0) {
            return {std::nullopt, Describe(line[i], i + 1)};
        }
        if (i + 1 == line.size()) {
            return {std::nullopt, Format("the record has an odd number of hex digits (%u)",
                                         static_cast<unsigned>(line.size() - 1))};
        }
        const int low = HexDigitValue(line[i + 1]);
        if (low < 0) {
            return {std::nullopt, Describe(line[i + 1], i + 2)};
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    if (bytes.size() < kFrameBytes) {
        return {std::nullopt,
                Format("the record is too short: %u hex digits, at least 10 are needed",
                       static_cast<unsigned>(line.size() - 1))};
    }
    const std::size_t count = bytes[0];
    if (bytes.size() != count + kFrameBytes) {
        return {std::nullopt, Format("the byte count says %u data bytes, the record holds %u",
                                     static_cast<unsigned>(count),
                                     static_cast<unsigned>(bytes.size() - kFrameBytes))};
    }
    const unsigned checksum = Checksum(bytes, bytes.size() - 1);
    if (checksum != bytes.back()) {
        return {std::nullopt,
                Format("checksum is 0x%02X, the record says 0x%02X", checksum, bytes.back())};
    }
    if (bytes[3] > static_cast<std::uint8_t>(RecordType::kStartLinearAddress)) {
        return {std::nullopt, Format("unknown record type 0x%02X", bytes[3])};
    }
    Record record;
    record.type = static_cast<RecordType>(bytes[3]);
    record.address = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    std::string error = CheckShape(record);
    if (!error.empty()) {
        return {std::nullopt, std::move(error)};
    }
    return {std::move(record), ""};
}

std::string FormatRecord(const Record& record) {
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(record.data.size()),
                                       static_cast<std::uint8_t>(record.address >> 8),
                                       static_cast<std::uint8_t>(record.address & 0xFF),
                                       static_cast<std::uint8_t>(record.type)};
    bytes.insert(bytes.end(), record.data.begin(), record.data.end());
    bytes.push_back(static_cast<std::uint8_t>(Checksum(bytes, bytes.size())));
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string line = ":";
    for (const std::uint8_t byte : bytes) {
        line += kDigits[byte >> 4];
        line += kDigits[byte & 0x0F];
    }
    return line;
}

}  // namespace hexfile
