// The files of the machine that tell a program what its buses are: the
// device tree's model (a Raspberry Pi's where the adapter is the Pi's;
// none elsewhere, as on a PC), each simulated node's adapter name in sysfs
// and the uevent of a device bound at an address of --bound. A program
// that opens one gets a descriptor of its own holding what the adapter's
// machine would show.
#pragma once

#include <string>

#include "knobs/options.h"

namespace gpaksim {

// Whether path may be one of those files, told by its name alone.
bool MayBeMachineFile(const std::string& path);

// Whether path is one of those files for a run on nodes with options;
// when it is, content is what it holds, or missing is set when the
// machine has no such file.
bool MachineFile(const Options& options, const std::vector<std::string>& nodes,
                 const std::string& path, std::string& content, bool& missing);

}  // namespace gpaksim
