// The file of --log: what it may not be, and a line appended to it.
#pragma once

#include <string>

namespace cli::log {

// Why no line may be appended to the file at path: "a block device" or "an
// I2C adapter", where it would land in the data or on the bus; nullptr
// when it may (also when there is no such file yet).
const char* DeviceRefusal(const std::string& path);

// Appends line to the file at path (created when missing) with one write
// under an exclusive lock (flock), so that the lines of runs that share the
// file never mix; a line written in part is cut off again, so that the file
// always ends on a whole line. A FIFO or terminal is never waited for long.
// Returns why it could not, or "".
std::string AppendLine(const std::string& path, const std::string& line);

}  // namespace cli::log
