// The run's hold on the bus: the node opened once more, on a descriptor
// that carries no transfer, checked to be an I2C adapter that makes plain
// transfers, and locked (flock) for the whole run, so that two runs on one
// bus never interleave their erases and writes.
#pragma once

#include <chrono>
#include <string>

#include "common/unique_fd.h"

namespace gpakcfg {

enum class BusStatus {
    kReady,       // opened, checked and locked
    kCannotOpen,  // the node cannot be opened
    kNotI2c,      // it is not an I2C adapter, or one without plain transfers
    kBusy,        // another run held it for the whole wait
};

class BusLock {
public:
    // Opens, checks and locks node, waiting up to wait_limit for another
    // run to let go of it. Says on standard error what went wrong, with a
    // hint for the common causes, and once that it waits.
    static BusLock Acquire(const std::string& node, std::chrono::milliseconds wait_limit);

    [[nodiscard]] BusStatus Status() const { return status_; }
    [[nodiscard]] bool Ready() const { return status_ == BusStatus::kReady; }

private:
    UniqueFd fd_;
    BusStatus status_ = BusStatus::kCannotOpen;
};

// How long a run waits for another one to finish with the bus.
constexpr std::chrono::seconds kBusWaitLimit{10};

}  // namespace gpakcfg
