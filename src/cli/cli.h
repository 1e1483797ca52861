// The command-line front end: the whole run of one gpakcfg command.
#pragma once

#include "chip/chip.h"
#include "cli/settings.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // the chip did not end as asked, or the run could not reach it
constexpr int kExitUsage = 255;  // unusable command line or configuration file

// Runs one command: banner, usage or options, type check, optional write
// run, read-back, optional save. Returns the exit status.
int RunGpakcfg(int argc, char* argv[]);

// Programs the memory from settings.write_file (file, erase and write
// sections). Returns kExitUsage when the file is unusable and nothing was
// sent to the chip, kExitFailed when a page write failed, kExitOk otherwise.
int WriteRun(const cli::Settings& settings, ConfigImage& image);

// Writes the memory read back to settings.save_file, only when the
// read-back was complete. Returns kExitOk when it was saved.
int SaveRun(const cli::Settings& settings, bool complete, const ConfigImage& image);

// Prints image as a 16 x 16 hex table, one row per page.
void DumpData(const ConfigImage& image);

// Prints a section heading and the rule line under it.
void PrintHeading(const char* heading);
