// Test support: a fake machine for the escape tests, made in the test's
// own process: a private mount namespace (in a user namespace of its own
// where the test is not root) whose /dev is a tmpfs holding the real
// /dev's entries and "real" nodes: a plain file at /dev/i2c-1, a FIFO at
// /dev/i2c-2 and a file at /dev/i2c-7. inotify tells whether anything
// opened them.
#pragma once

#include <string>

#include "common/unique_fd.h"
#include "run_command.h"

namespace gpaktest {

extern const Strings kFakeNodes;

// Why the launcher cannot make its private namespaces on this machine (a
// chroot, as under schroot or sbuild; user namespaces turned off), found
// without the launcher; empty where it can.
std::string NoNamespacesHere();

// Makes this process a fake machine; empty, or why it could not be made.
std::string MakeFakeMachine();

// How often anything opened, read or wrote the files among paths since the
// watch began, or the files in the directories among them (not the
// directories themselves).
class NodeWatch {
public:
    explicit NodeWatch(const Strings& paths = kFakeNodes);
    [[nodiscard]] int Events() const;

private:
    common::UniqueFd fd_;
};

}  // namespace gpaktest
