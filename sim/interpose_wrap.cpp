// The libc overrides bound at link time, for a program that a preload
// cannot reach (a static one): linked with -Wl,--wrap=open and so on, every
// call the program's own code makes to open lands in __wrap_open, and
// __real_open is libc's open. What they do is in overrides.cpp. The list of
// wrapped names is in CMakeLists.txt.

// The symbols are named by their plain names here; the 64-bit time and
// file offset variants of 32-bit systems are named by hand below.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#undef _TIME_BITS

#include <sys/types.h>

#include <cstdarg>
#include <ctime>

#include "overrides.h"

namespace ov = gpaksim::overrides;

extern "C" {

int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);
int __real___open_2(const char* path, int flags);
int __real___open64_2(const char* path, int flags);
int __real_close(int fd);
int __real_flock(int fd, int operation);
int __real_ioctl(int fd, unsigned long request, ...);
unsigned __real_sleep(unsigned seconds);
int __real_usleep(useconds_t usec);
int __real_nanosleep(const timespec* request, timespec* remaining);
int __real_clock_nanosleep(clockid_t clock, int flags, const timespec* request,
                           timespec* remaining);

int __wrap_open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ov::ModeArgument(flags, args);
    va_end(args);
    return ov::Open(&__real_open, path, flags, mode);
}

int __wrap_open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ov::ModeArgument(flags, args);
    va_end(args);
    return ov::Open(&__real_open64, path, flags, mode);
}

int __wrap___open_2(const char* path, int flags) {
    return ov::Open2(&__real___open_2, path, flags);
}

int __wrap___open64_2(const char* path, int flags) {
    return ov::Open2(&__real___open64_2, path, flags);
}

int __wrap_close(int fd) { return ov::Close(&__real_close, fd); }

int __wrap_flock(int fd, int operation) { return ov::Flock(&__real_flock, fd, operation); }

int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    return ov::Ioctl(&__real_ioctl, fd, request, arg);
}

unsigned __wrap_sleep(unsigned seconds) { return ov::Sleep(&__real_sleep, seconds); }

int __wrap_usleep(useconds_t usec) { return ov::Usleep(&__real_usleep, usec); }

int __wrap_nanosleep(const timespec* request, timespec* remaining) {
    return ov::Nanosleep(&__real_nanosleep, request, remaining);
}

int __wrap_clock_nanosleep(clockid_t clock, int flags, const timespec* request,
                           timespec* remaining) {
    return ov::ClockNanosleep(&__real_clock_nanosleep, clock, flags, request, remaining);
}

#if __SIZEOF_POINTER__ == 4
int __real___ioctl_time64(int fd, unsigned long request, ...);
int __real___nanosleep64(const ov::Timespec64* request, ov::Timespec64* remaining);
int __real___clock_nanosleep_time64(clockid_t clock, int flags, const ov::Timespec64* request,
                                    ov::Timespec64* remaining);

int __wrap___ioctl_time64(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    return ov::Ioctl(&__real___ioctl_time64, fd, request, arg);
}

int __wrap___nanosleep64(const ov::Timespec64* request, ov::Timespec64* remaining) {
    return ov::Nanosleep(&__real___nanosleep64, request, remaining);
}

int __wrap___clock_nanosleep_time64(clockid_t clock, int flags, const ov::Timespec64* request,
                                    ov::Timespec64* remaining) {
    return ov::ClockNanosleep(&__real___clock_nanosleep_time64, clock, flags, request, remaining);
}
#endif

}  // extern "C"
