#include "interpose/overrides.h"

#include <fcntl.h>

#include "node/i2c_dev.h"
#include "sim.h"

namespace gpaksim::interpose {

namespace {

int Missing() {
    errno = ENOSYS;
    return -1;
}

// A failure with EBADF on a descriptor the node had: a use after close.
ssize_t StaleIfBad(ssize_t result, int fd, const char* call) {
    if (result < 0 && errno == EBADF) {
        ReportStaleUse(fd, call);
        errno = EBADF;
    }
    return result;
}

int AfterRealOpen(int fd) {
    if (fd >= 0) {
        ForgetClosed(fd);
    }
    return fd;
}

constexpr std::int64_t kNsPerS = 1'000'000'000;

// Virtual time: the sleep returns at once and the simulator's clock moves.
bool SleepVirtually(std::int64_t ns) {
    if (!VirtualTime()) {
        return false;
    }
    AdvanceClock(ns);
    return true;
}

std::int64_t UntilDeadline(clockid_t clock, std::int64_t deadline_ns) {
    timespec now{};
    clock_gettime(clock, &now);
    return deadline_ns - (static_cast<std::int64_t>(now.tv_sec) * kNsPerS + now.tv_nsec);
}

}  // namespace

mode_t ModeArgument(int flags, va_list args) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE
               ? static_cast<mode_t>(va_arg(args, unsigned))
               : 0;
}

int Open(OpenFn real, const char* path, int flags, mode_t mode) {
    if (const auto node = NodeNamed(AT_FDCWD, path)) {
        return gpaksim::Open(*node, flags);
    }
    bool handled = false;
    if (const int fd = OpenMachineFile(path, flags, handled); handled) {
        return fd;
    }
    return real != nullptr ? AfterRealOpen(real(path, flags, mode)) : Missing();
}

int Open2(Open2Fn real, const char* path, int flags) {
    if (const auto node = NodeNamed(AT_FDCWD, path)) {
        return gpaksim::Open(*node, flags);
    }
    bool handled = false;
    if (const int fd = OpenMachineFile(path, flags, handled); handled) {
        return fd;
    }
    return real != nullptr ? AfterRealOpen(real(path, flags)) : Missing();
}

int OpenAt(OpenAtFn real, int dirfd, const char* path, int flags, mode_t mode) {
    if (const auto node = NodeNamed(dirfd, path)) {
        return gpaksim::Open(*node, flags);
    }
    bool handled = false;
    if (const int fd = OpenMachineFile(path, flags, handled); handled) {
        return fd;
    }
    return real != nullptr ? AfterRealOpen(real(dirfd, path, flags, mode)) : Missing();
}

int OpenAt2(OpenAt2Fn real, int dirfd, const char* path, int flags) {
    if (const auto node = NodeNamed(dirfd, path)) {
        return gpaksim::Open(*node, flags);
    }
    bool handled = false;
    if (const int fd = OpenMachineFile(path, flags, handled); handled) {
        return fd;
    }
    return real != nullptr ? AfterRealOpen(real(dirfd, path, flags)) : Missing();
}

int Close(CloseFn real, int fd) {
    if (Owns(fd)) {
        return gpaksim::Close(fd);
    }
    if (real == nullptr) {
        return Missing();
    }
    const int result = real(fd);
    if (result == 0) {
        ForgetClosed(fd);
    } else if (errno == EBADF) {
        ReportStaleUse(fd, "close");
        errno = EBADF;
    }
    return result;
}

int Ioctl(IoctlFn real, int fd, unsigned long request, void* arg) {
    if (Owns(fd)) {
        return gpaksim::Ioctl(fd, request, arg);
    }
    if (IsI2cRequest(request)) {
        ReportStaleUse(fd, "ioctl");
    }
    return real != nullptr ? real(fd, request, arg) : Missing();
}

ssize_t Read(ReadFn real, int fd, void* buf, std::size_t count) {
    if (Owns(fd)) {
        return gpaksim::Read(fd, buf, count);
    }
    return real != nullptr ? StaleIfBad(real(fd, buf, count), fd, "read") : Missing();
}

ssize_t ReadChk(ReadChkFn real, int fd, void* buf, std::size_t count, std::size_t buflen) {
    if (Owns(fd) && count <= buflen) {
        return gpaksim::Read(fd, buf, count);
    }
    // Also the overflow that the fortified read reports and aborts on.
    return real != nullptr ? StaleIfBad(real(fd, buf, count, buflen), fd, "read") : Missing();
}

ssize_t Write(WriteFn real, int fd, const void* buf, std::size_t count) {
    if (Owns(fd)) {
        return gpaksim::Write(fd, buf, count);
    }
    return real != nullptr ? StaleIfBad(real(fd, buf, count), fd, "write") : Missing();
}

int Flock(FlockFn real, int fd, int operation) {
    if (Owns(fd)) {
        return gpaksim::Flock(fd, operation);
    }
    return real != nullptr ? static_cast<int>(StaleIfBad(real(fd, operation), fd, "flock"))
                           : Missing();
}

unsigned Sleep(SleepFn real, unsigned seconds) {
    if (SleepVirtually(static_cast<std::int64_t>(seconds) * kNsPerS)) {
        return 0;
    }
    return real != nullptr ? real(seconds) : seconds;
}

int Usleep(UsleepFn real, useconds_t usec) {
    if (SleepVirtually(static_cast<std::int64_t>(usec) * 1000)) {
        return 0;
    }
    return real != nullptr ? real(usec) : Missing();
}

bool ClockNanosleepVirtually(clockid_t clock, int flags, std::int64_t sec, std::int64_t nsec,
                             int& error) {
    error = 0;
    if (nsec < 0 || nsec >= kNsPerS || sec < 0) {
        error = EINVAL;
        return true;
    }
    constexpr std::int64_t kLongest = INT64_MAX / kNsPerS - 1;  // no overflow below
    std::int64_t ns = (sec < kLongest ? sec : kLongest) * kNsPerS + nsec;
    if ((flags & TIMER_ABSTIME) != 0) {
        ns = UntilDeadline(clock, ns);
    }
    return SleepVirtually(ns);
}

}  // namespace gpaksim::interpose
