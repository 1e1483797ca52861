// Reading a hex record file (Intel HEX layout) into a chip memory image.
#pragma once

#include <string>

#include "chip/chip.h"

enum class ConfigFileStatus {
    kRead,        // the image holds the file's data
    kOpenFailed,  // the file could not be opened
    kReadFailed,  // reading it failed
    kRefused,     // it is not certain what the chip must get
};

struct ConfigFileResult {
    ConfigFileStatus status = ConfigFileStatus::kRead;
    int error_number = 0;  // errno of a failed open or read
    std::string refusal;   // "FILE:LINE: what is wrong" when refused
    int records = 0;       // the data records taken
};

// The path that stands for standard input, and what messages call it.
constexpr char kStandardInput[] = "-";
constexpr char kStandardInputName[] = "(standard input)";

// The name of path in messages: path itself, or "(standard input)".
std::string FileName(const std::string& path);

// Fills image with the file's data and 0x00 after it; path "-" reads
// standard input, under the same rules. The file is taken
// only when it says exactly what the memory must hold:
//   - it is a file or a pipe: a device is refused before a byte is read;
//   - lines end in LF, CR LF or CR; blank lines and lines without ':' are
//     skipped; every line that holds ':' starts with it and is a
//     well-formed record (hex digits, byte count, checksum, known type);
//   - data records of any length load one after another from 0x0000,
//     256 bytes at most; extended address records must keep address 0;
//     start address records change nothing;
//   - the end record ends the file; without it the data fills all 256 bytes;
//   - the file is no larger than 1 MiB.
// Anything else is refused, and the image is left all 0x00. A file refused
// before any record that looks like S-records, raw binary or UTF-16 text
// is refused as such, with the command that converts it.
ConfigFileResult ReadConfigFile(const std::string& path, ConfigImage& image);
