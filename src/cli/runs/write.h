// The write run: the file loaded and shown, the bus taken, erase and write
// in the window no signal cuts short, read-back, verify and --save.
#pragma once

#include <string>

#include "chip/chip.h"
#include "cli/runs/context.h"

namespace cli::runs {

// Returns the exit status (or ends by a signal caught while programming).
int WriteRun(const Context& run);

// Fills image from path (the file of -w or --verify), or says why it
// cannot on standard error and returns false; nothing has reached the
// chip then.
bool LoadConfigFile(const std::string& path, ConfigImage& image);

}  // namespace cli::runs
