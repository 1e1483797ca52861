// Saving a chip memory as a hex record file that the reader takes back and
// that any Intel HEX tool reads.
#pragma once

#include <string>

#include "chip/chip.h"
#include "config_file/replace_file.h"

namespace hexfile {

// 16 data records of 16 bytes at 0x0000 to 0x00F0 with upper-case digits,
// then the end record :00000001FF; every line ends in LF.
std::string FormatConfigFile(const ConfigImage& image);

// Replaces the file at path with FormatConfigFile(image), as a whole.
ReplaceResult SaveConfigFile(const std::string& path, const ConfigImage& image);

// Whether saving to save_path would write over the file at input_path:
// both name one file (the same device and inode), however each is spelled,
// through a hard link or a symbolic link. False when either cannot be
// looked up: a file that does not exist is no other file.
bool SameFile(const std::string& save_path, const std::string& input_path);

}  // namespace hexfile
