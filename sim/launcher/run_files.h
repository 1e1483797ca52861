// The files of a run, made ready before COMMAND starts: the state file
// (the one of --state, or one in the run's directory), with --code applied
// once for all the programs of the run and the chips of --chip in it, and
// the trace. Each is
// refused (LaunchError) before it is opened unless it is a kind of file it
// may be: opening a device can act on it, and reading an I2C node is a
// transfer on its bus.
#pragma once

#include <string>

#include "knobs/options.h"
#include "launcher/run_dir.h"

namespace gpaksim::launcher {

// The directory part of path: "." without a slash.
std::string Directory(const std::string& path);

// path, made absolute against the working directory.
std::string Absolute(const std::string& path);

void PrepareState(Options& sim, RunDirectory& run);

// Puts the chips of --chip into the state file of PrepareState, so that it
// holds them from the launch on, not only once a program opens a node.
// Made where the programs run (in the namespaces), whose names of the
// nodes it resolves as they do: each program puts them there again.
void PrepareChips(const Options& sim);
void PrepareTrace(Options& sim);

}  // namespace gpaksim::launcher
