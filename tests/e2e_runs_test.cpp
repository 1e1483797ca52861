// Runs that end as the chip ends, with the built gpakcfg through gpak-sim:
// a chip that does not hold the file fails the verify, output that cannot
// be written fails the run but not the chip, signals wait for the chip to
// be programmed, and two runs on one bus take turns.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include "sim_bench.h"

namespace {

using gpaktest::Background;
using gpaktest::Contains;
using gpaktest::FileImage;
using gpaktest::Hold;
using gpaktest::kExample;
using gpaktest::kGpakcfg;
using gpaktest::Launch;
using gpaktest::RunResult;
using gpaktest::Strings;

const std::string kWaiting = "waiting up to 10 s";

class EndToEndRuns : public gpaktest::BenchTest {
protected:
    // A second configuration, unlike the example.
    std::string OtherFile() {
        return bench.Write("other.hex", gpaktest::HexRecords(16) + ":00000001FF\n");
    }
    // Starts a run in the background while the test holds the bus, and
    // returns once it waits for it.
    Background StartWaiting(const Launch& launch) {
        Background run = bench.Start(launch);
        run.WaitForErr(kWaiting);
        return run;
    }
    static Launch Programming(const std::string& file) {
        return Launch::Gpakcfg({"-t", "nvm", "-w", file});
    }
};

TEST_F(EndToEndRuns, AChipThatDoesNotHoldTheFileFailsTheVerify) {
    ASSERT_EQ(bench.Gpakcfg({"-t", "eeprom", "-w", OtherFile()}).status, 0);
    // Erase commands the chip never carries out: the pages are ORed into
    // the old configuration, and every page line still says complete.
    const Strings unerased = {"--nack", "0x08:0xe3"};
    const RunResult ored = bench.Gpakcfg({"-t", "eeprom", "-w", kExample}, unerased);
    EXPECT_EQ(ored.status, 1);
    EXPECT_EQ(gpaktest::Occurrences(ored.err, "\n"), 1u) << ored.err;
    EXPECT_EQ(ored.err.find("gpakcfg: 0x0B: the memory differs from what was sent: "), 0u)
        << ored.err;
    EXPECT_TRUE(Contains(ored.err, " of 256 bytes, the first at 0x"));
    EXPECT_FALSE(Contains(ored.out, "differs"));  // standard output as it was
    EXPECT_EQ(gpaktest::Occurrences(ored.out, ": complete"), 32u);
    EXPECT_NE(ored.Chip().eeprom, FileImage(kExample));

    const RunResult unchecked =
        bench.Gpakcfg({"-t", "eeprom", "-w", kExample, "--no-verify"}, unerased);
    EXPECT_EQ(unchecked.status, 0) << unchecked.err;
    const RunResult good = bench.Gpakcfg({"-t", "eeprom", "-w", kExample});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
    EXPECT_EQ(good.Chip().eeprom, FileImage(kExample));
}

TEST_F(EndToEndRuns, VerifyFileComparesWithoutWriting) {
    ASSERT_EQ(bench.Gpakcfg({"-t", "nvm", "-w", kExample}).status, 0);
    const RunResult same = bench.Gpakcfg({"-t", "nvm", "--verify", kExample});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.err, "");
    const RunResult other = bench.Gpakcfg({"-t", "nvm", "--verify", OtherFile()});
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err.find("gpakcfg: 0x0A: the memory differs from what was sent: "), 0u);
    for (const RunResult* run : {&same, &other}) {
        EXPECT_EQ(run->transfers.size(), 16u);
        for (const auto& transfer : run->transfers) {  // reads only
            EXPECT_EQ(transfer.text.find("0x0A W "), 0u) << transfer.text;
            EXPECT_TRUE(Contains(transfer.text, "; 0x0A R 16"));
        }
    }
    EXPECT_EQ(bench.Chip().nvm, FileImage(kExample, 1));
}

// Standard output full or closed: the chip is programmed all the same,
// and the node never lands on a standard descriptor.
TEST_F(EndToEndRuns, OutputThatCannotBeWrittenFailsTheRunButNotTheChip) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    struct Case {
        std::string redirection;
        int status;
        std::string err;
    };
    for (const Case& c : {Case{"> /dev/full", 1, "gpakcfg: write error: No space left on device\n"},
                          Case{"<&- >&- 2>&-", 0, ""}}) {
        const std::string script =
            "exec " + kGpakcfg + " -t nvm -w " + kExample + " " + c.redirection;
        const RunResult run = bench.Run(Launch({"/bin/sh", "-c", script}));
        EXPECT_EQ(run.status, c.status) << c.redirection;
        EXPECT_EQ(run.err, c.err) << c.redirection;
        EXPECT_EQ(run.transfers.size(), 50u) << c.redirection;
        EXPECT_EQ(run.notes, Strings{}) << c.redirection;  // no standard stream on the node
        EXPECT_EQ(run.Chip().nvm, FileImage(kExample, 1)) << c.redirection;
    }
}

// Each signal that arrives while the chip is programmed waits for it: the
// run is held at its first erase command, signalled, then let go.
TEST_F(EndToEndRuns, SignalsWhileProgrammingWaitForTheChip) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        Hold bus = bench.HoldBus();
        Background run = StartWaiting(Programming(kExample));
        Hold transfers = bench.HoldTransfers();
        bus.Reset();
        bench.WaitForAWaitingTransfer();     // it took the bus and waits at its first erase
        ASSERT_EQ(kill(run.Pid(), sig), 0);  // to the launcher, which passes it on
        run.WaitForErr("the run stops as soon as the chip is programmed");
        transfers.Reset();
        const RunResult ended = run.Wait();
        EXPECT_EQ(ended.signal, sig);
        EXPECT_TRUE(Contains(ended.err, "ended by SIG"));
        EXPECT_TRUE(Contains(ended.err, ": the chip is programmed and holds the file\n"));
        EXPECT_EQ(ended.transfers.size(), 50u);  // erase, write, read-back: all of it
        EXPECT_EQ(ended.Chip().nvm, FileImage(kExample, 1));
    }
}

TEST_F(EndToEndRuns, SignalsBeforeProgrammingActAsUsual) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    Hold bus = bench.HoldBus();
    Background run = StartWaiting(Programming(OtherFile()));
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
    const RunResult ended = run.Wait();
    EXPECT_EQ(ended.signal, SIGTERM);
    EXPECT_FALSE(Contains(ended.err, "ended by"));
    EXPECT_TRUE(ended.transfers.empty());
    EXPECT_EQ(ended.Chip().nvm, gpaksim::DefaultChip().nvm);
}

// A reader that goes away while the chip is programmed: the run goes on,
// says that its output was lost, and ends by SIGPIPE.
TEST_F(EndToEndRuns, ALostReaderWhileProgrammingWaitsForTheChip) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    int pipe_fds[2];
    ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
    Hold bus = bench.HoldBus();
    Launch to_pipe = Programming(kExample);
    to_pipe.stdout_fd = pipe_fds[1];
    Background run = StartWaiting(to_pipe);
    close(pipe_fds[1]);
    Hold transfers = bench.HoldTransfers();
    bus.Reset();
    std::string out;
    char buffer[256];
    while (out.find("Erase chip configration.\n") == std::string::npos) {
        const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipe_fds[0]);  // the reader goes before the first page line
    transfers.Reset();
    const RunResult ended = run.Wait();
    EXPECT_EQ(ended.signal, SIGPIPE);
    EXPECT_TRUE(
        Contains(ended.err, "gpakcfg: SIGPIPE: the run stops as soon as the chip is programmed"));
    EXPECT_TRUE(Contains(ended.err, "gpakcfg: write error: Broken pipe"));
    EXPECT_EQ(ended.Chip().nvm, FileImage(kExample, 1));
}

// Two runs on one bus take turns: the second waits, says so once, and
// starts only when the first has let go of the bus.
TEST_F(EndToEndRuns, TwoRunsOnOneBusNeverInterleave) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    const std::string other = OtherFile();
    Hold bus = bench.HoldBus();
    Background a = StartWaiting(Programming(kExample));
    Background b = StartWaiting(Programming(other));
    bus.Reset();
    const RunResult run_a = a.Wait();
    const RunResult run_b = b.Wait();
    EXPECT_EQ(run_a.status, 0) << run_a.err;
    EXPECT_EQ(run_b.status, 0) << run_b.err;
    EXPECT_EQ(gpaktest::Occurrences(run_a.err + run_b.err, kWaiting), 2u);
    // On the shared virtual clock, one run's transfers all come before the other's.
    ASSERT_EQ(run_a.transfers.size(), 50u);
    ASSERT_EQ(run_b.transfers.size(), 50u);
    const double a_first = run_a.transfers.front().time_s;
    const double a_last = run_a.transfers.back().time_s;
    const double b_first = run_b.transfers.front().time_s;
    const double b_last = run_b.transfers.back().time_s;
    EXPECT_TRUE(a_last <= b_first || b_last <= a_first)
        << a_first << ".." << a_last << " and " << b_first << ".." << b_last;
    const gpaktest::Image last = a_last > b_last ? FileImage(kExample, 1) : FileImage(other, 1);
    EXPECT_EQ(bench.Chip().nvm, last);
}

// Real time: a run that another holds the bus from gives up after 10 s.
TEST_F(EndToEndRuns, RealTimeABusHeldTooLongIsGivenUpAfterTenSeconds) {
    const Hold bus = bench.HoldBus();
    const RunResult run = bench.Run(Programming(kExample).RealTime());
    EXPECT_EQ(run.status, 1);
    EXPECT_GE(run.seconds, 10.0);
    EXPECT_LT(run.seconds, 12.0);
    EXPECT_EQ(run.err, "gpakcfg: /dev/i2c-1 is in use by another gpakcfg run; " + kWaiting +
                           "\n"
                           "gpakcfg: /dev/i2c-1 is still in use; nothing was sent to the chip\n");
    EXPECT_TRUE(run.transfers.empty());
}

// Real time: Ctrl-C at the first erase command neither stops the run nor
// shortens a pause (the chip refuses everything while busy); the run ends by SIGINT.
TEST_F(EndToEndRuns, RealTimeSigintDuringProgrammingKeepsEveryPause) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    Background run = bench.Start(Programming(kExample).RealTime());
    run.WaitForTransfers(1);  // its first erase command
    ASSERT_EQ(kill(run.Pid(), SIGINT), 0);
    const RunResult ended = run.Wait();
    EXPECT_EQ(ended.signal, SIGINT);
    EXPECT_GE(ended.seconds, 2.32);
    EXPECT_EQ(ended.transfers.size(), 50u);
    EXPECT_TRUE(ended.AllAcked());
    EXPECT_EQ(ended.Chip().nvm, FileImage(kExample, 1));
}

}  // namespace
