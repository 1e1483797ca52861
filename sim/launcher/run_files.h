// The files of a run, made ready before COMMAND starts: the chip's state
// file (the one of --state, or one in the run's directory), with --code
// applied once for all the programs of the run, and the trace. Each is
// refused (LaunchError) before it is opened unless it is a kind of file it
// may be: opening a device can act on it, and reading an I2C node is a
// transfer on its bus.
#pragma once

#include <string>

#include "options.h"
#include "run_dir.h"

namespace gpaksim::launcher {

// The directory part of path: "." without a slash.
std::string Directory(const std::string& path);

// path, made absolute against the working directory.
std::string Absolute(const std::string& path);

void PrepareState(Options& sim, RunDirectory& run);
void PrepareTrace(Options& sim);

}  // namespace gpaksim::launcher
