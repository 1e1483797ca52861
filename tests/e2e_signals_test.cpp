// Signals to the built gpakcfg through gpak-sim: each one that would end
// a programming run waits for the chip to be programmed, one before it
// acts as usual, one during --save leaves no copy behind, and a reader
// that goes away loses the output but not the chip.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "config_file/save.h"
#include "sim_bench.h"

namespace gpaktest {
namespace {

class EndToEndSignals : public BenchTest {
protected:
    // Starts launch with its standard output on a pipe of one page, held
    // at the one-byte reads before its erase, and reads that output up to
    // the end of the file section: after it the run prints nothing before
    // the erase section's heading, inside the programming window. Returns
    // the pipe's read end; write_end stays open for the caller.
    int StartHeldBeforeTheErase(Launch launch, Background& run, Hold& transfers, int& write_end) {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        EXPECT_EQ(fcntl(fds[0], F_SETPIPE_SZ, 4096), 4096);
        launch.stdout_fd = fds[1];
        write_end = fds[1];
        Hold bus = bench.HoldBus();
        run = bench.StartWaitingForTheBus(launch);
        transfers = bench.HoldTransfers();
        bus.Reset();
        std::string out;
        char buffer[256];
        while (!Contains(out, "0x0F | ") || out.size() < 2 ||
               out.compare(out.size() - 2, 2, "\n\n") != 0) {
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0) {
                ADD_FAILURE() << "the run ended before its erase: " << out;
                break;
            }
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return fds[0];
    }
};

// Whether process pid has a handler for SIGINT: inside the window.
bool CatchesSigint(pid_t pid) {
    const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("SigCgt:");
    return at != std::string::npos &&
           (std::stoul(status.substr(at + 7), nullptr, 16) & (1UL << (SIGINT - 1))) != 0;
}

// The run is held at its erase section's heading (a full pipe), signalled,
// then let go. Those the launcher does not pass on (now held too) go to
// gpakcfg itself, which a shell started and wrote the process ID of.
TEST_F(EndToEndSignals, EverySignalWhileProgrammingWaitsForTheChip) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    struct Case {
        int sig;
        std::string name;
        bool to_launcher;
    };
    const Case cases[] = {
        {SIGINT, "SIGINT", true},    {SIGTERM, "SIGTERM", true},
        {SIGHUP, "SIGHUP", true},    {SIGQUIT, "SIGQUIT", true},
        {SIGUSR1, "SIGUSR1", false}, {SIGALRM, "SIGALRM", false},
        {SIGXFSZ, "SIGXFSZ", false}, {SIGRTMIN + 3, "SIGRTMIN+3", false},
    };
    const std::string pid_file = bench.Path("gpakcfg.pid");
    const std::string log = bench.Path("runs.log");
    const Launch programming({"/bin/sh", "-c",
                              "echo $$ > " + pid_file + "; exec " + kGpakcfg + " -t nvm -w " +
                                  kExample + " --log " + log});
    for (const Case& c : cases) {
        std::remove(pid_file.c_str());
        Background run;
        Hold transfers;
        int write_end = -1;
        const int out = StartHeldBeforeTheErase(programming, run, transfers, write_end);
        // The pipe full, the run once let go waits at the erase heading.
        const std::string page(4096, '\n');
        ASSERT_EQ(write(write_end, page.data(), page.size()), 4096);
        close(write_end);
        transfers.Reset();
        const pid_t gpakcfg = std::stoi(ReadFile(pid_file));
        for (int i = 0; i < 500 && !CatchesSigint(gpakcfg); ++i) {
            usleep(10000);
        }
        ASSERT_TRUE(CatchesSigint(gpakcfg));
        ASSERT_EQ(kill(c.to_launcher ? run.Pid() : gpakcfg, c.sig), 0);
        run.WaitForErr("gpakcfg: " + c.name +
                       ": the run stops as soon as the chip is programmed\n");
        char buffer[4096];
        while (read(out, buffer, sizeof buffer) > 0) {
        }
        close(out);
        const RunResult ended = run.Wait();
        EXPECT_EQ(ended.signal, c.sig) << c.name;
        EXPECT_TRUE(Contains(ended.err, "gpakcfg: ended by " + c.name +
                                            ": the chip is programmed and holds the file\n"));
        // The reads before the erase, erase, write, read-back: all of it.
        EXPECT_EQ(ended.transfers.size(), 52u);
        EXPECT_EQ(ended.Chip().nvm, FileImage(kExample, 1));
        // Its log line, written before the signal ends it.
        const std::string logged = ReadFile(log);
        const std::string last = logged.substr(logged.rfind('{'));
        EXPECT_TRUE(Contains(last, "\"verified\": true, "));
        EXPECT_TRUE(Contains(last, "\"status\": 0, "));
        EXPECT_TRUE(Contains(last, "\"signal\": \"" + c.name + "\"}\n"));
    }
}

TEST_F(EndToEndSignals, SignalsBeforeProgrammingActAsUsual) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    const std::string other = bench.Write("other.hex", HexFile(16));
    const Hold bus = bench.HoldBus();
    Background run = bench.StartWaitingForTheBus(Launch::Gpakcfg({"-t", "nvm", "-w", other}));
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
    const RunResult ended = run.Wait();
    EXPECT_EQ(ended.signal, SIGTERM);
    EXPECT_FALSE(Contains(ended.err, "ended by"));
    EXPECT_TRUE(ended.transfers.empty());
    EXPECT_EQ(ended.Chip().nvm, gpaksim::DefaultChip().nvm);
}

// A signal while --save replaces its file now waits for the replacement
// (the new copy is renamed over the file, or removed): no copy is left.
TEST_F(EndToEndSignals, ASignalWhileSavingLeavesNoCopyBehind) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    const std::string backups = bench.Path("backups");
    ASSERT_EQ(mkdir(backups.c_str(), 0700), 0);
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, backups.c_str(), IN_CREATE), 0);
    Background run = bench.Start(Launch::Gpakcfg({"-t", "nvm", "--save", backups + "/board.hex"}));
    pollfd created{watch, POLLIN, 0};
    ASSERT_EQ(poll(&created, 1, 5000), 1) << run.Err();  // the new copy is there
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);              // to the launcher, which passes it on
    close(watch);
    const RunResult ended = run.Wait();
    // It ends by the signal, or has just finished when the copy is written fast.
    EXPECT_TRUE(ended.signal == SIGTERM || ended.status == 0) << ended.status;
    Strings names;
    DIR* listing = opendir(backups.c_str());
    ASSERT_NE(listing, nullptr);
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] != '.' || std::strlen(entry->d_name) > 2) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(listing);
    EXPECT_EQ(names, Strings{"board.hex"});
    EXPECT_EQ(ReadFile(backups + "/board.hex"), hexfile::FormatConfigFile(ended.Chip().nvm));
}

// A reader that goes away while the chip is programmed: the run goes on,
// says that its output was lost, and ends by SIGPIPE.
TEST_F(EndToEndSignals, ALostReaderWhileProgrammingWaitsForTheChip) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    Background run;
    Hold transfers;
    int write_end = -1;
    const int out = StartHeldBeforeTheErase(Launch::Gpakcfg({"-t", "nvm", "-w", kExample}), run,
                                            transfers, write_end);
    close(write_end);
    close(out);  // the reader goes before the erase section
    transfers.Reset();
    const RunResult ended = run.Wait();
    EXPECT_EQ(ended.signal, SIGPIPE);
    EXPECT_TRUE(
        Contains(ended.err, "gpakcfg: SIGPIPE: the run stops as soon as the chip is programmed"));
    EXPECT_TRUE(Contains(ended.err, "gpakcfg: write error: Broken pipe"));
    EXPECT_EQ(ended.Chip().nvm, FileImage(kExample, 1));
}

// After a signal held while programming, the run reads back and logs; a
// log FIFO whose reader takes nothing holds it there (for a while), and a
// second signal now ends it at once: it was swallowed before.
TEST_F(EndToEndSignals, ASecondSignalAfterProgrammingIsNowNotSwallowed) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    const std::string fifo = bench.Path("log.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Hold reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    const Hold filler(open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    const std::string page(4096, '\n');
    while (write(filler.Get(), page.data(), page.size()) > 0) {
    }
    const std::string pid_file = bench.Path("gpakcfg.pid");
    const Launch programming({"/bin/sh", "-c",
                              "echo $$ > " + pid_file + "; exec " + kGpakcfg + " -t nvm -w " +
                                  kExample + " --log " + fifo});
    Background run;
    Hold transfers;
    int write_end = -1;
    const int out = StartHeldBeforeTheErase(programming, run, transfers, write_end);
    ASSERT_EQ(write(write_end, page.data(), page.size()), 4096);  // held at the erase heading
    close(write_end);
    transfers.Reset();
    const pid_t gpakcfg = std::stoi(ReadFile(pid_file));
    for (int i = 0; i < 500 && !CatchesSigint(gpakcfg); ++i) {
        usleep(10000);
    }
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
    run.WaitForErr("gpakcfg: SIGTERM: the run stops as soon as the chip is programmed\n");
    std::thread drain([out] {
        char buffer[4096];
        while (read(out, buffer, sizeof buffer) > 0) {
        }
    });
    run.WaitForTransfers(52);  // programmed and read back: at the log
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
    const RunResult ended = run.Wait();
    drain.join();
    close(out);
    EXPECT_EQ(ended.signal, SIGTERM);
    EXPECT_FALSE(Contains(ended.err, "not logged")) << ended.err;
    EXPECT_LT(ended.seconds, 8);
    EXPECT_EQ(ended.Chip().nvm, FileImage(kExample, 1));
}

// Real time: Ctrl-C at the first erase command neither stops the run nor
// shortens a pause (the chip refuses everything while busy); the run ends
// by SIGINT.
TEST_F(EndToEndSignals, RealTimeSigintDuringProgrammingKeepsEveryPause) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    Background run = bench.Start(Launch::Gpakcfg({"-t", "nvm", "-w", kExample}).RealTime());
    run.WaitForTransfers(3);  // its first erase command, after the reads at 0x08 and 0x00
    ASSERT_EQ(kill(run.Pid(), SIGINT), 0);
    const RunResult ended = run.Wait();
    EXPECT_EQ(ended.signal, SIGINT);
    EXPECT_GE(ended.seconds, 2.32);
    EXPECT_EQ(ended.transfers.size(), 52u);
    EXPECT_TRUE(AllAckedButAtControlCode0(ended));
    EXPECT_EQ(ended.Chip().nvm, FileImage(kExample, 1));
}

}  // namespace
}  // namespace gpaktest
