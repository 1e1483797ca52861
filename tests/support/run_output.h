// Test support: what a run of gpakcfg under the simulator leaves to read,
// parsed once: the lines of the bus trace and the hex tables it printed.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace gpaktest {

// A memory as the tool and the chip hold it (ConfigImage, gpaksim::Memory).
using Image = std::array<std::uint8_t, 256>;

// Whether text holds part; says what it holds either way.
testing::AssertionResult Contains(const std::string& text, const std::string& part);

// One transfer of the bus trace.
struct TraceLine {
    double time_s = 0;  // on the simulator's clock
    std::string text;   // "0x0A W f0; 0x0A R 16 ACK": the transfer without its time
    [[nodiscard]] std::string Address() const { return text.substr(0, 4); }
    [[nodiscard]] bool Acked() const;
};

// A trace's text: its transfers and its other lines (the simulator's
// "# ..." remarks, or anything else found there).
struct Trace {
    std::vector<TraceLine> transfers;
    std::vector<std::string> notes;
};
Trace ParseTrace(const std::string& text);

// The hex tables (a memory each) in a run's standard output, in order;
// only whole ones.
std::vector<Image> DumpTables(const std::string& out);

// A hex record file of a whole memory, byte a being a * 7, in records of
// size data bytes (the last one shorter), with the end record.
std::string HexFile(unsigned size);

// The image a configuration file gives, as gpakcfg reads it (0x00 where
// it has no data); with code (0 to 15) written into byte 0xCA as a run on
// the NVM or the registers writes it.
Image FileImage(const std::string& path, int code = -1);

}  // namespace gpaktest
