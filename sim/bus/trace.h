// The trace: a line for every transfer on the simulated bus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gpaksim {

// One message of a transfer as the bus saw it: the bytes written, or the
// number of bytes read (when acknowledged).
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
    std::string node;  // the bus it was made on
    // The chips that acknowledged a message of it, by number (#1 is the
    // first chip of the state file, the first --chip).
    std::vector<std::size_t> chips;
    bool name_node = false;   // the run answers several nodes
    bool name_chips = false;  // several chips are on this bus
};

// "   0.150000 0x08 W e3 8f ACK": time, messages, outcome; then, when the
// run answers several nodes, " on /dev/i2c-2", and when several chips are
// on the bus, " by #1 #2": the chips that acknowledged.
std::string FormatTransfer(const TransferRecord& transfer);

// Whether path may take a trace: a regular file, a FIFO, or a new file,
// and of the device nodes only /dev/null and the terminals the launcher was
// started on. Never a device node of anything else, which could be a real
// bus or a disk. Empty when it may; else why not.
std::string TraceRefusal(const std::string& path);

class TraceFile {
public:
    TraceFile() = default;
    ~TraceFile();
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    // Appends to path from now on ("-": standard error; empty: nowhere).
    // False with error set when it cannot.
    bool Open(const std::string& path, std::string& error);
    void Close();
    void Write(const std::string& line) const;

private:
    int fd_ = -1;
    bool to_stderr_ = false;
};

}  // namespace gpaksim
