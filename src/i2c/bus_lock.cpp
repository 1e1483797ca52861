// Opening, checking and locking the bus for one run.
#include "i2c/bus_lock.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>

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
    unsigned long funcs = 0;
    if (ioctl(fd_.Get(), I2C_FUNCS, &funcs) != 0) {
        error_number_ = errno;
        return BusStatus::kNotI2c;
    }
    if ((funcs & I2C_FUNC_I2C) == 0) {
        return BusStatus::kSmbusOnly;
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
