#include "config_file/config_file.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "common/unique_fd.h"
#include "config_file/file_rules.h"
#include "config_file/line_reader.h"

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

}  // namespace

ConfigFileResult ReadConfigFile(const std::string& path, ConfigImage& image) {
    image.fill(0);
    const gpakcfg::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsOpen()) {
        return Failed(ConfigFileStatus::kOpenFailed, errno);
    }
    const hexfile::FileText file = hexfile::ReadFileText(fd.Get(), kMaxFileSize);
    if (file.error_number != 0) {
        return Failed(ConfigFileStatus::kReadFailed, file.error_number);
    }
    if (file.too_large) {
        return Refused(path, "larger than 1 MiB, far more than a hex file of a 256-byte memory");
    }

    hexfile::ImageRules rules(image);
    hexfile::LineReader lines(file.text);
    std::string error;
    while (error.empty() && !rules.Ended()) {
        const auto line = lines.Next();
        if (!line) {
            break;
        }
        error = rules.TakeLine(*line);
    }
    if (error.empty()) {
        error = rules.Finish();
    }
    if (!error.empty()) {
        image.fill(0);
        return Refused(path + ":" + std::to_string(std::max(lines.LineNumber(), 1)), error);
    }
    ConfigFileResult result;
    result.records = rules.DataRecords();
    return result;
}
