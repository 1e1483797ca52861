// The simulated buses: transfers carried out on the shared chips, one at a
// time under the state file's lock, each traced as one line. A run answers
// one node or several (the buses of its chips), each its own bus.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bus/shared_chip.h"
#include "bus/trace.h"
#include "knobs/options.h"

namespace gpaksim {

// One message of a transfer, on the program's own buffer: len bytes to
// write from buf, or to read into it.
struct BusMessage {
    std::uint16_t addr = 0;
    bool read = false;
    std::uint8_t* buf = nullptr;
    std::uint16_t len = 0;
};

using Reporter = std::function<void(const std::string& problem)>;

class Bus {
public:
    // Starts over with options; problems go to report.
    void Start(const Options& options, Reporter report);

    // Carries out the messages in order as one combined transfer on the bus
    // of Nodes()[node]; the first that no chip acknowledges ends it. Returns
    // the number of messages, or -1 with errno set: the NACK error, or EIO
    // when the chips' state could not be used.
    int Transfer(const std::vector<BusMessage>& messages, std::size_t node = 0);

    // Virtual time: moves the clock on by ns.
    void Advance(std::int64_t ns);
    std::int64_t ElapsedNs();

    // Applies the control code to chip #1, live and in its NVM.
    void SetCode(std::uint8_t code);

    // The nodes answered, resolved: those of the chips, or the one of --bus.
    [[nodiscard]] const std::vector<std::string>& Nodes() const { return nodes_; }
    // flock(2) on a descriptor of Nodes()[node] with lock.
    int Flock(NodeLock& lock, std::size_t node, int operation) const;

    // The adapter the nodes answer as, and what it reports for I2C_FUNCS.
    [[nodiscard]] const AdapterRow& Adapter() const { return *options_.adapter; }
    [[nodiscard]] unsigned long Functions() const;
    [[nodiscard]] bool Bound(std::uint16_t addr) const;

    SharedChip& Chip() { return chip_; }
    [[nodiscard]] const std::vector<TransferRecord>& Records() const { return records_; }
    [[nodiscard]] const TraceFile& Trace() const { return trace_; }
    [[nodiscard]] bool Usable() const { return usable_; }

private:
    [[nodiscard]] std::int64_t Now(const SimState& state) const;
    bool Update(const std::function<void(SimState&)>& change);

    // The chips that answer on the node; all of the state's without --chip.
    [[nodiscard]] std::vector<std::size_t> ChipsOn(const SimState& state, std::size_t node) const;

    Options options_;
    std::vector<std::string> nodes_;
    Reporter report_;
    SharedChip chip_;
    TraceFile trace_;
    std::vector<TransferRecord> records_;
    bool usable_ = false;  // the state file could be attached
};

}  // namespace gpaksim
