// The built gpakcfg run as a user runs it, through the gpak-sim launcher:
// what it prints, its exit status, the bus and the chip afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "sim_bench.h"

namespace gpaktest {
namespace {

class EndToEnd : public BenchTest {};

TEST_F(EndToEnd, NoChipOrNoNodeIsAFailedRunThatNowTriesEveryCode) {
    const RunResult absent = bench.Gpakcfg({"-t", "reg"}, {"--absent"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.err,
              "gpakcfg: /dev/i2c-1: page 0x00 read from 0x08 failed: the chip did not acknowledge "
              "(Remote I/O error); the table shows zeros from row 0x00\n"
              "gpakcfg: /dev/i2c-1: no chip answers at any control code\n");
    EXPECT_EQ(absent.ReadBack(), Image{});
    // The node is opened once, for the bus's check, with a hint; a read
    // run prints zeros once and says that nothing was read.
    const std::string no_bus =
        "Device open error: No such file or directory\ngpakcfg: /dev/i2c-1: no such bus: enable "
        "I2C";
    const RunResult no_node = bench.Gpakcfg({"-t", "reg"}, {"--no-node"});
    EXPECT_EQ(no_node.status, 1);
    EXPECT_EQ(no_node.err.find(no_bus), 0u) << no_node.err;
    EXPECT_EQ(Occurrences(no_node.err, "\n"), 3u) << no_node.err;
    EXPECT_TRUE(Contains(
        no_node.err, "\ngpakcfg: /dev/i2c-1: nothing was read from 0x08; the table shows zeros\n"));
    EXPECT_EQ(no_node.tables, std::vector<Image>{Image{}});
    EXPECT_EQ(Occurrences(no_node.out, "configration"), 1u) << no_node.out;  // the read-back's
    // A programming run sends no erase command and says no page is complete.
    const RunResult write = bench.Gpakcfg({"-t", "nvm", "-w", kExample}, {"--no-node"});
    EXPECT_EQ(write.status, 1);
    EXPECT_FALSE(Contains(write.out, "Erase"));
    EXPECT_FALSE(Contains(write.out, "complete"));
    EXPECT_EQ(write.err.find(no_bus), 0u) << write.err;
    EXPECT_EQ(Occurrences(write.err, "\n"), 2u) << write.err;
    EXPECT_TRUE(write.transfers.empty());
    // The same for another bus than the simulated one.
    const RunResult other = bench.Gpakcfg({"-t", "nvm", "-w", kExample, "--bus", "7"});
    EXPECT_EQ(other.status, 1);
    EXPECT_TRUE(Contains(other.err, "/dev/i2c-7: no such bus"));
    EXPECT_TRUE(other.transfers.empty());
    EXPECT_EQ(bench.Chip().nvm, gpaksim::DefaultChip().nvm);
}

// Over the chip's own configuration, so that a page left unerased shows.
// The example asks for control code 1, that of -c, so the transcript now
// holds no note about --new-code.
TEST_F(EndToEnd, ProgrammingTheNvmPrintsTheGoldenTranscriptNowWithoutTheCodeNote) {
    const RunResult run = bench.Gpakcfg({"-t", "nvm", "-w", kExample});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, ReadFile(std::string(GPAKCFG_GOLDEN) + "/nvm-write.out"));
    EXPECT_EQ(run.Chip().nvm, FileImage(kExample, 1));
    EXPECT_TRUE(AllAckedButAtControlCode0(run));
    ASSERT_FALSE(run.transfers.empty());
    EXPECT_DOUBLE_EQ(run.transfers.back().time_s, 2.32);  // every pause, in virtual time

    // A separate run later reads what the first one programmed.
    const RunResult dump = bench.Gpakcfg({"-t", "nvm"});
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.ReadBack(), FileImage(kExample, 1));
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
        const std::string program = bench.Write(c.name, c.content);
        ASSERT_EQ(chmod(program.c_str(), 0755), 0);
        const RunResult run = bench.Run(Launch({program, "-t", "nvm"}));
        EXPECT_EQ(run.status, 126) << c.name;
        const std::string refusal =
            "gpak-sim: cannot simulate the bus for " + program + ": it is " + c.reason;
        EXPECT_EQ(run.err.find(refusal), 0u) << run.err;
        EXPECT_TRUE(run.transfers.empty());
    }
}

// Real time: the one run here that waits for the chip as a bench would.
// The chip refuses everything while it is busy: a pause cut short shows.
TEST_F(EndToEnd, RealTimeProgrammingTakesTheChipsPauses) {
    const RunResult run = bench.Run(Launch::Gpakcfg({"-t", "nvm", "-w", kExample}).RealTime());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GE(run.seconds, 2.32);
    EXPECT_LT(run.seconds, 4.0);
    EXPECT_FALSE(run.transfers.empty());
    EXPECT_TRUE(AllAckedButAtControlCode0(run));
    EXPECT_EQ(run.Chip().nvm, FileImage(kExample, 1));
}

}  // namespace
}  // namespace gpaktest
