#include "i2c/bus_lock.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace gpakcfg {

namespace {

constexpr int kRetryMs = 20;

// What usually stands behind a node that cannot be opened, and what to do.
void PrintHint(const std::string& node, int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            std::fprintf(stderr,
                         "gpakcfg: %s: not permitted: add yourself to the i2c group "
                         "(sudo usermod -aG i2c \"$USER\") and log in again; never make "
                         "gpakcfg setuid\n",
                         node.c_str());
            break;
        case ENOENT:
            std::fprintf(stderr,
                         "gpakcfg: %s: no such bus: enable I2C (sudo raspi-config nonint do_i2c "
                         "0, or dtparam=i2c_arm=on in config.txt) or choose the bus with --bus\n",
                         node.c_str());
            break;
        default:
            break;
    }
}

bool TryLock(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

// Locks fd, waiting up to wait_limit while another run holds it and saying
// so once. False, said why, when it cannot be had.
bool Lock(int fd, const std::string& node, std::chrono::milliseconds wait_limit) {
    bool locked = TryLock(fd);
    if (!locked && errno != EWOULDBLOCK) {
        std::fprintf(stderr, "gpakcfg: cannot lock %s: %s; nothing was sent to the chip\n",
                     node.c_str(), std::strerror(errno));
        return false;
    }
    if (locked) {
        return true;
    }
    std::fprintf(stderr, "gpakcfg: %s is in use by another gpakcfg run; waiting up to %lld s\n",
                 node.c_str(), static_cast<long long>((wait_limit.count() + 999) / 1000));
    const auto deadline = std::chrono::steady_clock::now() + wait_limit;
    // poll() waits in real time, also where the sleeps are simulated.
    while (!locked && std::chrono::steady_clock::now() < deadline) {
        poll(nullptr, 0, kRetryMs);
        locked = TryLock(fd);
    }
    if (!locked) {
        std::fprintf(stderr, "gpakcfg: %s is still in use; nothing was sent to the chip\n",
                     node.c_str());
    }
    return locked;
}

}  // namespace

BusLock BusLock::Acquire(const std::string& node, std::chrono::milliseconds wait_limit) {
    BusLock lock;
    lock.fd_ = UniqueFd(open(node.c_str(), O_RDWR | O_CLOEXEC));
    if (!lock.fd_.IsOpen()) {
        const int error = errno;
        std::fprintf(stderr, "Device open error: %s\n", std::strerror(error));
        PrintHint(node, error);
        return lock;
    }
    unsigned long funcs = 0;
    if (ioctl(lock.fd_.Get(), I2C_FUNCS, &funcs) != 0) {
        std::fprintf(stderr, "gpakcfg: %s is not an I2C adapter (I2C_FUNCS: %s)\n", node.c_str(),
                     std::strerror(errno));
        lock.status_ = BusStatus::kNotI2c;
        return lock;
    }
    if ((funcs & I2C_FUNC_I2C) == 0) {
        std::fprintf(stderr,
                     "gpakcfg: %s makes no plain I2C transfers (it offers SMBus only), which "
                     "the chip needs\n",
                     node.c_str());
        lock.status_ = BusStatus::kNotI2c;
        return lock;
    }
    if (!Lock(lock.fd_.Get(), node, wait_limit)) {
        lock.status_ = BusStatus::kBusy;
        return lock;
    }
    lock.status_ = BusStatus::kReady;
    return lock;
}

}  // namespace gpakcfg
