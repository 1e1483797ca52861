// The launcher's command line: the simulator's knobs (knobs/options.h), then
// the command to run. Long options are taken only when spelled out in
// full, as gpakcfg takes them. Also the launcher's own exit statuses and
// the error that stops it before the command runs.
#pragma once

#include <string>
#include <vector>

#include "knobs/options.h"

namespace gpaksim::launcher {

// Statuses of the launcher's own, as env(1) has them.
constexpr int kExitLauncherFailed = 125;
constexpr int kExitCannotRun = 126;
constexpr int kExitNotFound = 127;

// Thrown for anything that stops the launcher before the command runs.
struct LaunchError {
    int status;
    std::string message;
};

[[noreturn]] void Fail(const std::string& message, int status = kExitLauncherFailed);

struct LaunchSettings {
    Options sim;
    std::vector<std::string> command;
    bool help = false;
    bool version = false;
};

struct ParsedLaunch {
    bool ok = false;
    LaunchSettings settings;
    std::string error;  // what is wrong with the command line, when not ok
};

ParsedLaunch ParseLaunchOptions(int argc, char* argv[]);

void PrintUsage(std::FILE* out);

}  // namespace gpaksim::launcher
