// The command-line front end: the whole run of one gpakcfg command.
#pragma once

#include "chip/chip.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // a page write failed or the read-back was incomplete
constexpr int kExitUsage = 255;  // unusable command line or configuration file

// Runs one command: banner, usage or options, type check, optional write
// run, read-back. Returns the exit status.
int RunGpakcfg(int argc, char* argv[]);

// Programs the memory from the file at path (file, erase and write sections).
// Returns kExitUsage when the file is unusable and nothing was sent to the
// chip, kExitFailed when a page write failed, kExitOk otherwise.
int WriteRun(const char* path, std::uint8_t code, ConfigType type, ConfigImage& image);

// Prints image as a 16 x 16 hex table, one row per page.
void DumpData(const ConfigImage& image);

// Prints a section heading and the rule line under it.
void PrintHeading(const char* heading);
