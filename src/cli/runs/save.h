// --save FILE: the memory read back, kept as a hex record file.
#pragma once

#include "chip/chip.h"
#include "cli/runs/context.h"

namespace cli::runs {

// Writes image to settings.save_file, only when the read-back was complete.
// Returns kExitOk when it was saved.
int SaveRun(const Context& run, bool complete, const ConfigImage& image);

}  // namespace cli::runs
