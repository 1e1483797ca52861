// The chips for every process: the state file, locked for each change and
// read afresh, so that programs running at once under launchers that share
// it interleave on the simulated buses as they would on real ones.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "model/state_file.h"

namespace gpaksim {

// Where flock(2) on a descriptor of a node is carried out, once used (see
// SharedChip::LockNode).
struct NodeLock {
    int state_fd = -1;  // the state file
    int byte_fd = -1;   // /dev/null, a byte of which is the node's own lock
};

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

    // flock(2) of operation on node for a descriptor of it, whose lock's
    // descriptors are opened on first use. A holder of a node holds a
    // shared flock(2) of the state file, so that whoever locks the file
    // itself holds every bus, and a lock of the node's own: a byte of
    // /dev/null chosen by the state file and the node (of a file private
    // to this process when the chips live in it), so that runs on
    // different nodes do not wait for each other. Returns what flock(2)
    // returns, with errno set as it sets it.
    int LockNode(NodeLock& lock, const std::string& node, int operation) const;
    static void CloseLock(NodeLock& lock);

private:
    bool Load(std::string& error);
    bool Save(std::string& error);
    void Detach();

    std::string path_;
    std::uint64_t lock_key_ = 0;  // the state file's identity, for the nodes' locks
    bool virtual_time_ = false;
    int fd_ = -1;
    SimState state_;
    std::string saved_text_;  // the file's text as last read or written
};

}  // namespace gpaksim
