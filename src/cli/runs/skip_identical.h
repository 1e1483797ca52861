// --skip-identical: a memory that holds the file already is neither erased
// nor written, which spares the NVM a program cycle on every re-run.
#pragma once

#include "chip/chip.h"
#include "cli/runs/context.h"

namespace cli::runs {

// Makes sent what the write would send (byte 0xCA takes the control code)
// and reads the memory: when it holds sent already, says so on the run's
// output and returns true. False when it differs or could not be read
// whole: then the run programs it as usual.
bool HoldsAlready(const Context& run, ConfigImage& sent);

}  // namespace cli::runs
