// Test support: runs a built program as a user would and collects what it
// printed and its exit status.
#pragma once

#include <string>
#include <vector>

namespace gpaktest {

struct CommandResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal
};

CommandResult RunCommand(const std::vector<std::string>& argv);

// A fresh empty directory for one test's files, removed with its contents
// when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& content) const;

private:
    std::string dir_;
};

std::string ReadFile(const std::string& path);

// The 32 hex digits of row of the last table in a gpakcfg run's output.
std::string DumpRow(const std::string& out, int row);

}  // namespace gpaktest
