// The simulated node in a program: the libc overrides (interpose/)
// route the program's calls on it here, and tests linked with the
// simulator drive it through Start() and inspect it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bus/trace.h"
#include "knobs/options.h"
#include "model/chip_model.h"
#include "model/state_file.h"

namespace gpaksim {

// Starts the simulator afresh with the given options (tests); programs
// under the launcher start it from the environment on first use.
void Start(const Options& options);

// The chips as this process last saw them (the chips themselves in a test
// that keeps them in the process): chip number (#1 the first --chip, or the
// one chip), and the whole state; the transfers, the clock.
ChipState& Chip(std::size_t number = 1);
SimState& State();
const std::vector<TransferRecord>& Transfers();
std::int64_t ElapsedNs();

int OpenDescriptors();
int OpenCount();
int CloseCount();
const std::vector<std::string>& Problems();  // misuse and failures seen

// Entry points of the libc overrides. Each sets errno as the system call
// would.
// Which of the run's nodes path names, if any: the overrides ask before
// every open, and open that node with Open().
std::optional<std::size_t> NodeNamed(int dirfd, const char* path);
int Open(std::size_t node, int flags);
// Opens a file of the machine's that the simulator answers
// (node/machine_files.h): a descriptor of the program's own, or -1 with
// errno; handled is false when path is none of them.
int OpenMachineFile(const char* path, int flags, bool& handled);
bool Owns(int fd);
int Ioctl(int fd, unsigned long request, void* arg);
ssize_t Read(int fd, void* buf, std::size_t count);
ssize_t Write(int fd, const void* buf, std::size_t count);
int Flock(int fd, int operation);
int Close(int fd);
bool ReportStaleUse(int fd, const char* call);  // true when fd was ours
void ForgetClosed(int fd);                      // fd now names something else
bool VirtualTime();
void AdvanceClock(std::int64_t ns);

}  // namespace gpaksim
