#include "cli/log/log_file.h"

#include <fcntl.h>
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

}  // namespace

const char* DeviceRefusal(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? RefusalOf(st) : nullptr;
}

std::string AppendLine(const std::string& path, const std::string& line) {
    common::UniqueFd fd(
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
    if (!fd.IsOpen()) {
        return std::strerror(errno);
    }
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) {
        return std::strerror(errno);
    }
    if (const char* refusal = RefusalOf(st)) {
        return refusal;
    }
    const ssize_t written = write(fd.Get(), line.data(), line.size());
    if (written < 0) {
        return std::strerror(errno);
    }
    if (static_cast<std::size_t>(written) != line.size()) {
        return "only " + std::to_string(written) + " of " + std::to_string(line.size()) +
               " bytes written";
    }
    // A file system may report a failed write only at the close (NFS, a full quota).
    return fd.Reset() == 0 ? "" : std::strerror(errno);
}

}  // namespace cli::log
