// libc overrides that route the program's calls on the node, and its
// sleeps in virtual time, to the simulator; everything else goes to libc
// untouched. Linked into a program, or preloaded into one. What they do is
// in overrides.cpp; here they find libc's own functions with dlsym.

// The symbols are defined by their plain names here; the 64-bit time and
// file offset variants of 32-bit systems are defined by hand below.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#undef _TIME_BITS

#include <dlfcn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>
#include <ctime>

#include "overrides.h"

namespace {

namespace ov = gpaksim::overrides;

// The next definition of name after this one: libc's.
template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

// The overrides are what the library exports.
#pragma GCC visibility push(default)
extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ov::ModeArgument(flags, args);
    va_end(args);
    static const auto real = Next<ov::OpenFn>("open");
    return ov::Open(real, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ov::ModeArgument(flags, args);
    va_end(args);
    static const auto real = Next<ov::OpenFn>("open64");
    return ov::Open(real, path, flags, mode);
}

// What open() becomes under _FORTIFY_SOURCE when the flags are not constant.
int __open_2(const char* path, int flags) {
    static const auto real = Next<ov::Open2Fn>("__open_2");
    return ov::Open2(real, path, flags);
}

int __open64_2(const char* path, int flags) {
    static const auto real = Next<ov::Open2Fn>("__open64_2");
    return ov::Open2(real, path, flags);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ov::ModeArgument(flags, args);
    va_end(args);
    static const auto real = Next<ov::OpenAtFn>("openat");
    return ov::OpenAt(real, dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ov::ModeArgument(flags, args);
    va_end(args);
    static const auto real = Next<ov::OpenAtFn>("openat64");
    return ov::OpenAt(real, dirfd, path, flags, mode);
}

int __openat_2(int dirfd, const char* path, int flags) {
    static const auto real = Next<ov::OpenAt2Fn>("__openat_2");
    return ov::OpenAt2(real, dirfd, path, flags);
}

int __openat64_2(int dirfd, const char* path, int flags) {
    static const auto real = Next<ov::OpenAt2Fn>("__openat64_2");
    return ov::OpenAt2(real, dirfd, path, flags);
}

ssize_t read(int fd, void* buf, size_t count) {
    static const auto real = Next<ov::ReadFn>("read");
    return ov::Read(real, fd, buf, count);
}

// What read() becomes under _FORTIFY_SOURCE when the buffer's size is known.
ssize_t __read_chk(int fd, void* buf, size_t count, size_t buflen) {
    static const auto real = Next<ov::ReadChkFn>("__read_chk");
    return ov::ReadChk(real, fd, buf, count, buflen);
}

ssize_t write(int fd, const void* buf, size_t count) {
    static const auto real = Next<ov::WriteFn>("write");
    return ov::Write(real, fd, buf, count);
}

int flock(int fd, int operation) {
    static const auto real = Next<ov::FlockFn>("flock");
    return ov::Flock(real, fd, operation);
}

int close(int fd) {
    static const auto real = Next<ov::CloseFn>("close");
    return ov::Close(real, fd);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    static const auto real = Next<ov::IoctlFn>("ioctl");
    return ov::Ioctl(real, fd, request, arg);
}

unsigned sleep(unsigned seconds) {
    static const auto real = Next<ov::SleepFn>("sleep");
    return ov::Sleep(real, seconds);
}

int usleep(useconds_t usec) {
    static const auto real = Next<ov::UsleepFn>("usleep");
    return ov::Usleep(real, usec);
}

int nanosleep(const timespec* request, timespec* remaining) {
    static const auto real = Next<int (*)(const timespec*, timespec*)>("nanosleep");
    return ov::Nanosleep(real, request, remaining);
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* request, timespec* remaining) {
    static const auto real =
        Next<int (*)(clockid_t, int, const timespec*, timespec*)>("clock_nanosleep");
    return ov::ClockNanosleep(real, clock, flags, request, remaining);
}

#if __SIZEOF_POINTER__ == 4
// 32-bit programs built with 64-bit time_t (-D_TIME_BITS=64) call these.
int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    static const auto real = Next<ov::IoctlFn>("__ioctl_time64");
    return ov::Ioctl(real, fd, request, arg);
}

int __nanosleep64(const ov::Timespec64* request, ov::Timespec64* remaining) {
    static const auto real = Next<int (*)(const ov::Timespec64*, ov::Timespec64*)>("__nanosleep64");
    return ov::Nanosleep(real, request, remaining);
}

int __clock_nanosleep_time64(clockid_t clock, int flags, const ov::Timespec64* request,
                             ov::Timespec64* remaining) {
    static const auto real = Next<int (*)(clockid_t, int, const ov::Timespec64*, ov::Timespec64*)>(
        "__clock_nanosleep_time64");
    return ov::ClockNanosleep(real, clock, flags, request, remaining);
}
#endif

}  // extern "C"
#pragma GCC visibility pop
