// Runs that end as the chip ends, with the built gpakcfg through gpak-sim:
// a chip that does not hold the file fails the verify, signals wait for
// the chip to be programmed, two runs on one bus take turns, and a run
// that cannot reach the bus or write its output says so and fails.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <sstream>
#include <thread>

#include "config_file/config_file.h"
#include "config_file/save.h"
#include "options.h"
#include "run_command.h"
#include "state_file.h"

namespace {

using gpaktest::CommandResult;
using gpaktest::ReadFile;
using gpaktest::RunCommand;
using Strings = std::vector<std::string>;
using namespace std::chrono_literals;

const std::string kExample = std::string(GPAKCFG_EXAMPLES) + "/demo-config.hex";

// As in a user's shell: a test runner may start the tests with some
// signals ignored, which the programs would then inherit. And no core
// files of the runs that end by SIGQUIT.
void DefaultSignals() {
    for (const int sig :
         {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM, SIGXFSZ, SIGRTMIN + 3}) {
        std::signal(sig, SIG_DFL);
    }
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
}

// A command started in the background, standard output and error in files.
struct Background {
    pid_t pid = -1;
    int Wait() const {
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    }
};

// These start the launcher, or this machine's /bin/sh, in the background
// and signal them: under a cross build's user-mode emulator neither runs as
// it does natively. The emulated Raspberry Pi proves the same on ARM.
#define SKIP_WHEN_EMULATED()                                             \
    if (!gpaksim::Emulator().empty()) {                                  \
        GTEST_SKIP() << "processes run under a user-mode emulator here"; \
    }

class EndToEndRuns : public testing::Test {
protected:
    Strings Launcher(const Strings& sim, const Strings& args, const std::string& trace_file) {
        Strings argv = {GPAKSIM_BIN, "--state", state, "--trace", trace_file};
        argv.insert(argv.end(), sim.begin(), sim.end());
        argv.push_back("--");
        argv.push_back(GPAKCFG_BIN);
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    CommandResult Gpakcfg(const Strings& sim, const Strings& args) {
        return RunCommand(Launcher(sim, args, trace));
    }
    // The same run in the background.
    Background Start(const Strings& argv, const std::string& name) {
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        const std::string out = dir.Path(name + ".out");
        const std::string err = dir.Path(name + ".err");
        Background started;
        started.pid = fork();
        if (started.pid == 0) {
            DefaultSignals();
            const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out_fd, 1);
            dup2(err_fd, 2);
            execv(args[0], args.data());
            _exit(127);
        }
        return started;
    }
    std::string Err(const std::string& name) { return ReadFile(dir.Path(name + ".err")); }

    // Lines of a trace that are transfers.
    static Strings Transfers(const std::string& file) {
        Strings lines;
        std::istringstream in(ReadFile(file));
        for (std::string line; std::getline(in, line);) {
            if (line.find(" 0x") != std::string::npos) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    gpaksim::ChipState Chip() const {
        const gpaksim::ParsedState parsed = gpaksim::LoadStateFile(state, true);
        EXPECT_TRUE(parsed.ok) << parsed.error;
        return parsed.state.chip;
    }
    // What -w file sends to the NVM at control code 1.
    static ConfigImage SentToNvm(const std::string& file) {
        ConfigImage image{};
        EXPECT_EQ(ReadConfigFile(file, image).status, ConfigFileStatus::kRead);
        image[0xCA] = static_cast<std::uint8_t>((image[0xCA] & 0xF0) | 1);
        return image;
    }
    // A second configuration, unlike the example.
    std::string OtherFile() {
        ConfigImage image{};
        for (std::size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<std::uint8_t>(i * 37 + 11);
        }
        return dir.Write("other.hex", hexfile::FormatConfigFile(image));
    }
    // Makes the state file, and waits until something waits on it.
    void MakeState() { ASSERT_EQ(Gpakcfg({"--virtual-time"}, {"-t", "reg"}).status, 0); }
    void WaitFor(const std::string& name, const std::string& text) {
        for (int i = 0; i < 500 && Err(name).find(text) == std::string::npos; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_NE(Err(name).find(text), std::string::npos) << Err(name);
    }

    gpaktest::TempDir dir;
    std::string state = dir.Path("chip.state");
    std::string trace = dir.Path("bus.trace");
};

// The bus lock of a run is a flock(2) on the node, which the simulator
// takes on its state file; the state lock is what each transfer waits for.
class Hold {
public:
    // Close-on-exec: a run started meanwhile must not hold the lock too.
    Hold(const std::string& path, bool transfers) : fd_(open(path.c_str(), O_RDWR | O_CLOEXEC)) {
        if (transfers) {
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            EXPECT_EQ(fcntl(fd_, F_OFD_SETLKW, &lock), 0);
        } else {
            EXPECT_EQ(flock(fd_, LOCK_EX), 0);
        }
    }
    ~Hold() { Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    void Release() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

TEST_F(EndToEndRuns, AChipThatDoesNotHoldTheFileFailsTheVerify) {
    ASSERT_EQ(Gpakcfg({"--virtual-time"}, {"-t", "eeprom", "-w", OtherFile()}).status, 0);
    // Erase commands the chip never carries out: the pages are ORed into
    // the old configuration, and every page line still says complete.
    const CommandResult ored =
        Gpakcfg({"--virtual-time", "--nack", "0x08:0xe3"}, {"-t", "eeprom", "-w", kExample});
    EXPECT_EQ(ored.status, 1);
    EXPECT_EQ(std::count(ored.err.begin(), ored.err.end(), '\n'), 1) << ored.err;
    EXPECT_EQ(ored.err.find("gpakcfg: 0x0B: the memory differs from what was sent: "), 0u)
        << ored.err;
    EXPECT_NE(ored.err.find(" of 256 bytes, the first at 0x"), std::string::npos);
    EXPECT_EQ(ored.out.find("differs"), std::string::npos);  // standard output as it was
    std::size_t completes = 0;
    for (std::size_t at = 0; (at = ored.out.find(": complete", at)) != std::string::npos; ++at) {
        ++completes;
    }
    EXPECT_EQ(completes, 32u);

    const CommandResult unchecked = Gpakcfg({"--virtual-time", "--nack", "0x08:0xe3"},
                                            {"-t", "eeprom", "-w", kExample, "--no-verify"});
    EXPECT_EQ(unchecked.status, 0) << unchecked.err;
    const CommandResult good = Gpakcfg({"--virtual-time"}, {"-t", "eeprom", "-w", kExample});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
}

TEST_F(EndToEndRuns, VerifyFileComparesWithoutWriting) {
    ASSERT_EQ(Gpakcfg({"--virtual-time"}, {"-t", "nvm", "-w", kExample}).status, 0);
    std::remove(trace.c_str());
    const CommandResult same = Gpakcfg({"--virtual-time"}, {"-t", "nvm", "--verify", kExample});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.err, "");
    const Strings reads = Transfers(trace);
    EXPECT_EQ(reads.size(), 16u);
    for (const std::string& line : reads) {
        EXPECT_NE(line.find("0x0A W "), std::string::npos) << line;  // reads only
    }
    const CommandResult other = Gpakcfg({"--virtual-time"}, {"-t", "nvm", "--verify", OtherFile()});
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err.find("gpakcfg: 0x0A: the memory differs from what was sent: "), 0u);
    EXPECT_EQ(Gpakcfg({}, {"-t", "reg", "--verify", kExample}).status, 255);
    EXPECT_EQ(Transfers(trace).size(), 32u);
}

TEST_F(EndToEndRuns, TyposSendNothing) {
    for (const Strings& args :
         {Strings{"-t", "nvm", kExample}, Strings{"-t", "nvm", "-w"},
          Strings{"-t", "nvm", "-c", "12", "-w", kExample}, Strings{"-t", "nvm", "-c", "g"},
          Strings{"-t", "nvm", "-w", kExample, "-x"}}) {
        const CommandResult run = Gpakcfg({}, args);
        EXPECT_EQ(run.status, 255) << testing::PrintToString(args);
        EXPECT_EQ(run.err.find("gpakcfg: "), 0u) << run.err;
    }
    const CommandResult help = Gpakcfg({}, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: "), std::string::npos);
    EXPECT_EQ(ReadFile(trace), "");
}

TEST_F(EndToEndRuns, NoNodeOrNowNoDescriptorNoCompleteAndNothingSent) {
    const CommandResult run = Gpakcfg({"--no-node"}, {"-t", "nvm", "-w", kExample});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.find("complete"), std::string::npos);
    EXPECT_EQ(run.err.find("Device open error: No such file or directory\n"), 0u) << run.err;
    EXPECT_EQ(ReadFile(trace), "");
    // The same for another bus than the simulated one.
    const CommandResult other = Gpakcfg({}, {"-t", "nvm", "-w", kExample, "--bus", "7"});
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("/dev/i2c-7: no such bus"), std::string::npos) << other.err;
    EXPECT_EQ(ReadFile(trace), "");
    if (!gpaksim::Emulator().empty()) {
        return;  // this machine's /bin/sh under the launcher
    }
    // Whatever the limit on descriptors, a run programs the chip whole, or
    // says why and sends nothing. Where the run gets the bus but no
    // transfer can be opened (ulimit -n 7 in a shell), its first erase
    // command is now "not sent", not "complete", and the run stops there.
    // The limits count the descriptors the test leaves open too.
    bool stopped_at_erase = false;
    for (int limit = 4; limit <= 64; ++limit) {
        std::remove(trace.c_str());
        const CommandResult limited =
            RunCommand({GPAKSIM_BIN, "--state", state, "--trace", trace, "--virtual-time", "--",
                        "/bin/sh", "-c",
                        "ulimit -n " + std::to_string(limit) + "; exec " GPAKCFG_BIN " -t nvm -w " +
                            kExample});
        if (limited.status == 126 || limited.status == 127) {
            continue;  // too few to start gpakcfg at all
        }
        if (limited.status == 0) {
            EXPECT_EQ(Transfers(trace).size(), 50u) << limit;
            break;
        }
        EXPECT_EQ(limited.status, 1) << limit;
        EXPECT_NE(limited.err.find("gpakcfg: "), std::string::npos) << limit;
        EXPECT_EQ(limited.out.find("complete"), std::string::npos) << limit;
        EXPECT_EQ(Transfers(trace), Strings{}) << limit;
        if (limited.out.find("Page 0x00 : not sent\n\n") != std::string::npos) {
            stopped_at_erase = true;
            EXPECT_EQ(limited.out.find("configration data."), std::string::npos) << limited.out;
            EXPECT_NE(limited.err.find("gpakcfg: /dev/i2c-1: erase command for page 0x00 to 0x08 "
                                       "not sent: the node could not be opened (Too many open "
                                       "files); the run stops here, before anything reached the "
                                       "chip\n"),
                      std::string::npos)
                << limited.err;
        }
    }
    EXPECT_TRUE(stopped_at_erase);
}

// Standard output full, closed, or a log that reaches the file-size limit
// during the erase (these two now fail the run rather than pass it or end
// it half-erased by SIGXFSZ): the chip is programmed all the same, and the
// node never lands on a standard descriptor.
TEST_F(EndToEndRuns, OutputThatCannotBeWrittenNowAlsoClosedOrLimitedFailsTheRunButNotTheChip) {
    SKIP_WHEN_EMULATED();
    struct Case {
        std::string shell;  // before gpakcfg, and its redirection
        std::string redirection;
        std::string err;
    };
    // 42 blocks of 512 bytes: 1004 bytes more fit into the log, about the
    // banner, the file and five erase lines.
    const std::string log = dir.Write("bench.log", std::string(20500, '#'));
    for (const Case& c :
         {Case{"", "> /dev/full", "gpakcfg: write error: No space left on device\n"},
          Case{"", ">&-", "gpakcfg: write error: Bad file descriptor\n"},
          Case{"", "<&- >&- 2>&-", ""},
          Case{"ulimit -f 42; ", ">> " + log, "gpakcfg: write error: File too large\n"}}) {
        std::remove(trace.c_str());
        const CommandResult run = RunCommand(
            {GPAKSIM_BIN, "--state", state, "--trace", trace, "--virtual-time", "--", "/bin/sh",
             "-c", c.shell + "exec " GPAKCFG_BIN " -t nvm -w " + kExample + " " + c.redirection});
        EXPECT_EQ(run.status, 1) << c.redirection;
        EXPECT_EQ(run.err, c.err) << c.redirection;
        const std::string traced = ReadFile(trace);
        EXPECT_EQ(traced.find("standard stream"), std::string::npos) << traced;
        EXPECT_EQ(Transfers(trace).size(), 50u) << c.redirection;
        EXPECT_EQ(Chip().nvm, SentToNvm(kExample)) << c.redirection;
    }
    const std::string logged = ReadFile(log);
    EXPECT_EQ(logged.size(), 42u * 512);
    // It reached the limit among the erase lines.
    EXPECT_NE(logged.find("Erase chip configration."), std::string::npos);
    EXPECT_EQ(logged.find("Write configration data."), std::string::npos);
}

// Each signal that arrives while the chip is programmed waits for it: the
// run is held at its first erase command, signalled, then let go. Those
// the launcher does not pass on (now held too) go to gpakcfg itself, which
// a shell started and wrote the process ID of.
TEST_F(EndToEndRuns, SignalsWhileProgrammingNowAllOfThemWaitForTheChip) {
    SKIP_WHEN_EMULATED();
    MakeState();
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
    const std::string log = dir.Path("runs.log");
    const std::string pid_file = dir.Path("gpakcfg.pid");
    for (const Case& c : cases) {
        std::remove(trace.c_str());
        std::remove(pid_file.c_str());
        Hold bus(state, false);
        const std::string name = "run" + std::to_string(c.sig);
        const Background run =
            Start({GPAKSIM_BIN, "--state", state, "--trace", trace, "--virtual-time", "--",
                   "/bin/sh", "-c",
                   "echo $$ > " + pid_file + "; exec " GPAKCFG_BIN " -t nvm -w " + kExample +
                       " --log " + log},
                  name);
        WaitFor(name, "waiting up to 10 s");
        Hold transfers(state, true);
        bus.Release();
        std::this_thread::sleep_for(200ms);  // it takes the bus and waits at its first erase
        const pid_t target = c.to_launcher ? run.pid : std::stoi(ReadFile(pid_file));
        ASSERT_EQ(kill(target, c.sig), 0);
        WaitFor(name, "gpakcfg: " + c.name + ": the run stops as soon as the chip is programmed\n");
        transfers.Release();
        const int status = run.Wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << c.name << " " << status;
        EXPECT_NE(Err(name).find("gpakcfg: ended by " + c.name +
                                 ": the chip is programmed and holds the file\n"),
                  std::string::npos)
            << Err(name);
        EXPECT_EQ(Transfers(trace).size(), 50u);  // erase, write, read-back: all of it
        EXPECT_EQ(Chip().nvm, SentToNvm(kExample));
        // Its log line, written before the signal ends it.
        const std::string last = ReadFile(log).substr(ReadFile(log).rfind('{'));
        EXPECT_NE(last.find("\"verified\": true, "), std::string::npos) << last;
        EXPECT_NE(last.find(std::string("\"status\": 0, ")), std::string::npos) << last;
        EXPECT_NE(last.find("\"signal\": \"" + c.name + "\"}\n"), std::string::npos) << last;
    }
}

TEST_F(EndToEndRuns, SignalsBeforeProgrammingActAsUsual) {
    SKIP_WHEN_EMULATED();
    MakeState();
    std::remove(trace.c_str());
    Hold bus(state, false);
    const Background run =
        Start(Launcher({"--virtual-time"}, {"-t", "nvm", "-w", OtherFile()}, trace), "run");
    WaitFor("run", "waiting up to 10 s");
    ASSERT_EQ(kill(run.pid, SIGTERM), 0);
    const int status = run.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(Err("run").find("ended by"), std::string::npos);
    EXPECT_EQ(Transfers(trace).size(), 0u);
    EXPECT_EQ(Chip().nvm, gpaksim::DefaultChip().nvm);
}

// A signal while --save replaces its file now waits for the replacement
// (the new copy is renamed over the file, or removed): no copy is left.
TEST_F(EndToEndRuns, ASignalWhileSavingNowLeavesNoCopyBehind) {
    SKIP_WHEN_EMULATED();
    MakeState();
    const std::string backups = dir.Path("backups");
    ASSERT_EQ(mkdir(backups.c_str(), 0700), 0);
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, backups.c_str(), IN_CREATE), 0);
    const Background run =
        Start(Launcher({"--virtual-time"}, {"-t", "nvm", "--save", backups + "/board.hex"}, trace),
              "save");
    pollfd created{watch, POLLIN, 0};
    ASSERT_EQ(poll(&created, 1, 5000), 1) << Err("save");  // the new copy is there
    ASSERT_EQ(kill(run.pid, SIGTERM), 0);                  // to the launcher, which passes it on
    close(watch);
    const int status = run.Wait();
    // It ends by the signal, or has just finished when the copy is written fast.
    EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == SIGTERM : WEXITSTATUS(status) == 0)
        << status;
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
    EXPECT_EQ(ReadFile(backups + "/board.hex"), hexfile::FormatConfigFile(Chip().nvm));
}

// A reader that goes away while the chip is programmed: the run goes on,
// says that its output was lost, and ends by SIGPIPE.
TEST_F(EndToEndRuns, ALostReaderWhileProgrammingWaitsForTheChip) {
    SKIP_WHEN_EMULATED();
    MakeState();
    int pipe_fds[2];
    ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
    Hold bus(state, false);
    const Strings argv = Launcher({"--virtual-time"}, {"-t", "nvm", "-w", kExample}, trace);
    const pid_t pid = fork();
    if (pid == 0) {
        DefaultSignals();
        const int err_fd = open(dir.Path("run.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(pipe_fds[1], 1);
        dup2(err_fd, 2);
        close(pipe_fds[0]);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    WaitFor("run", "waiting up to 10 s");
    Hold transfers(state, true);
    bus.Release();
    std::string out;
    char buffer[256];
    while (out.find("Erase chip configration.\n") == std::string::npos) {
        const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipe_fds[0]);  // the reader goes before the first page line
    transfers.Release();
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
    EXPECT_NE(Err("run").find("gpakcfg: SIGPIPE: the run stops as soon as the chip is programmed"),
              std::string::npos)
        << Err("run");
    EXPECT_NE(Err("run").find("gpakcfg: write error: Broken pipe"), std::string::npos);
    EXPECT_EQ(Chip().nvm, SentToNvm(kExample));
}

// Two runs on one bus take turns: the second waits, says so once, and
// starts only when the first has let go of the bus.
TEST_F(EndToEndRuns, TwoRunsOnOneBusNeverInterleave) {
    SKIP_WHEN_EMULATED();
    MakeState();
    std::remove(trace.c_str());
    const std::string other = OtherFile();
    const std::string trace_b = dir.Path("b.trace");
    Hold bus(state, false);
    const Background a =
        Start(Launcher({"--virtual-time"}, {"-t", "nvm", "-w", kExample}, trace), "a");
    const Background b =
        Start(Launcher({"--virtual-time"}, {"-t", "nvm", "-w", other}, trace_b), "b");
    WaitFor("a", "waiting up to 10 s");
    WaitFor("b", "waiting up to 10 s");
    bus.Release();
    const int status_a = a.Wait();
    const int status_b = b.Wait();
    EXPECT_TRUE(WIFEXITED(status_a) && WEXITSTATUS(status_a) == 0) << Err("a");
    EXPECT_TRUE(WIFEXITED(status_b) && WEXITSTATUS(status_b) == 0) << Err("b");
    // On the shared virtual clock, one run's transfers all come before the other's.
    const auto span = [](const Strings& lines) {
        return std::make_pair(std::stod(lines.front()), std::stod(lines.back()));
    };
    const Strings lines_a = Transfers(trace);
    const Strings lines_b = Transfers(trace_b);
    ASSERT_EQ(lines_a.size(), 50u);
    ASSERT_EQ(lines_b.size(), 50u);
    const auto [a_first, a_last] = span(lines_a);
    const auto [b_first, b_last] = span(lines_b);
    EXPECT_TRUE(a_last <= b_first || b_last <= a_first)
        << a_first << ".." << a_last << " and " << b_first << ".." << b_last;
    const ConfigImage last = a_last > b_last ? SentToNvm(kExample) : SentToNvm(other);
    EXPECT_EQ(Chip().nvm, last);
}

// Real time: a run that another holds the bus from gives up after 10 s.
TEST_F(EndToEndRuns, RealTimeABusHeldTooLongIsGivenUpAfterTenSeconds) {
    MakeState();
    std::remove(trace.c_str());
    Hold bus(state, false);
    const auto start = std::chrono::steady_clock::now();
    const CommandResult run = Gpakcfg({}, {"-t", "nvm", "-w", kExample});
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 1);
    EXPECT_GE(waited.count(), 10.0);
    EXPECT_LT(waited.count(), 12.0);
    EXPECT_EQ(run.err,
              "gpakcfg: /dev/i2c-1 is in use by another gpakcfg run; waiting up to 10 s\n"
              "gpakcfg: /dev/i2c-1 is still in use; nothing was sent to the chip\n");
    EXPECT_EQ(ReadFile(trace), "");
}

// Real time: Ctrl-C half a second in neither stops the run nor shortens a
// pause; the run then ends by SIGINT.
TEST_F(EndToEndRuns, RealTimeSigintDuringProgrammingKeepsEveryPause) {
    SKIP_WHEN_EMULATED();
    const Background run = Start(Launcher({}, {"-t", "nvm", "-w", kExample}, trace), "run");
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(kill(run.pid, SIGINT), 0);
    const int status = run.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(Chip().nvm, SentToNvm(kExample));
    const Strings lines = Transfers(trace);
    ASSERT_EQ(lines.size(), 50u);
    std::vector<double> times;
    for (const std::string& line : lines) {
        times.push_back(std::stod(line));
    }
    for (std::size_t i = 1; i < 16; ++i) {
        EXPECT_GE(times[i] - times[i - 1], 0.010) << "erase " << i;
        EXPECT_GE(times[17 + i] - times[16 + i], 0.010) << "write " << i;
    }
    EXPECT_GE(times[17] - times[16], 1.0);  // the reset after the erase
    EXPECT_GE(times[34] - times[33], 1.0);  // the closing reset
}

}  // namespace
