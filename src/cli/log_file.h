// The file of --log: what it may not be, and a line appended to it.
#pragma once

#include <string>

#include "cli/settings.h"

namespace cli {

// Why --log cannot name that file, or "": not the file of -w, --verify or
// --save, nor the bus, nor a block device or an I2C adapter, where the
// line would land in the data, the backup or on the bus.
std::string LogRefusal(const Settings& settings);

// Appends line to the file at path (created when missing) with one write,
// so that the lines of runs that share the file never mix. Returns why it
// could not, or "".
std::string AppendLine(const std::string& path, const std::string& line);

}  // namespace cli
