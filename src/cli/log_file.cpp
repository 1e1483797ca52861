#include "cli/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "common/unique_fd.h"
#include "config_file/save.h"

namespace cli {

namespace {

constexpr unsigned kI2cMajor = 89;  // the i2c-dev nodes' major number

// Why the log cannot be the file st describes, or nullptr.
const char* DeviceRefusal(const struct stat& st) {
    if (S_ISBLK(st.st_mode)) {
        return "a block device, not a log file";
    }
    if (S_ISCHR(st.st_mode) && major(st.st_rdev) == kI2cMajor) {
        return "an I2C adapter, not a log file";
    }
    return nullptr;
}

}  // namespace

std::string LogRefusal(const Settings& settings) {
    if (!settings.log_file) {
        return "";
    }
    const std::string& log = *settings.log_file;
    const std::pair<const char*, const std::optional<std::string>&> others[] = {
        {"-w", settings.write_file},
        {"--verify", settings.verify_file},
        {"--save", settings.save_file},
    };
    for (const auto& [option, other] : others) {
        if (other && hexfile::SameFile(log, *other)) {
            return "--log " + log + ": the same file as " + option + " " + *other +
                   ": the line would be appended to it; log to another file";
        }
    }
    struct stat st {};
    const char* refusal = stat(log.c_str(), &st) == 0 ? DeviceRefusal(st) : nullptr;
    if (log == settings.bus || refusal != nullptr) {
        return "--log " + log + ": " + (refusal != nullptr ? refusal : "the bus, not a log file");
    }
    return "";
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
    if (const char* refusal = DeviceRefusal(st)) {
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

}  // namespace cli
