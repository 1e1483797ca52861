#include "cli/log/log_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/unique_fd.h"

namespace cli::log {

namespace {

constexpr unsigned kI2cMajor = 89;  // the i2c-dev nodes' major number

// Why the log cannot be the file st describes, or nullptr.
const char* RefusalOf(const struct stat& st) {
    if (S_ISBLK(st.st_mode)) {
        return "a block device, not a log file";
    }
    if (S_ISCHR(st.st_mode) && major(st.st_rdev) == kI2cMajor) {
        return "an I2C adapter, not a log file";
    }
    return nullptr;
}

// How long a line may wait for the reader of a FIFO (or a terminal) to
// make room for it.
constexpr int kReaderWaitMs = 10000;

std::string ErrorText(int error) { return std::strerror(error); }

// Writes line whole to a descriptor that is no regular file, opened without
// blocking: a reader that takes nothing fails the line instead of the run
// waiting for ever.
std::string WriteToReader(int fd, const std::string& line) {
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            return ErrorText(n == 0 ? EIO : errno);
        }
        pollfd room{fd, POLLOUT, 0};
        const int ready = poll(&room, 1, kReaderWaitMs);
        if (ready == 0) {
            return "its reader took nothing for " + std::to_string(kReaderWaitMs / 1000) + " s";
        }
        if (ready < 0 && errno != EINTR) {
            return ErrorText(errno);
        }
    }
    return "";
}

// Appends line to a regular file under an exclusive lock: a line that is
// not written whole is taken back, so that the file ends on a whole line.
std::string AppendLocked(int fd, const std::string& line) {
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return ErrorText(errno);
        }
    }
    struct stat before {};
    if (fstat(fd, &before) != 0) {
        return ErrorText(errno);
    }
    const ssize_t written = write(fd, line.data(), line.size());
    int error = written < 0 ? errno : EIO;
    if (written >= 0) {
        // Short: the rest, whose error says why (a full disk, ulimit -f).
        const auto rest = line.size() - static_cast<std::size_t>(written);
        const ssize_t more = write(fd, line.data() + written, rest);
        if (more == static_cast<ssize_t>(rest)) {
            return "";
        }
        error = more < 0 ? errno : EIO;
    }
    std::string why = ErrorText(error);
    if (ftruncate(fd, before.st_size) != 0) {
        return why + "; the part written could not be taken back: " + ErrorText(errno);
    }
    return why + " (the part written was taken back)";
}

}  // namespace

const char* DeviceRefusal(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? RefusalOf(st) : nullptr;
}

std::string AppendLine(const std::string& path, const std::string& line) {
    // A FIFO without a reader fails at once (ENXIO) instead of waiting for one.
    common::UniqueFd fd(open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!fd.IsOpen()) {
        return ErrorText(errno);
    }
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) {
        return ErrorText(errno);
    }
    if (const char* refusal = RefusalOf(st)) {
        return refusal;
    }
    std::string error =
        S_ISREG(st.st_mode) ? AppendLocked(fd.Get(), line) : WriteToReader(fd.Get(), line);
    if (!error.empty()) {
        return error;
    }
    // A file system may report a failed write only at the close (NFS, a full quota).
    return fd.Reset() == 0 ? "" : ErrorText(errno);
}

}  // namespace cli::log
