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
    const auto fail = [&lock](BusStatus status, int error_number) {
        lock.status_ = status;
        lock.error_number_ = error_number;
        return std::move(lock);
    };
    lock.fd_ = common::UniqueFd(open(node.c_str(), O_RDWR | O_CLOEXEC));
    if (!lock.fd_.IsOpen()) {
        return fail(BusStatus::kCannotOpen, errno);
    }
    unsigned long funcs = 0;
    if (ioctl(lock.fd_.Get(), I2C_FUNCS, &funcs) != 0) {
        return fail(BusStatus::kNotI2c, errno);
    }
    if ((funcs & I2C_FUNC_I2C) == 0) {
        return fail(BusStatus::kSmbusOnly, 0);
    }
    if (!TryLock(lock.fd_.Get())) {
        if (errno != EWOULDBLOCK) {
            return fail(BusStatus::kCannotLock, errno);
        }
        if (on_wait) {
            on_wait();
        }
        if (!WaitForLock(lock.fd_.Get(), wait_limit)) {
            return fail(BusStatus::kBusy, 0);
        }
    }
    lock.status_ = BusStatus::kReady;
    return lock;
}

}  // namespace i2c
