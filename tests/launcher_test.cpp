// gpak-sim run as a user runs it: unmodified i2c-tools through it agree
// with gpakcfg's dump and with the state file, processes under launchers
// that share a state file see one chip, and the launcher passes signals on
// and keeps its own files off the standard descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "options.h"
#include "run_command.h"
#include "state_file.h"

namespace {

using gpaktest::CommandResult;
using gpaktest::DumpRow;
using gpaktest::ReadFile;
using gpaktest::RunCommand;
using Strings = std::vector<std::string>;

const std::string kExample = std::string(GPAKCFG_EXAMPLES) + "/demo-config.hex";

// The 16 bytes of a row of i2cdump's byte modes ("10: a8 2e ..."), as 32
// hex digits.
std::string I2cdumpRow(const std::string& out, int row) {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "\n%02x: ", row * 16);
    const std::size_t at = out.find(prefix);
    if (at == std::string::npos) {
        return "";
    }
    std::istringstream cells(out.substr(at + 5, 16 * 3));
    std::string digits;
    for (std::string cell; cells >> cell;) {
        digits += cell;
    }
    return digits;
}

std::string Hex(const gpaksim::Memory& memory, int row) {
    std::string digits;
    for (int col = 0; col < 16; ++col) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", memory[static_cast<std::size_t>(row * 16 + col)]);
        digits += byte;
    }
    return digits;
}

class LauncherTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"i2cdetect", "i2cget", "i2cset", "i2cdump", "i2ctransfer"}) {
            const CommandResult found =
                RunCommand({"/bin/sh", "-c", std::string("command -v ") + tool});
            tools[tool] = found.out.substr(0, found.out.find('\n'));
        }
    }

    CommandResult Simulated(const Strings& sim, const Strings& command) {
        Strings argv = {GPAKSIM_BIN, "--state", state};
        argv.insert(argv.end(), sim.begin(), sim.end());
        argv.push_back("--");
        argv.insert(argv.end(), command.begin(), command.end());
        return RunCommand(argv);
    }

    // An i2c-tools command under the launcher; skips the test without it.
    CommandResult Tool(const std::string& tool, const Strings& args, const Strings& sim = {}) {
        if (tools[tool].empty()) {
            ADD_FAILURE() << tool << " (i2c-tools) is not installed";
            return {};
        }
        Strings command = {tools[tool]};
        command.insert(command.end(), args.begin(), args.end());
        return Simulated(sim, command);
    }

    bool HaveTools() {
        const CommandResult probe = Simulated({}, {tools["i2cget"], "-V"});
        return !tools["i2cget"].empty() && probe.status != 126;
    }

    gpaksim::ChipState Chip() const {
        const gpaksim::ParsedState parsed = gpaksim::LoadStateFile(state, false);
        EXPECT_TRUE(parsed.ok) << parsed.error;
        return parsed.state.chip;
    }

    gpaktest::TempDir dir;
    std::string state = dir.Path("chip.state");
    std::map<std::string, std::string> tools;
};

#define REQUIRE_I2C_TOOLS()                                                       \
    if (!HaveTools()) {                                                           \
        GTEST_SKIP() << "i2c-tools for the machine under test are not installed"; \
    }

TEST_F(LauncherTest, I2cdetectFindsTheChipsThreeBlocks) {
    REQUIRE_I2C_TOOLS();
    const CommandResult run = Tool("i2cdetect", {"-y", "1"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n00:                         08 -- 0a 0b -- -- -- -- \n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("UU"), std::string::npos);
}

TEST_F(LauncherTest, I2cgetAndI2csetAgreeWithTheDumpAndTheStateFile) {
    REQUIRE_I2C_TOOLS();
    const CommandResult dump = Simulated({}, {GPAKCFG_BIN, "-t", "nvm"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    CommandResult run = Tool("i2cget", {"-y", "1", "0x0a", "0xca"});
    EXPECT_EQ(run.out, "0x" + DumpRow(dump.out, 0x0C).substr(20, 2) + "\n");

    run = Tool("i2cset", {"-y", "1", "0x08", "0x10", "0x55"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = Tool("i2cget", {"-y", "1", "0x08", "0x10"});
    EXPECT_EQ(run.out, "0x55\n");
    EXPECT_EQ(Chip().registers[0x10], 0x55);
    // A byte write to the NVM is no page: acknowledged and disregarded.
    run = Tool("i2cset", {"-y", "1", "0x0a", "0x10", "0xff"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Chip().nvm[0x10], gpaksim::DefaultChip().nvm[0x10]);
}

TEST_F(LauncherTest, I2cdumpShowsTheMemoriesAsGpakcfgDoes) {
    REQUIRE_I2C_TOOLS();
    const CommandResult program =
        Simulated({"--virtual-time"}, {GPAKCFG_BIN, "-t", "eeprom", "-w", kExample});
    ASSERT_EQ(program.status, 0) << program.err;
    const CommandResult dump = Simulated({"--virtual-time"}, {GPAKCFG_BIN, "-t", "eeprom"});
    ASSERT_EQ(dump.status, 0);
    const gpaksim::ChipState chip = Chip();
    for (const char* mode : {"b", "i", "c"}) {
        const CommandResult run = Tool("i2cdump", {"-y", "1", "0x0b", mode}, {"--virtual-time"});
        EXPECT_EQ(run.status, 0) << mode << run.err;
        for (int row = 0; row < 16; ++row) {
            EXPECT_EQ(I2cdumpRow(run.out, row), DumpRow(dump.out, row)) << mode << " row " << row;
            EXPECT_EQ(I2cdumpRow(run.out, row), Hex(chip.eeprom, row)) << mode;
        }
    }
    // Word mode: the word at register r is byte r, then byte r + 1 above it.
    const CommandResult words = Tool("i2cdump", {"-y", "1", "0x0b", "w"}, {"--virtual-time"});
    EXPECT_EQ(words.status, 0) << words.err;
    char expected[16];
    std::snprintf(expected, sizeof expected, "\n00: %02x%02x %02x%02x", chip.eeprom[1],
                  chip.eeprom[0], chip.eeprom[2], chip.eeprom[1]);
    EXPECT_NE(words.out.find(expected), std::string::npos) << words.out;
}

TEST_F(LauncherTest, I2ctransferReadsWhatTheToolDumps) {
    REQUIRE_I2C_TOOLS();
    const CommandResult dump = Simulated({}, {GPAKCFG_BIN, "-t", "nvm"});
    const CommandResult run = Tool("i2ctransfer", {"-y", "1", "w1@0x0a", "0x10", "r16"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string bytes;
    std::istringstream in(run.out);
    unsigned value = 0;
    while (in >> std::hex >> value) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", value);
        bytes += hex;
    }
    EXPECT_EQ(bytes, DumpRow(dump.out, 0x01));
}

TEST_F(LauncherTest, ANackFailsAsOnThePiOrAsChosen) {
    REQUIRE_I2C_TOOLS();
    CommandResult run = Tool("i2ctransfer", {"-y", "1", "w1@0x50", "0x00"});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("Remote I/O error"), std::string::npos) << run.err;
    run = Tool("i2ctransfer", {"-y", "1", "w1@0x50", "0x00"}, {"--errno", "enxio"});
    EXPECT_NE(run.err.find("No such device or address"), std::string::npos) << run.err;
}

TEST_F(LauncherTest, AnotherBusIsAnsweredAndNotTheFirst) {
    REQUIRE_I2C_TOOLS();
    CommandResult run = Tool("i2cget", {"-y", "3", "0x08", "0x00"}, {"--bus", "3"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = Tool("i2cget", {"-y", "1", "0x08", "0x00"}, {"--bus", "3"});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("/dev/i2c-1"), std::string::npos) << run.err;
}

// Two loops of i2cset under two launchers at once change one chip, and
// the state file reads whole all the while.
TEST_F(LauncherTest, TwoLaunchersSharingAStateFileChangeOneChip) {
    REQUIRE_I2C_TOOLS();
    ASSERT_EQ(Tool("i2cget", {"-y", "1", "0x08", "0x00"}).status, 0);  // makes the file
    const auto loop = [&](const std::string& reg) {
        const std::string script = "for v in $(seq 0 40); do " + tools["i2cset"] + " -y 1 0x08 " +
                                   reg + " $v || exit 1; done";
        return Simulated({}, {"/bin/sh", "-c", script});
    };
    std::vector<std::string> torn;
    bool done = false;
    std::thread reader([&] {
        while (!done) {
            const gpaksim::ParsedState parsed = gpaksim::LoadStateFile(state, false);
            if (!parsed.ok) {
                torn.push_back(parsed.error);
            }
        }
    });
    CommandResult first;
    std::thread other([&] { first = loop("0x20"); });
    const CommandResult second = loop("0x21");
    other.join();
    done = true;
    reader.join();
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(torn, std::vector<std::string>{});
    EXPECT_EQ(Chip().registers[0x20], 40);
    EXPECT_EQ(Chip().registers[0x21], 40);
}

// The chips of --chip are in the state file once the launcher has started,
// though no program opens a node: the file's one chip, with its memories,
// as chip #1 at the code given, and a fresh chip on its own bus.
TEST_F(LauncherTest, TheChipsAreInTheStateFileFromTheLaunch) {
    const CommandResult program =
        Simulated({"--virtual-time"}, {GPAKCFG_BIN, "-t", "eeprom", "-w", kExample});
    ASSERT_EQ(program.status, 0) << program.err;
    const gpaksim::Memory eeprom = Chip().eeprom;
    const CommandResult run =
        Simulated({"--chip", "0", "--chip", "2:3"}, {GPAKCFG_BIN, "--version"});
    ASSERT_EQ(run.status, 0) << run.err;
    const gpaksim::ParsedState parsed = gpaksim::LoadStateFile(state, false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(parsed.state.ChipCount(), 2u);
    const gpaksim::ChipState& first = parsed.state.ChipAt(0);
    EXPECT_EQ(first.bus, "/dev/i2c-1");
    EXPECT_EQ(first.eeprom, eeprom);
    EXPECT_EQ(first.nvm[0xCA] & 0x0F, 0);
    EXPECT_EQ(first.registers[0xCA] & 0x0F, 0);
    const gpaksim::ChipState& second = parsed.state.ChipAt(1);
    EXPECT_EQ(second.bus, "/dev/i2c-2");
    EXPECT_EQ(second.nvm[0xCA] & 0x0F, 3);
}

// A command started in the background, with its pid.
struct Started {
    pid_t pid = -1;
};

// With timer_ms, it starts with a timer (setitimer(2)) that sends SIGALRM
// then, as a supervisor's alarm(2) before its exec would.
Started Start(const Strings& argv, long timer_ms = 0) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    Started started;
    started.pid = fork();
    if (started.pid == 0) {
        const int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        const itimerval timer{{0, 0}, {timer_ms / 1000, timer_ms % 1000 * 1000}};
        setitimer(ITIMER_REAL, &timer, nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return started;
}

TEST_F(LauncherTest, SignalsToTheLauncherReachTheCommandWhichItWaitsFor) {
    if (!gpaksim::Emulator().empty()) {
        GTEST_SKIP() << "the launcher runs under a user-mode emulator, which takes the signals";
    }
    const std::string pid_file = dir.Path("pid");
    // The command cleans up for 0.3 s on SIGTERM, then exits 3.
    const std::string script =
        "echo $$ > " + pid_file + "; trap 'kill $!; sleep 0.3; exit 3' TERM; sleep 10 & wait $!";
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGALRM, SIGRTMIN + 1}) {
        std::remove(pid_file.c_str());
        const std::string trapped =
            sig == SIGTERM ? script : "echo $$ > " + pid_file + "; exec sleep 10";
        const Started launcher = Start({GPAKSIM_BIN, "--", "/bin/sh", "-c", trapped});
        int status = 0;
        for (int waited = 0; ReadFile(pid_file).empty(); ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (waitpid(launcher.pid, &status, WNOHANG) == launcher.pid) {
                // /bin/sh is not for the machine of a cross build's launcher.
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 126) << status;
                GTEST_SKIP() << "the launcher cannot run this machine's /bin/sh";
            }
            ASSERT_LT(waited, 2000) << "the command did not start";
        }
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(launcher.pid, sig), 0);
        ASSERT_EQ(waitpid(launcher.pid, &status, 0), launcher.pid);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - sent;
        const pid_t command = std::stoi(ReadFile(pid_file));
        EXPECT_NE(kill(command, 0), 0) << "the command outlived the launcher";
        if (sig == SIGTERM) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
            EXPECT_GE(took.count(), 0.3);
        } else {
            // The command ended by the signal, and so does the launcher.
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        }
        EXPECT_LT(took.count(), 5.0);
    }
}

// A timer that the launcher was started with ends the command too, and
// the launcher as it ends.
TEST_F(LauncherTest, ATimerOfTheLaunchersEndsTheCommand) {
    if (!gpaksim::Emulator().empty()) {
        GTEST_SKIP() << "the launcher runs under a user-mode emulator, which takes the signals";
    }
    const std::string pid_file = dir.Path("pid");
    // Set later each time it went off before the command ran.
    for (long timer_ms = 200;; timer_ms *= 2) {
        std::remove(pid_file.c_str());
        const Started launcher =
            Start({GPAKSIM_BIN, "--", "/bin/sh", "-c", "echo $$ > " + pid_file + "; exec sleep 10"},
                  timer_ms);
        int status = 0;
        ASSERT_EQ(waitpid(launcher.pid, &status, 0), launcher.pid);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 126) {
            GTEST_SKIP() << "the launcher cannot run this machine's /bin/sh";
        }
        if (ReadFile(pid_file).empty()) {
            ASSERT_LT(timer_ms, 5000) << "the command did not start";
            continue;
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << status;
        EXPECT_NE(kill(std::stoi(ReadFile(pid_file)), 0), 0) << "the command outlived the launcher";
        break;
    }
}

TEST_F(LauncherTest, ItsOwnFilesNeverTakeTheStandardDescriptors) {
    const std::string trace = dir.Path("trace");
    const CommandResult run =
        Simulated({"--trace", trace}, {"/bin/sh", "-c", "exec " GPAKCFG_BIN " -t nvm >&- 2>&-"});
    if (run.status == 126) {
        GTEST_SKIP() << "the launcher cannot run this machine's /bin/sh";
    }
    const std::string traced = ReadFile(trace);
    EXPECT_EQ(traced.find("GreenPAK"), std::string::npos) << traced;
    EXPECT_EQ(traced.find("configration"), std::string::npos) << traced;
    std::istringstream lines(traced);
    int transfers = 0;
    for (std::string line; std::getline(lines, line);) {
        transfers += line.find(" ACK") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(transfers, 16) << traced;
}

TEST_F(LauncherTest, UnusableArgumentsRunNothing) {
    const std::vector<Strings> cases = {
        {"--state", dir.Path("no/such/dir/chip.state")},
        {"--trace", "/dev/zero"},
        {"--code", "16"},
        {"--errno", "eio"},
        {"--nack", "0x80"},
        {"--bogus"},
        {"--trace="},
        {"--state="},
        {"--virt"},  // long options only when spelled out in full
        {"--sta", "x"},
    };
    const std::string marker = dir.Path("ran");
    for (const Strings& sim : cases) {
        const CommandResult run = Simulated(sim, {"/bin/touch", marker});
        EXPECT_EQ(run.status, 125) << sim[0];
        EXPECT_EQ(run.err.find("gpak-sim: "), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n') <= 2, true) << run.err;
    }
    EXPECT_EQ(access(marker.c_str(), F_OK), -1);
    const CommandResult none = RunCommand({GPAKSIM_BIN});
    EXPECT_EQ(none.status, 125);
    std::ofstream(state) << "registers\n00: zz\n";
    const CommandResult malformed = Simulated({}, {"/bin/touch", marker});
    EXPECT_EQ(malformed.status, 125);
    EXPECT_NE(malformed.err.find("state file " + state + ": malformed"), std::string::npos)
        << malformed.err;
}

}  // namespace
