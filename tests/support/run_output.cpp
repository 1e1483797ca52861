#include "run_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "hex_records.h"
#include "run_command.h"

namespace gpaktest {

namespace {

constexpr char kTableHeader[] = "Page |  0 1 2 3 4 5 6 7 8 9 A B C D E F";

// Row row of a table: "0x0C | " and 32 hex digits.
bool ParseRow(const std::string& line, int row, std::uint8_t* bytes) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "0x%02X | ", row);
    if (line.size() != 7 + 32 || line.compare(0, 7, prefix) != 0) {
        return false;
    }
    for (int col = 0; col < 16; ++col) {
        unsigned value = 0;
        if (std::sscanf(line.c_str() + 7 + col * 2, "%2x", &value) != 1) {
            return false;
        }
        bytes[col] = static_cast<std::uint8_t>(value);
    }
    return true;
}

}  // namespace

testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    const bool found = text.find(part) != std::string::npos;
    return (found ? testing::AssertionSuccess() : testing::AssertionFailure())
           << "\"" << part << "\" is" << (found ? "" : " not") << " in:\n"
           << text;
}

bool TraceLine::Acked() const {
    return text.size() >= 4 && text.compare(text.size() - 4, 4, " ACK") == 0;
}

Trace ParseTrace(const std::string& text) {
    Trace trace;
    for (const std::string& line : Lines(text)) {
        std::istringstream fields(line);
        TraceLine parsed;
        if (fields >> parsed.time_s && std::getline(fields >> std::ws, parsed.text) &&
            parsed.text.compare(0, 2, "0x") == 0) {
            trace.transfers.push_back(parsed);
        } else {
            trace.notes.push_back(line);
        }
    }
    return trace;
}

std::vector<Image> DumpTables(const std::string& out) {
    const std::vector<std::string> lines = Lines(out);
    std::vector<Image> tables;
    // The header, its rule line, 16 rows.
    for (std::size_t at = 0; at + 17 < lines.size(); ++at) {
        Image table{};
        bool whole = lines[at] == kTableHeader;
        for (std::size_t row = 0; row < 16 && whole; ++row) {
            whole = ParseRow(lines[at + 2 + row], static_cast<int>(row), &table[row * 16]);
        }
        if (whole) {
            tables.push_back(table);
        }
    }
    return tables;
}

std::string HexFile(unsigned size) {
    std::string text;
    for (unsigned addr = 0; addr < 256; addr += size) {
        std::vector<unsigned> data;
        for (unsigned a = addr; a < std::min(addr + size, 256u); ++a) {
            data.push_back(a * 7 & 0xFF);
        }
        text += Rec(0, addr, data) + "\n";
    }
    return text + kEndRecord + "\n";
}

Image FileImage(const std::string& path, int code) {
    Image image{};
    EXPECT_EQ(ReadConfigFile(path, image).status, ConfigFileStatus::kRead) << path;
    if (code >= 0) {
        image[0xCA] = static_cast<std::uint8_t>((image[0xCA] & 0xF0) | code);
    }
    return image;
}

}  // namespace gpaktest
