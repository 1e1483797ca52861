// The command-line front end: the whole run of one gpakcfg command.
#pragma once

#include <string>

#include "chip/chip.h"
#include "cli/settings.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // the chip did not end as asked, or the run could not reach it
constexpr int kExitUsage = 255;  // unusable command line or configuration file

// Runs one command: banner, usage or settings, type check, then a read, a
// verify or a write run. Returns the exit status.
int RunGpakcfg(int argc, char* argv[]);

// The write run: file, erase, write, read-back, verify and --save.
// Returns the exit status (or ends by a signal caught while programming).
int WriteRun(const cli::Settings& settings);

// Fills image from path, or says why it cannot on standard error and
// returns false; nothing has reached the chip then.
bool LoadConfigFile(const std::string& path, ConfigImage& image);

// The read-back section: the memory read into image (which is cleared
// first) when the bus is ready, else only the read error, then the table.
// Returns true when all 16 pages were read.
bool ReadBack(const cli::Settings& settings, bool bus_ready, ConfigImage& image);

// Writes the memory read back to settings.save_file, only when the
// read-back was complete. Returns kExitOk when it was saved.
int SaveRun(const cli::Settings& settings, bool complete, const ConfigImage& image);

// Prints image as a 16 x 16 hex table, one row per page.
void DumpData(const ConfigImage& image);

// Prints a section heading and the rule line under it.
void PrintHeading(const char* heading);
