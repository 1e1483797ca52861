// Which chip a run reaches: the one-byte reads before anything is erased,
// which keep a run from writing into a second chip or into none, the code
// that --new-code gives the chip, the note on the file's own control code,
// and --scan.
#pragma once

#include <cstdint>
#include <string>

#include "chip/chip.h"
#include "cli/options.h"
#include "cli/settings.h"

namespace cli {

// Why --scan does not go with the rest of the command line; "" when it
// does, or when there is no --scan.
std::string ScanConflict(const Draft& draft);

// The control code byte 0xCA is written with: --new-code, else -c.
std::uint8_t WrittenCode(const Settings& settings);

// settings as the run reads the chip back after programming: at the code
// written.
Settings AtWrittenCode(const Settings& settings);

// For reg and nvm, whose byte 0xCA the run replaces: when the file's byte
// asks for another control code than the one written, one line on
// standard output says so and how to keep the file's code.
void NoteFileCode(const Settings& settings, const ConfigImage& file);

// Before the first erase command (the first page write for reg), on the
// bus the run holds: true when a chip answers at -c and no other chip would
// take what is written for it. Otherwise says why and what to do on
// standard error and returns false; nothing but one-byte reads was sent.
bool ChipReady(const Settings& settings);

// --scan: takes the bus and lists the chips that answer on it. Returns
// the exit status: 0 when a chip answers, 1 when none does or the bus
// cannot be had.
int ScanRun(const Settings& settings);

}  // namespace cli
