// Where a simulated run cannot reach a real chip: a private user and mount
// namespace in which every real I2C node is covered by a stand-in that
// cannot be opened, and the I2C adapters' sysfs directories (where new
// devices could be bound to a real bus) are hidden. Whatever escapes the
// preload there finds no bus.
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
    std::string error;  // why the namespaces could not be made, when not ok
};

// Moves this process (and so everything it starts) into the private
// namespaces, covering each of nodes with placeholder. The mounts are made
// in one user namespace and then locked by a second one, so that even a
// program that is root in there cannot take them away.
Isolation Isolate(const std::vector<std::string>& nodes, const std::string& placeholder);

}  // namespace gpaksim::launcher
