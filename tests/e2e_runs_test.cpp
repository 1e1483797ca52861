// Runs that end as the chip ends, with the built gpakcfg through gpak-sim:
// a chip that does not hold the file fails the verify, a run that cannot
// open a transfer or write its output says so and fails (but not the
// chip), and two runs on one bus take turns. Signals: e2e_signals_test.
#include <gtest/gtest.h>

#include "sim_bench.h"

namespace gpaktest {
namespace {

class EndToEndRuns : public BenchTest {
protected:
    // A second configuration, unlike the example.
    std::string OtherFile() { return bench.Write("other.hex", HexFile(16)); }
};

TEST_F(EndToEndRuns, AChipThatDoesNotHoldTheFileFailsTheVerify) {
    ASSERT_EQ(bench.Gpakcfg({"-t", "eeprom", "-w", OtherFile()}).status, 0);
    // Erase commands the chip never carries out: the pages are ORed into
    // the old configuration, and every page line still says complete.
    const Strings unerased = {"--nack", "0x08:0xe3"};
    const RunResult ored = bench.Gpakcfg({"-t", "eeprom", "-w", kExample}, unerased);
    EXPECT_EQ(ored.status, 1);
    EXPECT_EQ(Occurrences(ored.err, "\n"), 1u) << ored.err;
    EXPECT_EQ(ored.err.find("gpakcfg: 0x0B: the memory differs from what was sent: "), 0u)
        << ored.err;
    EXPECT_TRUE(Contains(ored.err, " of 256 bytes, the first at 0x"));
    EXPECT_FALSE(Contains(ored.out, "differs"));  // standard output as it was
    EXPECT_EQ(Occurrences(ored.out, ": complete"), 32u);
    EXPECT_NE(ored.Chip().eeprom, FileImage(kExample));

    const RunResult unchecked =
        bench.Gpakcfg({"-t", "eeprom", "-w", kExample, "--no-verify"}, unerased);
    EXPECT_EQ(unchecked.status, 0) << unchecked.err;
    const RunResult good = bench.Gpakcfg({"-t", "eeprom", "-w", kExample});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
    EXPECT_EQ(good.Chip().eeprom, FileImage(kExample));
}

// Whatever the limit on descriptors, a run programs the chip whole, or
// says why and sends nothing. Where the run gets the bus but no transfer
// can be opened (ulimit -n 7 in a shell), the one-byte read that now comes
// before the erase is "not sent", and the run stops there, before its
// erase section. The limits count the descriptors the test leaves open too.
TEST_F(EndToEndRuns, ATransferThatCannotBeOpenedIsNotSentAndStopsTheRun) {
    GPAKTEST_SKIP_WHEN_EMULATED();  // this machine's /bin/sh under the launcher
    bool stopped_before_erase = false;
    for (int limit = 4; limit <= 64; ++limit) {
        const RunResult run = bench.Run(Launch({"/bin/sh", "-c",
                                                "ulimit -n " + std::to_string(limit) + "; exec " +
                                                    kGpakcfg + " -t nvm -w " + kExample}));
        if (run.status == 126 || run.status == 127) {
            continue;  // too few to start gpakcfg at all
        }
        if (run.status == 0) {
            EXPECT_EQ(run.transfers.size(), 52u) << limit;
            break;
        }
        EXPECT_EQ(run.status, 1) << limit;
        EXPECT_TRUE(Contains(run.err, "gpakcfg: ")) << limit;
        EXPECT_FALSE(Contains(run.out, "complete")) << limit;
        EXPECT_FALSE(Contains(run.out, "Erase chip configration.")) << limit;
        EXPECT_TRUE(run.transfers.empty()) << limit;
        stopped_before_erase |=
            Contains(run.err,
                     "gpakcfg: /dev/i2c-1: one-byte read from 0x08 before the erase not sent: the "
                     "node could not be opened (Too many open files); nothing was erased or "
                     "written\n");
    }
    EXPECT_TRUE(stopped_before_erase);
}

// Standard output full, closed, or a log that reaches the file-size limit
// during the erase (these two now fail the run rather than pass it or end
// it half-erased by SIGXFSZ): the chip is programmed all the same, and the
// node never lands on a standard descriptor.
TEST_F(EndToEndRuns, OutputThatCannotBeWrittenFailsTheRunButNotTheChip) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    struct Case {
        std::string shell;  // before gpakcfg, and its redirection
        std::string redirection;
        std::string err;
    };
    // 42 blocks of 512 bytes: 1004 bytes more fit into the log, about the
    // banner, the file and five erase lines.
    const std::string log = bench.Write("bench.log", std::string(20500, '#'));
    for (const Case& c :
         {Case{"", "> /dev/full", "gpakcfg: write error: No space left on device\n"},
          Case{"", ">&-", "gpakcfg: write error: Bad file descriptor\n"},
          Case{"", "<&- >&- 2>&-", ""},
          Case{"ulimit -f 42; ", ">> " + log, "gpakcfg: write error: File too large\n"}}) {
        const RunResult run = bench.Run(Launch(
            {"/bin/sh", "-c",
             c.shell + "exec " + kGpakcfg + " -t nvm -w " + kExample + " " + c.redirection}));
        EXPECT_EQ(run.status, 1) << c.redirection;
        EXPECT_EQ(run.err, c.err) << c.redirection;
        EXPECT_EQ(run.transfers.size(), 52u) << c.redirection;
        for (const std::string& note : run.notes) {
            EXPECT_FALSE(Contains(note, "standard stream")) << c.redirection;
        }
        EXPECT_EQ(run.Chip().nvm, FileImage(kExample, 1)) << c.redirection;
    }
    const std::string logged = ReadFile(log);
    EXPECT_EQ(logged.size(), 42u * 512);
    // It reached the limit among the erase lines.
    EXPECT_TRUE(Contains(logged, "Erase chip configration."));
    EXPECT_FALSE(Contains(logged, "Write configration data."));
}

// Two runs on one bus take turns: the second waits, says so once, and
// starts only when the first has let go of the bus.
TEST_F(EndToEndRuns, TwoRunsOnOneBusNeverInterleave) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    const std::string other = OtherFile();
    Hold bus = bench.HoldBus();
    Background a = bench.StartWaitingForTheBus(Launch::Gpakcfg({"-t", "nvm", "-w", kExample}));
    Background b = bench.StartWaitingForTheBus(Launch::Gpakcfg({"-t", "nvm", "-w", other}));
    bus.Reset();
    const RunResult run_a = a.Wait();
    const RunResult run_b = b.Wait();
    EXPECT_EQ(run_a.status, 0) << run_a.err;
    EXPECT_EQ(run_b.status, 0) << run_b.err;
    EXPECT_EQ(Occurrences(run_a.err + run_b.err, "waiting up to 10 s"), 2u);
    // On the shared virtual clock, one run's transfers all come before the other's.
    ASSERT_EQ(run_a.transfers.size(), 52u);
    ASSERT_EQ(run_b.transfers.size(), 52u);
    const double a_first = run_a.transfers.front().time_s;
    const double a_last = run_a.transfers.back().time_s;
    const double b_first = run_b.transfers.front().time_s;
    const double b_last = run_b.transfers.back().time_s;
    EXPECT_TRUE(a_last <= b_first || b_last <= a_first)
        << a_first << ".." << a_last << " and " << b_first << ".." << b_last;
    const Image last = a_last > b_last ? FileImage(kExample, 1) : FileImage(other, 1);
    EXPECT_EQ(bench.Chip().nvm, last);
}

// Real time: a run that another holds the bus from gives up after 10 s.
TEST_F(EndToEndRuns, RealTimeABusHeldTooLongIsGivenUpAfterTenSeconds) {
    const Hold bus = bench.HoldBus();
    const RunResult run = bench.Run(Launch::Gpakcfg({"-t", "nvm", "-w", kExample}).RealTime());
    EXPECT_EQ(run.status, 1);
    EXPECT_GE(run.seconds, 10.0);
    EXPECT_LT(run.seconds, 12.0);
    EXPECT_EQ(run.err,
              "gpakcfg: /dev/i2c-1 is in use by another gpakcfg run; waiting up to 10 s\n"
              "gpakcfg: /dev/i2c-1 is still in use; nothing was sent to the chip\n");
    EXPECT_TRUE(run.transfers.empty());
}

}  // namespace
}  // namespace gpaktest
