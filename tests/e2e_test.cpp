// The built gpakcfg run as a user runs it, through the gpak-sim launcher:
// standard output, standard error, exit status and the bus trace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "run_command.h"

namespace {

using gpaktest::CommandResult;
using gpaktest::DumpRow;
using gpaktest::ReadFile;
using gpaktest::RunCommand;
using Strings = std::vector<std::string>;

const std::string kExample = std::string(GPAKCFG_EXAMPLES) + "/demo-config.hex";

struct TraceLine {
    double time_s = 0;
    std::string transfer;  // without the time
};

class EndToEnd : public testing::Test {
protected:
    // gpakcfg ARGS under the launcher with SIM options, state and trace in
    // this test's directory.
    CommandResult Gpakcfg(const Strings& sim, const Strings& args) {
        Strings argv = {GPAKSIM_BIN, "--state", state, "--trace", trace};
        argv.insert(argv.end(), sim.begin(), sim.end());
        argv.push_back("--");
        argv.push_back(GPAKCFG_BIN);
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv);
    }

    std::vector<TraceLine> Trace() const {
        std::vector<TraceLine> lines;
        std::istringstream in(ReadFile(trace));
        std::string line;
        while (std::getline(in, line)) {
            TraceLine parsed;
            std::istringstream fields(line);
            fields >> parsed.time_s;
            std::getline(fields >> std::ws, parsed.transfer);
            lines.push_back(parsed);
        }
        return lines;
    }

    Strings Transfers() const {
        Strings lines;
        for (const TraceLine& line : Trace()) {
            lines.push_back(line.transfer);
        }
        return lines;
    }

    gpaktest::TempDir dir;
    std::string state = dir.Path("chip.state");
    std::string trace = dir.Path("bus.trace");
};

TEST_F(EndToEnd, CommandLineMistakes) {
    const CommandResult usage = Gpakcfg({}, {});
    EXPECT_EQ(usage.status, 0);
    EXPECT_NE(usage.out.find("Usage: " GPAKCFG_BIN " [-t TYPE] [-w FILE] [-c CODE] \n"),
              std::string::npos);

    const CommandResult type = Gpakcfg({}, {"-t", "x", "-w", kExample});
    EXPECT_EQ(type.status, 255);
    EXPECT_EQ(type.err, "Type is not specified.");
    EXPECT_EQ(ReadFile(trace), "");
}

TEST_F(EndToEnd, ReadsTheNvmAtControlCodeF) {
    const CommandResult run = Gpakcfg({"--code", "15"}, {"-t", "nvm", "-c", "F"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    Strings expected;
    for (int page = 0; page < 16; ++page) {
        char line[64];
        std::snprintf(line, sizeof line, "0x7A W %02x; 0x7A R 16 ACK", page << 4);
        expected.push_back(line);
    }
    EXPECT_EQ(Transfers(), expected);
    // Byte 0xCA holds the code: row 0x0C, digits 20 and 21.
    EXPECT_EQ(DumpRow(run.out, 0x0C).substr(21, 1), "f");
}

TEST_F(EndToEnd, NoChipOrNoNodeIsAFailedReadBack) {
    const CommandResult absent = Gpakcfg({"--absent"}, {"-t", "reg"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.err,
              "gpakcfg: /dev/i2c-1: page 0x00 read from 0x08 failed: the chip did not acknowledge "
              "(Remote I/O error); the table shows zeros from row 0x00\n");
    for (int row = 0; row < 16; ++row) {
        EXPECT_EQ(DumpRow(absent.out, row), std::string(32, '0'));
    }
    // The node is now opened once, for the bus's check, with a hint.
    const CommandResult no_node = Gpakcfg({"--no-node"}, {"-t", "reg"});
    EXPECT_EQ(no_node.status, 1);
    EXPECT_EQ(no_node.err.find("Device open error: No such file or directory\n"
                               "gpakcfg: /dev/i2c-1: no such bus: enable I2C"),
              0u);
    EXPECT_NE(no_node.err.find("\ngpakcfg: /dev/i2c-1: nothing was read from 0x08; the table "
                               "shows zeros\n"),
              std::string::npos);
}

TEST_F(EndToEnd, ProgrammingTheNvmPrintsTheGoldenTranscript) {
    const CommandResult run = Gpakcfg({"--virtual-time"}, {"-t", "nvm", "-w", kExample});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, ReadFile(std::string(GPAKCFG_GOLDEN) + "/nvm-write.out"));

    const auto lines = Trace();
    ASSERT_EQ(lines.size(), 16u + 1 + 16 + 1 + 16);
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(lines[i].transfer.substr(0, 12),
                  "0x08 W e3 8" + std::string(1, "0123456789abcdef"[i]));
        EXPECT_EQ(lines[17 + i].transfer.substr(0, 4), "0x02");
        EXPECT_EQ(lines[17 + i].transfer.size(), std::string("0x02 W").size() + 17 * 3 + 4);
        EXPECT_EQ(lines[34 + i].transfer.substr(0, 4), "0x0A");
    }
    EXPECT_EQ(lines[16].transfer, "0x08 W c8 02 ACK");
    EXPECT_EQ(lines[33].transfer, "0x00 W c8 02 ACK");
    EXPECT_DOUBLE_EQ(lines.back().time_s, 2.32);

    // A separate run later reads what the first one programmed.
    const CommandResult dump = Gpakcfg({}, {"-t", "nvm"});
    EXPECT_EQ(dump.status, 0);
    const std::string file_section = run.out.substr(0, run.out.find("Erase"));
    for (int row = 0; row < 16; ++row) {
        std::string expected = DumpRow(file_section, row);
        if (row == 0x0C) {
            expected[21] = '1';  // byte 0xCA takes the control code
        }
        EXPECT_EQ(DumpRow(dump.out, row), expected) << row;
    }
}

TEST_F(EndToEnd, ProgrammingTheEepromAtControlCode2) {
    const CommandResult run =
        Gpakcfg({"--virtual-time", "--code", "2"}, {"-t", "eeprom", "-w", kExample, "-c", "2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Addr 0x13\n"), std::string::npos);
    Strings addresses;
    for (const std::string& line : Transfers()) {
        addresses.push_back(line.substr(0, 4));
    }
    Strings expected(17, "0x10");
    expected.resize(33, "0x13");
    expected.push_back("0x10");
    expected.resize(50, "0x13");
    EXPECT_EQ(addresses, expected);
}

// Standard error now names the page, the device address and the cause.
TEST_F(EndToEnd, FailedPageWriteEndsWithStatus1AndNowSaysWhereAndWhy) {
    struct Case {
        std::string type;
        std::string nack;
        std::string addr;
    };
    for (const Case& c : {Case{"eeprom", "0x0b:0x50", "0x0B"}, Case{"nvm", "0x02:0x50", "0x02"}}) {
        const CommandResult run =
            Gpakcfg({"--virtual-time", "--nack", c.nack}, {"-t", c.type, "-w", kExample});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("Page 0x05 : error & stoped\n\nChip configration data."),
                  std::string::npos);
        EXPECT_EQ(run.out.find("Page 0x06 : "), run.out.rfind("Page 0x06 : "));  // erase only
        EXPECT_EQ(run.err.find("gpakcfg: /dev/i2c-1: page 0x05 write to " + c.addr +
                               " failed: the chip did not acknowledge (Remote I/O error)\n"),
                  0u)
            << run.err;
    }
}

TEST_F(EndToEnd, UnusableFilesSendNothing) {
    for (const std::string& file :
         {dir.Path("missing.hex"), dir.Path(""), dir.Write("e.hex", "")}) {
        const CommandResult run = Gpakcfg({}, {"-t", "nvm", "-w", file});
        EXPECT_EQ(run.status, 255) << file;
        EXPECT_FALSE(run.err.empty());
        EXPECT_EQ(run.out.find("Configration"), std::string::npos);
    }
    EXPECT_EQ(ReadFile(trace), "");
}

// A program the simulator cannot be preloaded into would talk to the real
// bus, and to a real chip: the launcher refuses to start it.
TEST_F(EndToEnd, LauncherRefusesProgramsThePreloadCannotReach) {
    // This test program's own ELF header, so that only what is changed
    // below differs from a program of this machine.
    char header[64] = {};
    std::ifstream("/proc/self/exe", std::ios::binary).read(header, sizeof header);
    ASSERT_EQ(std::string(header, 4), "\177ELF");
    const bool is64 = header[4] == 2;

    std::string no_loader(header, sizeof header);  // no program headers, so no PT_INTERP
    no_loader[is64 ? 56 : 44] = no_loader[is64 ? 57 : 45] = '\0';
    std::string other_machine(header, sizeof header);
    other_machine[18] = other_machine[19] = '\xff';

    struct Case {
        std::string name;
        std::string content;
        std::string reason;
    };
    for (const Case& c : {Case{"static", no_loader, "statically linked"},
                          Case{"foreign", other_machine, "built for another machine"}}) {
        const std::string program = dir.Write(c.name, c.content);
        ASSERT_EQ(chmod(program.c_str(), 0755), 0);
        const CommandResult run = RunCommand(
            {GPAKSIM_BIN, "--state", state, "--trace", trace, "--", program, "-t", "nvm"});
        EXPECT_EQ(run.status, 126) << c.name;
        const std::string refusal =
            "gpak-sim: cannot simulate the bus for " + program + ": it is " + c.reason;
        EXPECT_EQ(run.err.find(refusal), 0u) << run.err;
    }
    EXPECT_EQ(ReadFile(trace), "");
}

// Real time: the one run here that waits for the chip as a bench would.
TEST_F(EndToEnd, RealTimeProgrammingTakesTheChipsPauses) {
    const auto start = std::chrono::steady_clock::now();
    const CommandResult run = Gpakcfg({}, {"-t", "nvm", "-w", kExample});
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GE(wall.count(), 2.32);
    EXPECT_LT(wall.count(), 4.0);
    const auto lines = Trace();
    ASSERT_FALSE(lines.empty());
    for (const TraceLine& line : lines) {
        EXPECT_EQ(line.transfer.substr(line.transfer.size() - 4), " ACK");
    }
}

}  // namespace
