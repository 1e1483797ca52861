// The simulated /dev/i2c-1: an i2c-dev node in front of the chip model,
// with a trace of every transfer, a state file and an optional virtual
// clock. The libc overrides (interpose.cpp) route the program's calls here;
// tests linked with the simulator drive it through Start() and inspect it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chip_model.h"

namespace gpaksim {

struct Options {
    std::string state_path;  // empty: the chip lives in this process only
    std::string trace_path;  // empty: no trace file
    int code = -1;           // control code to set; -1 keeps the state's
    ChipKnobs knobs;
    bool no_node = false;  // the device node is missing
    bool virtual_time = false;
};

// One message of a transfer as the bus saw it: the bytes written, or the
// bytes read (len of them, when acknowledged).
struct MessageRecord {
    std::uint16_t addr = 0;
    bool read = false;
    std::uint16_t len = 0;
    std::vector<std::uint8_t> bytes;
};

struct TransferRecord {
    std::int64_t time_ns = 0;  // since the start of the simulated run
    std::vector<MessageRecord> messages;
    bool ack = false;
};

// Environment variables through which the launcher configures the
// simulator in the programs it runs.
namespace env {
constexpr char kState[] = "GPAK_SIM_STATE";
constexpr char kTrace[] = "GPAK_SIM_TRACE";
constexpr char kCode[] = "GPAK_SIM_CODE";
constexpr char kNack[] = "GPAK_SIM_NACK";  // comma-separated ADDR[:REG]
constexpr char kUnackedCommands[] = "GPAK_SIM_UNACKED_COMMANDS";
constexpr char kNoNode[] = "GPAK_SIM_NO_NODE";
constexpr char kAbsent[] = "GPAK_SIM_ABSENT";
constexpr char kVirtualTime[] = "GPAK_SIM_VIRTUAL_TIME";
constexpr char kEpoch[] = "GPAK_SIM_EPOCH";  // CLOCK_MONOTONIC ns at the launcher's start
// The qemu-user command line that runs programs of the simulator's machine,
// set when that machine is emulated: programs started from an emulated
// process are not emulated by themselves without binfmt_misc.
constexpr char kEmulator[] = "GPAK_SIM_EMULATOR";
}  // namespace env

// Parses ADDR[:REG] (C integer syntax: 0x0a, 10). False when malformed.
bool ParseNack(const std::string& text, Nack& nack);

// Starts the simulator afresh with the given options (tests); programs
// under the launcher start it from the environment on first use.
void Start(const Options& options);

ChipState& Chip();
const std::vector<TransferRecord>& Transfers();
std::string FormatTransfer(const TransferRecord& transfer);
std::int64_t ElapsedNs();  // time on the simulator's clock since the run began

int OpenDescriptors();
int OpenCount();
int CloseCount();
const std::vector<std::string>& Problems();  // descriptor misuse seen

// Entry points of the libc overrides.
bool IsDevicePath(const char* path);
int Open(int flags);
bool Owns(int fd);
bool IsI2cRequest(unsigned long request);
int Ioctl(unsigned long request, void* arg);
int Close(int fd);
bool ReportStaleUse(int fd, const char* call);  // true when fd was ours
void ForgetClosed(int fd);                      // fd now names something else
bool VirtualTime();
void AdvanceClock(std::int64_t ns);

}  // namespace gpaksim
