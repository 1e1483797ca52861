// The launcher's private directory for one run: the chip of a run without
// --state and the preload library under a name LD_PRELOAD can carry.
// Removed with all it holds when the run ends.
#pragma once

#include <string>
#include <vector>

namespace gpaksim::launcher {

class RunDirectory {
public:
    RunDirectory() = default;
    ~RunDirectory();
    RunDirectory(const RunDirectory&) = delete;
    RunDirectory& operator=(const RunDirectory&) = delete;

    // Makes the directory; false with error set when it cannot.
    bool Create(std::string& error);

    // A path in it for a file the caller makes (removed with the directory).
    std::string File(const std::string& name);

    // library under a path without blanks or colons, which separate the
    // entries of LD_PRELOAD. Empty with error set on failure.
    std::string LibraryAlias(const std::string& library, std::string& error);

private:
    std::string dir_;
    std::vector<std::string> files_;
};

}  // namespace gpaksim::launcher
