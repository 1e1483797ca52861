// A file's text, read whole up to a size limit, and its lines.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace hexfile {

struct FileText {
    std::string text;
    int error_number = 0;    // errno of a failed read; 0 when read
    bool too_large = false;  // the file holds more than the limit
};

// Reads everything from fd, but never more than limit + 1 bytes, so that
// an endless file (a device, a pipe) ends at once.
FileText ReadFileText(int fd, std::size_t limit);

// The lines of a text, each without its line break: a line feed, a
// carriage return and line feed, or a carriage return alone. A last line
// without a line break is a line; a line break at the very end opens none.
class LineReader {
public:
    explicit LineReader(std::string_view text) : rest_(text) {}

    // The next line, or nothing after the last one.
    std::optional<std::string_view> Next();

    // The number of the line Next returned last, from 1; 0 before the first.
    [[nodiscard]] int LineNumber() const { return number_; }

private:
    std::string_view rest_;
    int number_ = 0;
};

}  // namespace hexfile
