// The run's hold on the bus: the node opened once more, on a descriptor
// that carries no transfer, checked to be an I2C adapter that makes plain
// transfers, and locked (flock) for the whole run, so that two runs on one
// bus never interleave their erases and writes. It says nothing itself:
// its status and errno tell the caller what stood in the way.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "common/unique_fd.h"

namespace i2c {

enum class BusStatus {
    kReady,       // opened, checked and locked
    kCannotOpen,  // the node cannot be opened (errno of the open)
    kNotI2c,      // it is not an I2C adapter (errno of I2C_FUNCS)
    kSmbusOnly,   // an adapter without plain I2C transfers, which the chip needs
    kCannotLock,  // flock failed for another reason than a holder (its errno)
    kBusy,        // another holder kept it for the whole wait
};

class BusLock {
public:
    // Opens, checks and locks node, waiting up to wait_limit for another
    // holder to let go of it; on_wait (when set) is called once, before
    // that wait begins.
    static BusLock Acquire(const std::string& node, std::chrono::milliseconds wait_limit,
                           const std::function<void()>& on_wait = nullptr);

    [[nodiscard]] BusStatus Status() const { return status_; }
    [[nodiscard]] bool Ready() const { return status_ == BusStatus::kReady; }
    // errno of the step that failed; 0 when none did or it set none.
    [[nodiscard]] int ErrorNumber() const { return error_number_; }

private:
    // The steps of Acquire; returns how far they got.
    BusStatus Take(const std::string& node, std::chrono::milliseconds wait_limit,
                   const std::function<void()>& on_wait);

    common::UniqueFd fd_;
    BusStatus status_ = BusStatus::kCannotOpen;
    int error_number_ = 0;
};

}  // namespace i2c
