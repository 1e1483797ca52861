// What each libc override does, whichever way it reaches libc's own
// function: looked up at run time when preloaded or linked into a test
// (interpose.cpp), or bound at link time with -Wl,--wrap in a program that
// a preload cannot reach, such as a static one (interpose_wrap.cpp). Which
// entry points are overridden, and by which handler here, is listed once,
// in overrides.def; the macros at the end build an override from an entry.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <ctime>

namespace gpaksim::interpose {

using OpenFn = int (*)(const char*, int, ...);
using Open2Fn = int (*)(const char*, int);
using OpenAtFn = int (*)(int, const char*, int, ...);
using OpenAt2Fn = int (*)(int, const char*, int);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);
using ReadFn = ssize_t (*)(int, void*, std::size_t);
using ReadChkFn = ssize_t (*)(int, void*, std::size_t, std::size_t);
using WriteFn = ssize_t (*)(int, const void*, std::size_t);
using FlockFn = int (*)(int, int);
using SleepFn = unsigned (*)(unsigned);
using UsleepFn = int (*)(useconds_t);

// The mode argument, which open() takes only with O_CREAT or O_TMPFILE.
mode_t ModeArgument(int flags, va_list args);

// Each takes libc's own function as real; null when it could not be found.
int Open(OpenFn real, const char* path, int flags, mode_t mode);
int Open2(Open2Fn real, const char* path, int flags);
int OpenAt(OpenAtFn real, int dirfd, const char* path, int flags, mode_t mode);
int OpenAt2(OpenAt2Fn real, int dirfd, const char* path, int flags);
int Close(CloseFn real, int fd);
int Ioctl(IoctlFn real, int fd, unsigned long request, void* arg);
ssize_t Read(ReadFn real, int fd, void* buf, std::size_t count);
ssize_t ReadChk(ReadChkFn real, int fd, void* buf, std::size_t count, std::size_t buflen);
ssize_t Write(WriteFn real, int fd, const void* buf, std::size_t count);
int Flock(FlockFn real, int fd, int operation);
unsigned Sleep(SleepFn real, unsigned seconds);
int Usleep(UsleepFn real, useconds_t usec);

// In virtual time the simulator takes the sleep: true, with error set to 0
// or the errno value the sleep fails with. False: libc has to sleep.
bool ClockNanosleepVirtually(clockid_t clock, int flags, std::int64_t sec, std::int64_t nsec,
                             int& error);

// Timespec is timespec or, on 32-bit systems, Timespec64 below.
template <typename Timespec>
int Nanosleep(int (*real)(const Timespec*, Timespec*), const Timespec* request,
              Timespec* remaining) {
    int error = 0;
    if (request != nullptr &&
        ClockNanosleepVirtually(CLOCK_MONOTONIC, 0, request->tv_sec, request->tv_nsec, error)) {
        if (remaining != nullptr && error == 0) {
            *remaining = Timespec{};
        }
        errno = error;
        return error == 0 ? 0 : -1;
    }
    if (real == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return real(request, remaining);
}

template <typename Timespec>
int ClockNanosleep(int (*real)(clockid_t, int, const Timespec*, Timespec*), clockid_t clock,
                   int flags, const Timespec* request, Timespec* remaining) {
    int error = 0;
    if (request != nullptr &&
        ClockNanosleepVirtually(clock, flags, request->tv_sec, request->tv_nsec, error)) {
        return error;
    }
    return real != nullptr ? real(clock, flags, request, remaining) : ENOSYS;
}

#if __SIZEOF_POINTER__ == 4
// The timespec of 32-bit programs built with 64-bit time_t
// (-D_TIME_BITS=64), which call __ioctl_time64, __nanosleep64 and
// __clock_nanosleep_time64.
struct Timespec64 {
    std::int64_t tv_sec;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    std::int32_t padding;
    std::int32_t tv_nsec;
#else
    std::int32_t tv_nsec;
    std::int32_t padding;
#endif
};
#endif

}  // namespace gpaksim::interpose

// The pieces of an override made from an entry of overrides.def: whether
// it exists on this system, and how its variadic argument is taken.
#define GPAKSIM_WHERE_ALL(...) __VA_ARGS__
#if __SIZEOF_POINTER__ == 4
#define GPAKSIM_WHERE_ILP32(...) __VA_ARGS__
#else
#define GPAKSIM_WHERE_ILP32(...)
#endif
#define GPAKSIM_TAKE_PLAIN
#define GPAKSIM_TAKE_MODE                                            \
    va_list va;                                                      \
    va_start(va, flags);                                             \
    const mode_t mode = gpaksim::interpose::ModeArgument(flags, va); \
    va_end(va);
#define GPAKSIM_TAKE_ARG           \
    va_list va;                    \
    va_start(va, request);         \
    void* arg = va_arg(va, void*); \
    va_end(va);
#define GPAKSIM_ARGUMENTS(...) __VA_ARGS__
