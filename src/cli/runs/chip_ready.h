// Which chip a programming run reaches: the one-byte reads before anything
// is erased, which keep a run from writing into a second chip or into none,
// the code that --new-code gives the chip, and the note on the file's own
// control code.
#pragma once

#include <cstdint>

#include "chip/chip.h"
#include "cli/runs/context.h"

namespace cli::runs {

// The control code byte 0xCA is written with: --new-code, else -c.
std::uint8_t WrittenCode(const Settings& settings);

// For reg and nvm, whose byte 0xCA the run replaces: when the file's byte
// asks for another control code than the one written, one line on the
// run's output says so and how to keep the file's code.
void NoteFileCode(const Context& run, const ConfigImage& file);

// Before the first erase command (the first page write for reg), on the
// bus the run holds: true when a chip answers at -c and no other chip would
// take what is written for it. Otherwise says why and what to do on
// standard error and returns false; nothing but one-byte reads was sent.
bool ChipReady(const Context& run);

// Where the chips are, when none answers where the run looked: reads one
// byte at the register block of every control code (and the NVM and the
// EEPROM of each chip found) and names each code where a chip answers,
// with the command that programs it or moves it to the code of the run.
void SayWhereTheChipsAre(const Settings& settings);

// A page write of the NVM failed: the chip is erased and answers at
// control code 0; says so, and the command that programs it.
void SayErasedAtZero(const Settings& settings, const PagesResult& written);

}  // namespace cli::runs
