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

// A read that nothing answers now names the chips found at other codes.
TEST_P(Adapters, NoAcknowledgementInItsOwnWordsTheChipsFoundAndTheScan) {
    const std::string nack = GetParam().nack;
    const RunResult read = Run({"-t", "reg", "-c", "5"});
    EXPECT_EQ(read.status, 1);
    EXPECT_EQ(read.err, Node("page 0x00 read from 0x28 failed: the chip did not acknowledge (" +
                             nack + "); the table shows zeros from row 0x00\n") +
                            Node("a chip answers at 0x08, control code 1: -c 1 reaches it; "
                                 "gpakcfg -t nvm -c 1 --new-code 5 -w NVM-FILE programs its NVM "
                                 "and moves it to control code 5\n"));
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

namespace gpaktest {
namespace {

// What an adapter or the machine stands in the way of, said before
// anything reaches the chip: a row each, run against the simulator.
struct Refusal {
    const char* name;
    Strings sim;
    Strings args;  // EXAMPLE: the example file
    int status;
    std::string err;  // the whole of standard error; its start where it ends in "..."
};

const Refusal kRefusals[] = {
    {"ByteReadsOnlyCannotProgram",
     {"--adapter", "i2c-stub", "--functionality", "0x00080000"},
     {"-t", "eeprom", "-w", "EXAMPLE"},
     1,
     "gpakcfg: /dev/i2c-1: the adapter (SMBus stub driver) cannot program the chip: it offers "
     "neither plain I2C transfers (I2C_FUNC_I2C), nor SMBus I2C-block and byte-data writes "
     "(I2C_FUNC_SMBUS_WRITE_I2C_BLOCK and I2C_FUNC_SMBUS_WRITE_BYTE_DATA); nothing was sent to "
     "the chip\n"},
    {"NoShapeAtAll",
     {"--adapter", "i2c-stub", "--functionality", "0"},
     {"-t", "eeprom"},
     1,
     "gpakcfg: /dev/i2c-1 offers neither plain I2C transfers (I2C_FUNC_I2C) nor SMBus byte-data "
     "reads (I2C_FUNC_SMBUS_READ_BYTE_DATA); nothing was sent to the chip\n..."},
    {"ADriverOwnsAnAddress",
     {"--bound", "0x0a"},
     {"-t", "eeprom"},
     1,
     "gpakcfg: /dev/i2c-1: 0x0A belongs to the kernel driver dummy (I2C_SLAVE: Device or "
     "resource busy); nothing was sent to the chip; unbind the driver, or give --force to send "
     "past it\n..."},
    {"NoBusOnAPc",
     {"--adapter", "designware"},
     {"--bus", "7", "-t", "eeprom"},
     1,
     "Device open error: No such file or directory\ngpakcfg: /dev/i2c-7: no such bus: load the "
     "i2c-dev module (sudo modprobe i2c-dev) or choose the bus with --bus (gpakcfg --list-buses "
     "lists them)\n..."},
    {"ListBusesGoesAlone",
     {},
     {"--list-buses", "-t", "reg"},
     255,
     "gpakcfg: --list-buses: not with -t: it lists every bus, and reads no chip\n"},
};

void PrintTo(const Refusal& r, std::ostream* out) { *out << r.name; }

class Refusals : public testing::TestWithParam<Refusal> {
protected:
    SimBench bench;
};

TEST_P(Refusals, NothingReachesTheChip) {
    const Refusal& r = GetParam();
    Strings args = r.args;
    std::replace(args.begin(), args.end(), std::string("EXAMPLE"), kExample);
    const RunResult run = bench.Gpakcfg(args, r.sim);
    EXPECT_EQ(run.status, r.status);
    const std::size_t dots = r.err.rfind("...");
    if (dots == r.err.size() - 3) {
        EXPECT_EQ(run.err.substr(0, dots), r.err.substr(0, dots));
    } else {
        EXPECT_EQ(run.err, r.err);
    }
    EXPECT_TRUE(run.transfers.empty()) << run.transfers.front().text;
}

INSTANTIATE_TEST_SUITE_P(Adapters, Refusals, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& info) {
                             return info.param.name;
                         });

// Byte reads alone still read; a driver's address is sent past with
// --force; --list-buses shows each bus with its adapter.
TEST(AdapterRuns, ByteReadsForceAndTheListOfBuses) {
    SimBench bench;
    ASSERT_EQ(bench.Gpakcfg({"-t", "eeprom", "-w", kExample}).status, 0);
    const RunResult bytes =
        bench.Gpakcfg({"-t", "eeprom"}, {"--adapter", "i2c-stub", "--functionality", "0x80000"});
    EXPECT_EQ(bytes.status, 0) << bytes.err;
    EXPECT_EQ(bytes.ReadBack(), FileImage(kExample));
    EXPECT_EQ(bytes.transfers.size(), 256u);  // a byte-data read each

    const RunResult forced = bench.Gpakcfg({"-t", "eeprom", "--force"}, {"--bound", "0x0b"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(forced.ReadBack(), FileImage(kExample));

    if (Emulated()) {
        return;  // under an emulator no simulated node shows in /dev: the list is proven natively
    }
    const RunResult list = bench.Gpakcfg({"--list-buses"}, {"--chip", "0:1", "--chip", "1:2"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(Contains(list.out,
                         "node        offers                programs adapter\n"
                         "/dev/i2c-0  plain I2C             yes      bcm2835 (i2c@7e804000)\n"
                         "/dev/i2c-1  plain I2C             yes      bcm2835 (i2c@7e804000)\n\n"));
    const RunResult stub = bench.Gpakcfg({"--list-buses"}, {"--adapter", "i2c-stub"});
    EXPECT_TRUE(
        Contains(stub.out, "\n/dev/i2c-1  SMBus I2C-block only  yes      SMBus stub driver\n"));
    EXPECT_TRUE(stub.transfers.empty());
}

}  // namespace
}  // namespace gpaktest
