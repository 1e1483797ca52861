// Where a simulated run cannot reach a real chip: a private user and mount
// namespace in which no device node can be opened, wherever it lives and
// whenever it appears, since every mount is nodev, except those of a fresh
// /dev (fresh_dev.h): null, zero, full, random, urandom, tty and the
// terminal. The I2C adapters' sysfs directories (where new devices could be
// bound to a real bus) are hidden. All of it is locked by a second user
// namespace, so that even a program that is root in there cannot undo it.
// Whatever escapes the preload there finds no bus.
#pragma once

#include <string>
#include <vector>

namespace gpaksim::launcher {

// The I2C device nodes of this machine: every /dev/i2c-* and /dev/i2c/*,
// whatever kind of file it is, and every character device of the I2C
// major anywhere under /dev.
std::vector<std::string> RealNodes();

struct Isolation {
    bool ok = false;
    // When not ok: whether nothing may run even on a machine without real
    // nodes, since a descriptor leads around the namespaces or this process
    // was left in namespaces whose mounts it had begun to change.
    bool refuse = false;
    std::string error;  // why the namespaces could not be made, when not ok
};

// Moves this process (and so everything it starts) into the private
// namespaces; the names of real_nodes in the fresh /dev hold sockets that
// cannot be opened. Fails (refuse) when this process holds a descriptor
// that the command would inherit and could reach around the mounts with:
// a directory, a device node other than those of the fresh /dev.
Isolation Isolate(const std::vector<std::string>& real_nodes);

}  // namespace gpaksim::launcher
