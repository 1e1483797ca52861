// Test support for the hex record reader: record lines made with their
// checksums, the counting image (byte i is i) and the files that hold it,
// and a fixture that reads a file's content and checks what came of it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "config_file/config_file.h"
#include "run_command.h"

namespace gpaktest {

inline const std::string kEndRecord = ":00000001FF";

// An Intel HEX record line with its checksum; digits in upper case unless
// lower_case.
inline std::string Rec(unsigned type, unsigned addr, const std::vector<unsigned>& data,
                       bool lower_case = false) {
    unsigned sum = static_cast<unsigned>(data.size()) + (addr >> 8) + (addr & 0xFF) + type;
    char text[16];
    std::snprintf(text, sizeof text, lower_case ? ":%02x%04x%02x" : ":%02X%04X%02X",
                  static_cast<unsigned>(data.size()), addr, type);
    std::string line = text;
    for (const unsigned byte : data) {
        sum += byte;
        std::snprintf(text, sizeof text, lower_case ? "%02x" : "%02X", byte);
        line += text;
    }
    std::snprintf(text, sizeof text, lower_case ? "%02x" : "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}

// A Motorola S-record line: S1, S5 and S9 have 2 address bytes, S2 and S8
// 3, S3 and S7 4.
inline std::string SRec(char type, unsigned addr, const std::vector<unsigned>& data) {
    const unsigned address_bytes = type == '3' || type == '7'   ? 4
                                   : type == '2' || type == '8' ? 3
                                                                : 2;
    std::vector<unsigned> bytes = {static_cast<unsigned>(address_bytes + data.size() + 1)};
    for (unsigned i = address_bytes; i-- > 0;) {
        bytes.push_back(addr >> (8 * i) & 0xFF);
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = {'S', type};
    char text[4];
    for (const unsigned byte : bytes) {
        sum += byte;
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
    }
    std::snprintf(text, sizeof text, "%02X", ~sum & 0xFF);
    return line + text;
}

// n bytes of the counting image from addr on.
inline std::vector<unsigned> Counting(unsigned addr, unsigned n) {
    std::vector<unsigned> data;
    for (unsigned i = 0; i < n; ++i) {
        data.push_back((addr + i) & 0xFF);
    }
    return data;
}

// A data record of n bytes of the counting image from addr on.
inline std::string Data(unsigned addr, unsigned n, bool lower_case = false) {
    return Rec(0, addr, Counting(addr, n), lower_case);
}

// The first total bytes of the counting image in records of size bytes.
inline Strings CountingLines(unsigned size, unsigned total = 256) {
    Strings lines;
    for (unsigned addr = 0; addr < total; addr += size) {
        lines.push_back(Data(addr, std::min(size, total - addr)));
    }
    return lines;
}

// The lines, each ended by eol.
inline std::string Join(const Strings& lines, const std::string& eol = "\n") {
    std::string text;
    for (const std::string& line : lines) {
        text += line + eol;
    }
    return text;
}

// The counting image in its first filled bytes, 0x00 after them.
inline ConfigImage CountingImage(std::size_t filled = 256) {
    ConfigImage image{};
    for (std::size_t i = 0; i < filled; ++i) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    return image;
}

// One file of a table: taken (line 0) with the image it gives, or refused
// at line with message.
struct FileCase {
    std::string content;
    int line = 0;
    std::string message;
    ConfigImage image{};
    int records = -1;  // the data records taken, -1 when not checked
};

inline FileCase Taken(const std::string& content, const ConfigImage& image = CountingImage(),
                      int records = -1) {
    return {content, 0, "", image, records};
}

inline FileCase Refused(const std::string& content, int line, const std::string& message) {
    return {content, line, message, {}, -1};
}

// A row of the table: one rule, named as its test, and the files that show it.
struct FileRow {
    std::string name;
    std::vector<FileCase> files;
};

inline void PrintTo(const FileRow& row, std::ostream* os) { *os << row.name; }

inline std::string RowName(const testing::TestParamInfo<FileRow>& info) { return info.param.name; }

class ConfigFileTest : public testing::Test {
protected:
    // Reads content as config.hex; the image starts as garbage to prove the clearing.
    ConfigFileResult Read(const std::string& content) {
        image.fill(0xEE);
        return ReadConfigFile(dir.Write("config.hex", content), image);
    }

    // Expects content to be taken and to give expected (of records data
    // records, unless records is -1).
    void ExpectTaken(const std::string& content, const ConfigImage& expected, int records = -1) {
        const ConfigFileResult result = Read(content);
        EXPECT_EQ(result.status, ConfigFileStatus::kRead) << result.refusal << "\n" << content;
        EXPECT_EQ(image, expected) << content;
        if (records >= 0) {
            EXPECT_EQ(result.records, records) << content;
        }
    }

    // Expects content to be refused with "config.hex:LINE: message".
    void ExpectRefused(const std::string& content, int line, const std::string& message) {
        const ConfigFileResult result = Read(content);
        EXPECT_EQ(result.status, ConfigFileStatus::kRefused) << content;
        EXPECT_EQ(result.refusal,
                  dir.Path("config.hex") + ":" + std::to_string(line) + ": " + message)
            << content;
        EXPECT_EQ(image, ConfigImage{}) << "a refused file leaves nothing in the image";
    }

    TempDir dir;
    ConfigImage image{};
};

// The table's test: every file of the row read as config.hex. Its rows are
// instantiated where they are written.
class RecordRules : public ConfigFileTest, public testing::WithParamInterface<FileRow> {};

}  // namespace gpaktest
