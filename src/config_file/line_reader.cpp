#include "config_file/line_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace hexfile {

FileText ReadFileText(int fd, std::size_t limit) {
    FileText file;
    char chunk[16384];
    while (file.text.size() <= limit) {
        const std::size_t wanted = std::min(sizeof chunk, limit + 1 - file.text.size());
        const ssize_t n = read(fd, chunk, wanted);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            file.error_number = errno;
            return file;
        }
        if (n == 0) {
            return file;
        }
        file.text.append(chunk, static_cast<std::size_t>(n));
    }
    file.too_large = true;
    return file;
}

std::optional<std::string_view> LineReader::Next() {
    if (rest_.empty()) {
        return std::nullopt;
    }
    ++number_;
    const std::size_t end = rest_.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        const std::string_view line = rest_;
        rest_ = {};
        return line;
    }
    const std::string_view line = rest_.substr(0, end);
    const bool crlf = rest_[end] == '\r' && end + 1 < rest_.size() && rest_[end + 1] == '\n';
    rest_.remove_prefix(end + (crlf ? 2 : 1));
    return line;
}

}  // namespace hexfile
