#include "raw/raw_io.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace gpaksim::raw {

int Open(const char* path, int flags, mode_t mode) {
    const int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags | O_CLOEXEC, mode));
    return fd < 0 ? -1 : AboveStandardStreams(fd);
}

int AboveStandardStreams(int fd) {
    if (fd < 0 || fd >= kFirstPrivateFd) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kFirstPrivateFd);
    const int error = errno;
    Close(fd);
    errno = error;
    return moved;
}

void Close(int fd) {
    if (fd >= 0) {
        syscall(SYS_close, fd);
    }
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const auto n = syscall(SYS_write, fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReadWhole(int fd, std::string& text, std::size_t limit) {
    text.clear();
    char chunk[8192];  // a state file in one read
    while (text.size() < limit) {
        const std::size_t want = std::min(sizeof chunk, limit - text.size());
        const ssize_t n = pread(fd, chunk, want, static_cast<off_t>(text.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        text.append(chunk, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < want) {
            break;  // a regular file reads short only at its end
        }
    }
    return true;
}

int Fail(int error) {
    errno = error;
    return -1;
}

SavedErrno::SavedErrno() : saved_(errno) {}
SavedErrno::~SavedErrno() { errno = saved_; }

}  // namespace gpaksim::raw
