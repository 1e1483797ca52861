// libc overrides that route the program's calls on /dev/i2c-1, and its
// sleeps in virtual time, to the simulator; everything else goes to libc
// untouched. Linked into a program, or preloaded into one.

// The symbols are defined by their plain names here; the 64-bit time and
// file offset variants of 32-bit systems are defined by hand below.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>

#include "sim.h"

namespace {

// The next definition of name after this one: libc's.
template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int Missing() {
    errno = ENOSYS;
    return -1;
}

using OpenFn = int (*)(const char*, int, ...);
using Open2Fn = int (*)(const char*, int);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);

mode_t ModeArgument(int flags, va_list args) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE
               ? static_cast<mode_t>(va_arg(args, unsigned))
               : 0;
}

int AfterRealOpen(int fd) {
    if (fd >= 0) {
        gpaksim::ForgetClosed(fd);
    }
    return fd;
}

int OpenVia(OpenFn real, const char* path, int flags, mode_t mode) {
    if (gpaksim::IsDevicePath(path)) {
        return gpaksim::Open(flags);
    }
    return real != nullptr ? AfterRealOpen(real(path, flags, mode)) : Missing();
}

int Open2Via(Open2Fn real, const char* path, int flags) {
    if (gpaksim::IsDevicePath(path)) {
        return gpaksim::Open(flags);
    }
    return real != nullptr ? AfterRealOpen(real(path, flags)) : Missing();
}

int IoctlVia(IoctlFn real, int fd, unsigned long request, void* arg) {
    if (gpaksim::Owns(fd)) {
        return gpaksim::Ioctl(request, arg);
    }
    if (gpaksim::IsI2cRequest(request)) {
        gpaksim::ReportStaleUse(fd, "ioctl");
    }
    return real != nullptr ? real(fd, request, arg) : Missing();
}

constexpr std::int64_t kNsPerS = 1'000'000'000;

// Virtual time: the sleep returns at once and the simulator's clock moves.
bool SleepVirtually(std::int64_t ns) {
    if (!gpaksim::VirtualTime()) {
        return false;
    }
    gpaksim::AdvanceClock(ns);
    return true;
}

std::int64_t UntilDeadline(clockid_t clock, std::int64_t deadline_ns) {
    timespec now{};
    clock_gettime(clock, &now);
    return deadline_ns - (static_cast<std::int64_t>(now.tv_sec) * kNsPerS + now.tv_nsec);
}

// Shared by the plain and the 64-bit time variants of clock_nanosleep.
template <typename Seconds, typename Nanoseconds>
int VirtualClockNanosleep(clockid_t clock, int flags, Seconds sec, Nanoseconds nsec,
                          bool& handled) {
    handled = false;
    if (nsec < 0 || nsec >= kNsPerS || sec < 0) {
        handled = true;
        return EINVAL;
    }
    std::int64_t ns = static_cast<std::int64_t>(sec) * kNsPerS + nsec;
    if ((flags & TIMER_ABSTIME) != 0) {
        ns = UntilDeadline(clock, ns);
    }
    handled = SleepVirtually(ns);
    return 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    static const auto real = Next<OpenFn>("open");
    return OpenVia(real, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    static const auto real = Next<OpenFn>("open64");
    return OpenVia(real, path, flags, mode);
}

// What open() becomes under _FORTIFY_SOURCE when the flags are not constant.
int __open_2(const char* path, int flags) {
    static const auto real = Next<Open2Fn>("__open_2");
    return Open2Via(real, path, flags);
}

int __open64_2(const char* path, int flags) {
    static const auto real = Next<Open2Fn>("__open64_2");
    return Open2Via(real, path, flags);
}

int close(int fd) {
    if (gpaksim::Owns(fd)) {
        return gpaksim::Close(fd);
    }
    static const auto real = Next<CloseFn>("close");
    if (real == nullptr) {
        return Missing();
    }
    const int result = real(fd);
    if (result == 0) {
        gpaksim::ForgetClosed(fd);
    } else if (errno == EBADF) {
        gpaksim::ReportStaleUse(fd, "close");
        errno = EBADF;
    }
    return result;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    static const auto real = Next<IoctlFn>("ioctl");
    return IoctlVia(real, fd, request, arg);
}

unsigned sleep(unsigned seconds) {
    if (SleepVirtually(static_cast<std::int64_t>(seconds) * kNsPerS)) {
        return 0;
    }
    static const auto real = Next<unsigned (*)(unsigned)>("sleep");
    return real != nullptr ? real(seconds) : seconds;
}

int usleep(useconds_t usec) {
    if (SleepVirtually(static_cast<std::int64_t>(usec) * 1000)) {
        return 0;
    }
    static const auto real = Next<int (*)(useconds_t)>("usleep");
    return real != nullptr ? real(usec) : Missing();
}

int nanosleep(const timespec* request, timespec* remaining) {
    if (request != nullptr) {
        bool handled = false;
        const int error =
            VirtualClockNanosleep(CLOCK_MONOTONIC, 0, request->tv_sec, request->tv_nsec, handled);
        if (handled) {
            if (remaining != nullptr && error == 0) {
                *remaining = timespec{};
            }
            errno = error;
            return error == 0 ? 0 : -1;
        }
    }
    static const auto real = Next<int (*)(const timespec*, timespec*)>("nanosleep");
    return real != nullptr ? real(request, remaining) : Missing();
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* request, timespec* remaining) {
    if (request != nullptr) {
        bool handled = false;
        const int error =
            VirtualClockNanosleep(clock, flags, request->tv_sec, request->tv_nsec, handled);
        if (handled) {
            return error;
        }
    }
    static const auto real =
        Next<int (*)(clockid_t, int, const timespec*, timespec*)>("clock_nanosleep");
    return real != nullptr ? real(clock, flags, request, remaining) : ENOSYS;
}

#if __SIZEOF_POINTER__ == 4
// 32-bit programs built with 64-bit time_t (-D_TIME_BITS=64) call these.
struct Timespec64 {
    std::int64_t tv_sec;
    std::int32_t tv_nsec;
    std::int32_t padding;
};

int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    static const auto real = Next<IoctlFn>("__ioctl_time64");
    return IoctlVia(real, fd, request, arg);
}

int __nanosleep64(const Timespec64* request, Timespec64* remaining) {
    if (request != nullptr) {
        bool handled = false;
        const int error =
            VirtualClockNanosleep(CLOCK_MONOTONIC, 0, request->tv_sec, request->tv_nsec, handled);
        if (handled) {
            if (remaining != nullptr && error == 0) {
                *remaining = Timespec64{};
            }
            errno = error;
            return error == 0 ? 0 : -1;
        }
    }
    static const auto real = Next<int (*)(const Timespec64*, Timespec64*)>("__nanosleep64");
    return real != nullptr ? real(request, remaining) : Missing();
}

int __clock_nanosleep_time64(clockid_t clock, int flags, const Timespec64* request,
                             Timespec64* remaining) {
    if (request != nullptr) {
        bool handled = false;
        const int error =
            VirtualClockNanosleep(clock, flags, request->tv_sec, request->tv_nsec, handled);
        if (handled) {
            return error;
        }
    }
    static const auto real = Next<int (*)(clockid_t, int, const Timespec64*, Timespec64*)>(
        "__clock_nanosleep_time64");
    return real != nullptr ? real(clock, flags, request, remaining) : ENOSYS;
}
#endif

}  // extern "C"
