#include "config_file/config_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/unique_fd.h"
#include "config_file/file_rules.h"
#include "config_file/line_reader.h"
#include "config_file/other_format.h"

namespace {

// Far more than any hex file of a 256-byte memory, and little enough to
// read at once: a device, a log or a disk image given by mistake is
// refused without being read to its end.
constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

ConfigFileResult Refused(const std::string& where, const std::string& error) {
    ConfigFileResult result;
    result.status = ConfigFileStatus::kRefused;
    result.refusal = where + ": " + error;
    return result;
}

ConfigFileResult Failed(ConfigFileStatus status, int error_number) {
    ConfigFileResult result;
    result.status = status;
    result.error_number = error_number;
    return result;
}

// What a descriptor of this mode stands for when it is no file to read:
// there a read(2) is an operation of the device (on an I2C node, a bus
// transfer), and its end may never come.
const char* DeviceKind(int fd, mode_t mode) {
    if (S_ISCHR(mode) && isatty(fd) == 1) {
        return "a terminal";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    return S_ISSOCK(mode) ? "a socket" : nullptr;
}

// A pipe opened before its writer would read as empty: waits, as a plain
// open would, for the writer's first data or its end. Returns 0 or errno.
int WaitForWriter(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return errno;
    }
    pollfd ready{fd, POLLIN, 0};
    while (poll(&ready, 1, -1) < 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// Fills image from the file's text, or refuses it at its first fault; a
// file without records that looks like another format is refused as such,
// with the conversion that makes it usable.
ConfigFileResult ReadText(const std::string& path, std::string_view text, bool regular_file,
                          ConfigImage& image) {
    hexfile::ImageRules rules(image);
    hexfile::LineReader lines(text);
    std::string error;
    std::size_t read_to = 0;  // where the last line read ends
    while (error.empty() && !rules.Ended()) {
        const auto line = lines.Next();
        if (!line) {
            break;
        }
        read_to = static_cast<std::size_t>(line->data() - text.data()) + line->size();
        error = rules.TakeLine(*line);
    }
    if (error.empty()) {
        error = rules.Finish();
    }
    if (error.empty()) {
        ConfigFileResult result;
        result.records = rules.DataRecords();
        return result;
    }
    image.fill(0);
    if (const auto other = hexfile::RecogniseOtherFormat(text, read_to, path, regular_file)) {
        return Refused(path + ":" + std::to_string(other->line), other->message);
    }
    return Refused(path + ":" + std::to_string(std::max(lines.LineNumber(), 1)), error);
}

}  // namespace

std::string FileName(const std::string& path) {
    return path == kStandardInput ? kStandardInputName : path;
}

ConfigFileResult ReadConfigFile(const std::string& path, ConfigImage& image) {
    image.fill(0);
    const std::string name = FileName(path);
    // Opening a FIFO without a writer, or a device that waits for a line,
    // returns at once; a terminal never becomes the controlling one.
    // Standard input is read through a descriptor of its own.
    const common::UniqueFd fd(
        path == kStandardInput ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                               : open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.IsOpen()) {
        return Failed(ConfigFileStatus::kOpenFailed, errno);
    }
    // What was opened, not what the name said a moment before.
    struct stat opened {};
    if (fstat(fd.Get(), &opened) != 0) {
        return Failed(ConfigFileStatus::kReadFailed, errno);
    }
    if (const char* kind = DeviceKind(fd.Get(), opened.st_mode)) {
        return Refused(name,
                       std::string(kind) + ", not a hex record file: nothing was read from it");
    }
    const int waited = S_ISFIFO(opened.st_mode) ? WaitForWriter(fd.Get()) : 0;
    if (waited != 0) {
        return Failed(ConfigFileStatus::kReadFailed, waited);
    }
    const hexfile::FileText file = hexfile::ReadFileText(fd.Get(), kMaxFileSize);
    if (file.error_number != 0) {
        return Failed(ConfigFileStatus::kReadFailed, file.error_number);
    }
    if (file.too_large) {
        return Refused(name, "larger than 1 MiB, far more than a hex file of a 256-byte memory");
    }
    // Standard input has no name that a conversion command could write beside.
    const bool regular_file = S_ISREG(opened.st_mode) && path != kStandardInput;
    return ReadText(name, file.text, regular_file, image);
}
