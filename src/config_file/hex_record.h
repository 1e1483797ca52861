// One line of a hex record file in the Intel HEX layout: reading it into a
// record, checked field by field, and writing a record as a line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hexfile {

enum class RecordType : std::uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kStartSegmentAddress = 0x03,
    kExtendedLinearAddress = 0x04,
    kStartLinearAddress = 0x05,
};

struct Record {
    RecordType type = RecordType::kData;
    std::uint16_t address = 0;  // the load address field
    std::vector<std::uint8_t> data;
};

// A line read as a record: the record, or what is wrong with the line.
struct ParsedRecord {
    std::optional<Record> record;
    std::string error;
};

// Reads one line that starts with ':' (its line break removed). Blanks and
// tabs after the checksum are allowed; anything else must be a well-formed
// record: hex digits only, a byte count that matches, the right checksum, a
// known type with the shape that type has.
ParsedRecord ParseRecord(std::string_view line);

// A message of the reader: format with up to four unsigned values.
std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0);

// The line of a record with upper-case digits and its checksum, without a
// line break. At most 255 data bytes.
std::string FormatRecord(const Record& record);

}  // namespace hexfile
