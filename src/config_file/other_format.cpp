#include "config_file/other_format.h"

#include <cstdio>

#include "common/hex_digit.h"
#include "common/text.h"
#include "config_file/line_reader.h"

namespace hexfile {

namespace {

using common::HexDigitValue;

// A line that is one whole S-record: 'S', the type digit, then hex digit
// pairs for the byte count, address, data and checksum (at least 4 bytes),
// the count matching the pairs after it and the one's complement checksum
// right. A comment written by hand ("S1 board", "Serial 1234") is none.
bool IsSRecord(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    if (line.size() < 10 || line.size() % 2 != 0 || line[0] != 'S' || line[1] < '0' ||
        line[1] > '9') {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 2; i < line.size(); i += 2) {
        const int high = HexDigitValue(line[i]);
        const int low = HexDigitValue(line[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        sum += static_cast<unsigned>(high * 16 + low);
    }
    const auto count = static_cast<unsigned>(HexDigitValue(line[2]) * 16 + HexDigitValue(line[3]));
    return count == (line.size() - 4) / 2 && (sum & 0xFF) == 0xFF;
}

// Whether line starts as an Intel HEX record does: ':' and at least the
// ten hex digits of the shortest record. A file with such a line is a hex
// record file, however damaged, and its own fault is the one to name.
bool StartsAsRecord(std::string_view line) {
    if (line.size() < 11 || line[0] != ':') {
        return false;
    }
    for (std::size_t i = 1; i < 11; ++i) {
        if (HexDigitValue(line[i]) < 0) {
            return false;
        }
    }
    return true;
}

// Where line holds its first byte that no text file holds: NUL or another
// control character (tab, vertical tab and form feed are text), or a byte
// that is no part of UTF-8 (as 0xFF, the byte of erased memory).
std::size_t FirstNonText(std::string_view line) {
    for (std::size_t i = 0; i < line.size();) {
        const auto byte = static_cast<unsigned char>(line[i]);
        if (byte >= 0x80) {
            const std::size_t length = common::Utf8Length(line, i);
            if (length == 0) {
                return i;
            }
            i += length;
            continue;
        }
        if ((byte < 0x20 && byte != '\t' && byte != '\v' && byte != '\f') || byte == 0x7F) {
            return i;
        }
        ++i;
    }
    return std::string_view::npos;
}

// The byte-order mark that starts a UTF-16 text: before a character of
// plain text, so that a memory image that starts FF FE is not taken for one.
const char* Utf16Mark(std::string_view text) {
    if (text.size() < 4) {
        return nullptr;
    }
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (at(0) == 0xFF && at(1) == 0xFE && at(2) != 0 && at(2) < 0x80 && at(3) == 0) {
        return "FF FE";
    }
    if (at(0) == 0xFE && at(1) == 0xFF && at(2) == 0 && at(3) != 0 && at(3) < 0x80) {
        return "FE FF";
    }
    return nullptr;
}

// The converted file: path with the extension ".hex", or with suffix and
// ".hex" where that is path itself, so the command never overwrites its input.
std::string ConvertedName(const std::string& path, const char* suffix) {
    const std::size_t slash = path.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= base) {
        dot = path.size();
    }
    const std::string stem = path.substr(0, dot);
    return stem + ".hex" == path ? stem + suffix + ".hex" : stem + ".hex";
}

// The words of a command that reads the file and writes the converted one.
struct Files {
    std::string in;
    std::string out;
};

// A pipe, or a file given as /dev/stdin or /proc/self/fd/N, has no name
// to write beside it, and may not be read again: the command is a filter.
Files FilesOf(const std::string& path, bool regular_file, const char* suffix) {
    if (!regular_file || path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0) {
        return {"-", "-"};
    }
    return {common::ShellWord(path), common::ShellWord(ConvertedName(path, suffix))};
}

// The srec_cat command that writes files.in, of format, as Intel HEX.
std::string SrecCat(const Files& files, const char* format) {
    return "srec_cat " + files.in + " " + format + " -o " + files.out + " -intel";
}

bool HoldsRecordStart(std::string_view text) {
    LineReader lines(text);
    while (const auto line = lines.Next()) {
        if (StartsAsRecord(*line)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<OtherFormat> RecogniseOtherFormat(std::string_view text, std::size_t read_to,
                                                const std::string& path, bool regular_file) {
    if (HoldsRecordStart(text)) {
        return std::nullopt;
    }
    const std::string_view read = text.substr(0, read_to);
    if (const char* mark = Utf16Mark(read)) {
        const Files files = FilesOf(path, regular_file, "-utf8");
        return OtherFormat{
            1, "a UTF-16 text file (byte-order mark " + std::string(mark) +
                   "), not plain text: convert it with iconv -f UTF-16 -t UTF-8 -o " + files.out +
                   " " + files.in};
    }
    const Files files = FilesOf(path, regular_file, "-intel");
    LineReader lines(read);
    while (const auto line = lines.Next()) {
        if (IsSRecord(*line)) {
            return OtherFormat{lines.LineNumber(),
                               "an S-record (Motorola) file, not Intel HEX: convert it with " +
                                   SrecCat(files, "-motorola")};
        }
        const std::size_t at = FirstNonText(*line);
        if (at != std::string_view::npos) {
            char what[64];
            std::snprintf(what, sizeof what, "a raw binary file (byte 0x%02X at column %u)",
                          static_cast<unsigned char>((*line)[at]), static_cast<unsigned>(at + 1));
            return OtherFormat{lines.LineNumber(), std::string(what) +
                                                       ", not Intel HEX: convert it with " +
                                                       SrecCat(files, "-binary")};
        }
    }
    return std::nullopt;
}

}  // namespace hexfile
