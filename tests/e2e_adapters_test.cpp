// gpakcfg through each Linux adapter that gpak-sim answers as: every
// memory programmed where a chip can answer, a NACK told in the adapter's
// own errno, --scan, and the same bytes on the bus as on the Raspberry
// Pi's plain-I2C adapter, whatever shape the transfers took.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "sim_bench.h"

namespace gpaktest {
namespace {

struct AdapterCase {
    const char* adapter;
    const char* nack;   // the text of its errno for a transfer nothing acknowledged
    bool reaches_0x02;  // a chip can answer at 0x02, where the NVM is written
};

const AdapterCase kAdapters[] = {
    {"bcm2835", "Remote I/O error", true},
    {"gpio", "No such device or address", true},
    {"designware", "Remote I/O error", true},
    {"tiny-usb", "No such device or address", true},
    {"mcp2221", "No such device or address", true},
    // Revision 1 makes no write-then-read: the run moves to SMBus.
    {"cp2112", "Connection timed out", true},
    {"ft260", "Input/output error", true},
    // SMBus only, at 0x03..0x77.
    {"i2c-stub", "No such device", false},
};

void PrintTo(const AdapterCase& c, std::ostream* out) { *out << c.adapter; }

std::string Node(const std::string& rest) { return "gpakcfg: /dev/i2c-1: " + rest; }

class Adapters : public testing::TestWithParam<AdapterCase> {
protected:
    // args on this adapter's bench, and on the Pi's, whose bytes on the
    // bus it must put there too (unless not_alike).
    RunResult Run(const Strings& args, bool alike = true) {
        const RunResult run = bench.Gpakcfg(args, {"--adapter", GetParam().adapter});
        const RunResult pi = pi_bench.Gpakcfg(args);
        if (alike) {
            EXPECT_EQ(Texts(run), Texts(pi)) << Join(args);
        }
        return run;
    }
    static Strings Texts(const RunResult& run) {
        Strings texts;
        for (const TraceLine& line : run.transfers) {
            texts.push_back(line.text);
        }
        return texts;
    }
    static std::string Join(const Strings& args) {
        std::string text;
        for (const std::string& arg : args) {
            text += arg + " ";
        }
        return text;
    }

    SimBench bench;
    SimBench pi_bench;
};

TEST_P(Adapters, ProgramEveryMemoryItCanReachWithThePisBytes) {
    const AdapterCase& c = GetParam();
    for (const char* type : {"reg", "eeprom"}) {
        const RunResult run = Run({"-t", type, "-w", kExample});
        EXPECT_EQ(run.status, 0) << type << run.err;
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(bench.Chip().eeprom, FileImage(kExample));
    const RunResult nvm = Run({"-t", "nvm", "-w", kExample}, c.reaches_0x02);
    if (c.reaches_0x02) {
        EXPECT_EQ(nvm.status, 0) << nvm.err;
        EXPECT_EQ(nvm.Chip().nvm, FileImage(kExample, 1));
    } else {
        EXPECT_EQ(nvm.status, 1);
        EXPECT_EQ(nvm.err.find(Node("page 0x00 write to 0x02 failed: the chip did not "
                                    "acknowledge (" +
                                    std::string(c.nack) + ")\n")),
                  0u)
            << nvm.err;
    }
}

TEST_P(Adapters, NoAcknowledgementInItsOwnWordsAndTheScan) {
    const std::string nack = GetParam().nack;
    const RunResult read = Run({"-t", "reg", "-c", "5"});
    EXPECT_EQ(read.status, 1);
    EXPECT_EQ(read.err, Node("page 0x00 read from 0x28 failed: the chip did not acknowledge (" +
                             nack + "); the table shows zeros from row 0x00\n"));
    const RunResult probe = Run({"-t", "eeprom", "-c", "3", "-w", kExample});
    EXPECT_EQ(probe.status, 1);
    EXPECT_EQ(probe.err.find(Node("no chip answers at 0x18, control code 3 (" + nack +
                                  "); nothing was erased or written")),
              0u)
        << probe.err;
    const RunResult scan = Run({"--scan"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.err, "");
    EXPECT_TRUE(Contains(scan.out, "\n1    0x08      0x0A 0x0B   1\n"));
}

INSTANTIATE_TEST_SUITE_P(Linux, Adapters, testing::ValuesIn(kAdapters),
                         [](const testing::TestParamInfo<AdapterCase>& info) {
                             std::string name = info.param.adapter;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

}  // namespace
}  // namespace gpaktest
