// Test support: runs a program as a user's shell would (standard input
// from /dev/null, the signals at their defaults, no core files), and a
// temporary directory for a test's files.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace gpaktest {

using Strings = std::vector<std::string>;

// How a run ended.
struct Ending {
    int status = -1;  // exit status, or 128 + the signal
    int signal = 0;   // the signal that ended it; 0 when it exited
};

struct CommandResult : Ending {
    std::string out;
    std::string err;
};

// Where a started program's output goes: standard output to out_fd when
// it is not -1, else to out_path; standard error to err_path.
struct Streams {
    std::string out_path;
    std::string err_path;
    int out_fd = -1;
};

// Starts argv with env (NAME=VALUE) added to the environment. Under a
// cross build's emulator, a program built for the test's own machine is
// run by the emulator (see gpaksim::Emulator); the system's programs run as
// they are.
pid_t StartCommand(const Strings& argv, const Streams& streams, const Strings& env = {});
Ending WaitCommand(pid_t pid);

// Runs argv to its end and collects what it printed.
CommandResult RunCommand(const Strings& argv);

// A fresh empty directory for one test's files, removed with its contents
// when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& content) const;

private:
    std::string dir_;
};

std::string ReadFile(const std::string& path);

// The lines of text, without their line feeds.
Strings Lines(const std::string& text);

// How often what occurs in text.
std::size_t Occurrences(const std::string& text, const std::string& what);

}  // namespace gpaktest
