// One chip for every process: the state file, locked for each change and
// read afresh, so that programs running at once under launchers that share
// it interleave on one simulated bus as they would on a real one.
#pragma once

#include <functional>
#include <string>

#include "state_file.h"

namespace gpaksim {

class SharedChip {
public:
    SharedChip() = default;
    ~SharedChip();
    SharedChip(const SharedChip&) = delete;
    SharedChip& operator=(const SharedChip&) = delete;

    // Starts over on the state file at path (created when missing, its
    // directory must exist), or in this process only when path is empty.
    // False with error set when the file cannot be opened or is malformed.
    bool Attach(const std::string& path, bool virtual_time, std::string& error);

    // Runs change on the current state under the file's lock and saves
    // what it changed. False with error set, and change not run, when the
    // file cannot be locked, read or written.
    bool Update(const std::function<void(SimState&)>& change, std::string& error);

    // The state as this process last saw it; the chip itself when it
    // lives in this process.
    SimState& Current() { return state_; }

    // The file that stands for the node: the state file, or /dev/null
    // when the chip lives in this process.
    [[nodiscard]] const std::string& NodeFile() const;

    // A new descriptor for a lock of the program's own: of the state file, or
    // of a file private to this process when the chip lives in it (-1
    // with errno set on failure).
    [[nodiscard]] int OpenForLock() const;

private:
    bool Load(std::string& error);
    bool Save(std::string& error);
    void Detach();

    std::string path_;
    bool virtual_time_ = false;
    int fd_ = -1;
    SimState state_;
    std::string saved_text_;  // the file's text as last read or written
};

}  // namespace gpaksim
