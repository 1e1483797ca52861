// The run's hold on the bus: the node opened once more, on a descriptor
// that carries no transfer, checked to be an I2C adapter with a transfer
// shape for reads, and locked (flock) for the whole run, so that two runs
// on one bus never interleave their erases and writes. It says nothing
// itself: its status and errno tell the caller what stood in the way.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/unique_fd.h"

namespace i2c {

enum class BusStatus {
    kReady,       // opened, checked and locked
    kCannotOpen,  // the node cannot be opened (errno of the open)
    kNotI2c,      // it is not an I2C adapter (errno of I2C_FUNCS)
    kNoShape,     // an adapter with neither plain I2C nor SMBus reads (Functions())
    kCannotLock,  // flock failed for another reason than a holder (its errno)
    kBusy,        // another holder kept it for the whole wait
};

// Whether a kernel driver owns one of the chip's addresses.
struct AddressCheck {
    enum class Status {
        kFree,    // no driver owns any of them
        kOwned,   // a driver owns addr (I2C_SLAVE: EBUSY)
        kFailed,  // I2C_SLAVE failed otherwise at addr (error_number)
    };
    Status status = Status::kFree;
    std::uint8_t addr = 0;
    int error_number = 0;
    std::string driver;  // the driver bound at addr, from sysfs; empty when unknown

    [[nodiscard]] bool Free() const { return status == Status::kFree; }
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
    // The adapter's I2C_FUNCS bits; 0 when they could not be asked.
    [[nodiscard]] unsigned long Functions() const { return funcs_; }

    // I2C_SLAVE on each of addrs, as i2ctransfer asks before it sends: the
    // first that a kernel driver owns, which I2C_RDWR would write to behind
    // its back. Sends nothing to the bus.
    [[nodiscard]] AddressCheck CheckAddresses(const std::string& node,
                                              const std::vector<std::uint8_t>& addrs) const;

private:
    // The steps of Acquire; returns how far they got.
    BusStatus Take(const std::string& node, std::chrono::milliseconds wait_limit,
                   const std::function<void()>& on_wait);

    common::UniqueFd fd_;
    BusStatus status_ = BusStatus::kCannotOpen;
    int error_number_ = 0;
    unsigned long funcs_ = 0;
};

}  // namespace i2c
