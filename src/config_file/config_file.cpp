#include "config_file/config_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A line is judged by its first 79 characters (one read of an 80-byte
// buffer); a record with its line break is 44 characters.
constexpr std::size_t kLineBufferSize = 80;
constexpr std::size_t kRecordLength = 44;
constexpr std::size_t kDataStart = 9;

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 0;
}

struct Line {
    char text[kLineBufferSize];
    std::size_t length;  // up to the first NUL, line break included
};

// Reads one line, keeping its first 79 characters and skipping the rest of
// it. Returns false at end of file (or on a read error) with nothing read.
bool ReadLine(std::FILE* file, Line& line) {
    std::size_t count = 0;
    bool ended = false;  // the line break was read
    bool any = false;
    int c = 0;
    while ((c = std::getc(file)) != EOF) {
        any = true;
        if (count < kLineBufferSize - 1) {
            line.text[count++] = static_cast<char>(c);
        }
        if (c == '\n') {
            ended = true;
            break;
        }
    }
    line.text[count] = '\0';
    if (!any) {
        return false;
    }
    line.length = std::strlen(line.text);
    // A last line without its line break is judged as if it had one.
    if (!ended && line.length == count && count < kLineBufferSize - 1) {
        ++line.length;
    }
    return true;
}

}  // namespace

int ReadConfigFile(const char* path, ConfigImage& image, int& records) {
    image.fill(0);
    records = 0;
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return 0;
    }
    std::size_t pos = 0;
    Line line{};
    while (pos < image.size() && ReadLine(file, line)) {
        if (line.length < kRecordLength) {
            break;
        }
        if (line.text[0] != ':') {
            continue;
        }
        for (std::size_t i = kDataStart; i < kDataStart + 32; i += 2) {
            image[pos++] = static_cast<std::uint8_t>(DigitValue(line.text[i]) * 16 +
                                                     DigitValue(line.text[i + 1]));
        }
        ++records;
    }
    const bool failed = std::ferror(file) != 0;
    const int saved_errno = errno;
    std::fclose(file);
    if (failed) {
        errno = saved_errno;
        return -1;
    }
    return 1;
}
