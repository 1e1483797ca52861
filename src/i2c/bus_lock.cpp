// Opening, checking and locking the bus for one run.
#include "i2c/bus_lock.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "i2c/buses.h"
#include "i2c/i2c.h"

namespace i2c {

namespace {

constexpr int kRetryMs = 20;

bool TryLock(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

// Waits up to wait_limit for another holder to let go of fd.
bool WaitForLock(int fd, std::chrono::milliseconds wait_limit) {
    const auto deadline = std::chrono::steady_clock::now() + wait_limit;
    bool locked = false;
    // poll() waits in real time, also where the sleeps are simulated.
    while (!locked && std::chrono::steady_clock::now() < deadline) {
        poll(nullptr, 0, kRetryMs);
        locked = TryLock(fd);
    }
    return locked;
}

}  // namespace

AddressCheck BusLock::CheckAddresses(const std::string& node,
                                     const std::vector<std::uint8_t>& addrs) const {
    AddressCheck check;
    for (const std::uint8_t addr : addrs) {
        if (ioctl(fd_.Get(), I2C_SLAVE, static_cast<unsigned long>(addr)) == 0) {
            continue;
        }
        check.addr = addr;
        check.error_number = errno;
        if (check.error_number == EBUSY) {
            check.status = AddressCheck::Status::kOwned;
            check.driver = DriverAt(node, addr);
        } else {
            check.status = AddressCheck::Status::kFailed;
        }
        break;
    }
    return check;
}

BusLock BusLock::Acquire(const std::string& node, std::chrono::milliseconds wait_limit,
                         const std::function<void()>& on_wait) {
    BusLock lock;
    lock.status_ = lock.Take(node, wait_limit, on_wait);
    return lock;
}

BusStatus BusLock::Take(const std::string& node, std::chrono::milliseconds wait_limit,
                        const std::function<void()>& on_wait) {
    fd_ = common::UniqueFd(open(node.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd_.IsOpen()) {
        error_number_ = errno;
        return BusStatus::kCannotOpen;
    }
    if (ioctl(fd_.Get(), I2C_FUNCS, &funcs_) != 0) {
        error_number_ = errno;
        funcs_ = 0;
        return BusStatus::kNotI2c;
    }
    if (!OfferOf(funcs_).reads) {
        return BusStatus::kNoShape;
    }
    if (TryLock(fd_.Get())) {
        return BusStatus::kReady;
    }
    if (errno != EWOULDBLOCK) {
        error_number_ = errno;
        return BusStatus::kCannotLock;
    }
    if (on_wait) {
        on_wait();
    }
    return WaitForLock(fd_.Get(), wait_limit) ? BusStatus::kReady : BusStatus::kBusy;
}

}  // namespace i2c
