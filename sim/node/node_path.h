// Whether a path that a program opens names the simulated node: however
// it is spelled (/dev//i2c-1, /dev/./i2c-1), through symbolic links, or
// relative to a directory descriptor, as the kernel would resolve it, and
// also when the real node does not exist.
#pragma once

#include <string>

#include "knobs/options.h"

namespace gpaksim {

// The absolute path that path names, relative to the directory of dirfd
// (AT_FDCWD: the working directory), with ".", ".." and symbolic links
// resolved as far as they exist. Empty when it cannot be told.
std::string ResolvePath(int dirfd, const std::string& path);

// options with the node and the buses of the chips resolved, so that every
// spelling of a node and every link to it compares equal to it.
Options WithNodesResolved(const Options& options);

}  // namespace gpaksim
