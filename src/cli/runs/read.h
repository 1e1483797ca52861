// The runs that only read (the read run and --verify), the read-back
// section that every run but a scan ends with, and --save.
#pragma once

#include "chip/chip.h"
#include "cli/runs/context.h"

namespace cli::runs {

// Without -w or --verify: the bus taken, the memory read back and, with
// --save, saved. Returns the exit status.
int ReadRun(const Context& run);

// The read-back section: the memory read into image (which is cleared
// first) when the bus is ready, else only the read error, then the table.
// Returns true when all 16 pages were read. settings: as the chip is read
// (at the code written, after a write run). look_for_chips: when nothing
// answers, where the chips are (a run that only reads).
bool ReadBack(const Context& run, const Settings& settings, bool bus_ready, ConfigImage& image,
              bool look_for_chips = false);

// A run that only reads: the bus taken, the memory read back into image
// and, with --save, saved.
struct Reading {
    bool complete = false;  // read whole
    bool saved = true;      // and saved, when --save asks for it
};
Reading ReadAndSave(const Context& run, ConfigImage& image);

// --verify FILE: the memory compared with what -w FILE would have sent.
// Returns the exit status: 0 when the memory holds it.
int VerifyRun(const Context& run);

// --save FILE: writes image to FILE as a hex record file, only when the
// read-back was complete. Returns kExitOk when it was saved.
int SaveRun(const Context& run, bool complete, const ConfigImage& image);

}  // namespace cli::runs
