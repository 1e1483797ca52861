// gpak-sim run as a user runs it: unmodified i2c-tools through it agree
// with gpakcfg's dump and with the state file, and the launcher passes
// signals on and keeps its own files off the standard descriptors. (Two
// runs under two launchers on one chip: e2e_runs_test.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <thread>

#include "launcher/program_file.h"
#include "sim_bench.h"

namespace gpaktest {
namespace {

// The bytes of i2cdump's byte modes ("10: a8 2e ..."), row after row.
Image I2cdumpImage(const std::string& out) {
    Image image{};
    for (int row = 0; row < 16; ++row) {
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "\n%02x: ", row * 16);
        const std::size_t at = out.find(prefix);
        std::istringstream cells(at == std::string::npos ? "" : out.substr(at + 5, 16 * 3));
        unsigned value = 0;
        for (int col = 0; col < 16 && cells >> std::hex >> value; ++col) {
            image[static_cast<std::size_t>(row * 16 + col)] = static_cast<std::uint8_t>(value);
        }
    }
    return image;
}

class LauncherTest : public BenchTest {
protected:
    // An i2c-tools command under the launcher with its options sim.
    RunResult Tool(const std::string& tool, const Strings& args, const Strings& sim = {}) {
        Strings command = {gpaksim::FindProgram(tool)};
        command.insert(command.end(), args.begin(), args.end());
        return bench.Run(Launch(command).Sim(sim));
    }

    bool HaveTools() {
        return !gpaksim::FindProgram("i2cget").empty() && Tool("i2cget", {"-V"}).status != 126;
    }
};

#define REQUIRE_I2C_TOOLS()                                                       \
    if (!HaveTools()) {                                                           \
        GTEST_SKIP() << "i2c-tools for the machine under test are not installed"; \
    }

TEST_F(LauncherTest, I2cgetAndI2csetAgreeWithTheDumpAndTheStateFile) {
    REQUIRE_I2C_TOOLS();
    const RunResult dump = bench.Gpakcfg({"-t", "nvm"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02x\n", dump.ReadBack()[0xCA]);
    EXPECT_EQ(Tool("i2cget", {"-y", "1", "0x0a", "0xca"}).out, byte);

    RunResult run = Tool("i2cset", {"-y", "1", "0x08", "0x10", "0x55"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Chip().registers[0x10], 0x55);
    EXPECT_EQ(Tool("i2cget", {"-y", "1", "0x08", "0x10"}).out, "0x55\n");
}

TEST_F(LauncherTest, I2cdumpAndI2ctransferShowTheMemoriesAsGpakcfgDoes) {
    REQUIRE_I2C_TOOLS();
    ASSERT_EQ(bench.Gpakcfg({"-t", "eeprom", "-w", kExample}).status, 0);
    const RunResult dump = bench.Gpakcfg({"-t", "eeprom"});
    ASSERT_EQ(dump.status, 0);
    EXPECT_EQ(dump.ReadBack(), dump.Chip().eeprom);
    for (const char* mode : {"b", "i", "c"}) {
        const RunResult run = Tool("i2cdump", {"-y", "1", "0x0b", mode});
        EXPECT_EQ(run.status, 0) << mode << run.err;
        EXPECT_EQ(I2cdumpImage(run.out), dump.ReadBack()) << mode;
    }
    // Word mode: the word at register r is byte r, then byte r + 1 above it.
    const Image& eeprom = dump.Chip().eeprom;
    const RunResult words = Tool("i2cdump", {"-y", "1", "0x0b", "w"});
    EXPECT_EQ(words.status, 0) << words.err;
    char expected[16];
    std::snprintf(expected, sizeof expected, "\n00: %02x%02x %02x%02x", eeprom[1], eeprom[0],
                  eeprom[2], eeprom[1]);
    EXPECT_TRUE(Contains(words.out, expected));
    // A page read as one combined transfer.
    const RunResult page = Tool("i2ctransfer", {"-y", "1", "w1@0x0b", "0x10", "r16"});
    ASSERT_EQ(page.status, 0) << page.err;
    std::istringstream in(page.out);
    std::vector<unsigned> bytes;
    for (unsigned value = 0; in >> std::hex >> value;) {
        bytes.push_back(value);
    }
    EXPECT_EQ(bytes, std::vector<unsigned>(eeprom.begin() + 0x10, eeprom.begin() + 0x20));

    // The same through every other adapter, whose functionality the tools
    // follow; a combined transfer is refused where the adapter makes none
    // (i2c-stub's functionality has no I2C: i2ctransfer does not try).
    for (const char* adapter :
         {"gpio", "designware", "tiny-usb", "mcp2221", "cp2112", "ft260", "i2c-stub"}) {
        const Strings sim = {"--adapter", adapter};
        for (const char* mode : {"b", "i"}) {
            const RunResult run = Tool("i2cdump", {"-y", "1", "0x0b", mode}, sim);
            EXPECT_EQ(run.status, 0) << adapter << mode << run.err;
            EXPECT_EQ(I2cdumpImage(run.out), eeprom) << adapter << mode;
        }
        const std::string name = adapter;
        const RunResult transfer = Tool("i2ctransfer", {"-y", "1", "w1@0x0b", "0x10", "r16"}, sim);
        EXPECT_EQ(transfer.status == 0, name != "cp2112" && name != "i2c-stub") << adapter;
        EXPECT_EQ(transfer.err.find(name == "cp2112"     ? "Operation not supported"
                                    : name == "i2c-stub" ? "I2C transfers capability"
                                                         : "\n") != std::string::npos,
                  name == "cp2112" || name == "i2c-stub")
            << adapter << transfer.err;
    }
}

TEST_F(LauncherTest, ANackFailsAsOnThePiOrAsChosenAndOnlyItsBusAnswers) {
    REQUIRE_I2C_TOOLS();
    RunResult run = Tool("i2ctransfer", {"-y", "1", "w1@0x50", "0x00"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(Contains(run.err, "Remote I/O error"));
    run = Tool("i2ctransfer", {"-y", "1", "w1@0x50", "0x00"}, {"--errno", "enxio"});
    EXPECT_TRUE(Contains(run.err, "No such device or address"));

    run = Tool("i2cget", {"-y", "3", "0x08", "0x00"}, {"--bus", "3"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = Tool("i2cget", {"-y", "1", "0x08", "0x00"}, {"--bus", "3"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(Contains(run.err, "/dev/i2c-1"));
}

// The chips of --chip are in the state file once the launcher has started,
// though no program opens a node: the file's one chip, with its memories,
// as chip #1 at the code given, and a fresh chip on its own bus.
TEST_F(LauncherTest, TheChipsAreInTheStateFileFromTheLaunch) {
    const RunResult program = bench.Gpakcfg({"-t", "eeprom", "-w", kExample});
    ASSERT_EQ(program.status, 0) << program.err;
    const RunResult run =
        bench.Run(Launch({kGpakcfg, "--version"}).Sim({"--chip", "0", "--chip", "2:3"}));
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.state.ChipCount(), 2u) << run.state_error;
    const gpaksim::ChipState& first = run.Chip(0);
    EXPECT_EQ(first.bus, "/dev/i2c-1");
    EXPECT_EQ(first.eeprom, program.Chip().eeprom);
    EXPECT_EQ(first.nvm[0xCA] & 0x0F, 0);
    EXPECT_EQ(first.registers[0xCA] & 0x0F, 0);
    const gpaksim::ChipState& second = run.Chip(1);
    EXPECT_EQ(second.bus, "/dev/i2c-2");
    EXPECT_EQ(second.nvm[0xCA] & 0x0F, 3);
}

// A timer that the launcher was started with (a supervisor's alarm(2)
// before its exec) ends the command too, and the launcher as it ends.
TEST_F(LauncherTest, ATimerOfTheLaunchersEndsTheCommand) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    const std::string pid_file = bench.Path("pid");
    // Set later each time it went off before the command ran.
    for (int timer_s = 1;; timer_s *= 2) {
        std::remove(pid_file.c_str());
        Launch launch({"/bin/sh", "-c", "echo $$ > " + pid_file + "; exec sleep 30"});
        launch.RealTime();
        launch.wrapper = {"/usr/bin/perl", "-e", "alarm shift; exec @ARGV",
                          std::to_string(timer_s)};
        const RunResult ended = bench.Run(launch);
        if (ReadFile(pid_file).empty()) {
            ASSERT_LT(timer_s, 8) << "the command did not start: " << ended.err;
            continue;
        }
        EXPECT_EQ(ended.signal, SIGALRM) << ended.status << " " << ended.err;
        EXPECT_NE(kill(std::stoi(ReadFile(pid_file)), 0), 0) << "the command outlived the launcher";
        break;
    }
}

TEST_F(LauncherTest, SignalsToTheLauncherReachTheCommandWhichItWaitsFor) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    const std::string pid_file = bench.Path("pid");
    // The command cleans up for 0.3 s on SIGTERM, then exits 3; it says it
    // runs once it is ready to.
    const std::string script =
        "trap 'kill $!; sleep 0.3; exit 3' TERM; echo $$ > " + pid_file + "; sleep 10 & wait $!";
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGALRM, SIGRTMIN + 1}) {
        std::remove(pid_file.c_str());
        const std::string trapped =
            sig == SIGTERM ? script : "echo $$ > " + pid_file + "; exec sleep 10";
        Background launcher = bench.Start(Launch({"/bin/sh", "-c", trapped}).RealTime());
        for (int waited = 0; ReadFile(pid_file).empty(); ++waited) {
            ASSERT_LT(waited, 2000) << "the command did not start: " << launcher.Err();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(launcher.Pid(), sig), 0);
        const RunResult ended = launcher.Wait();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - sent;
        const pid_t command = std::stoi(ReadFile(pid_file));
        EXPECT_NE(kill(command, 0), 0) << "the command outlived the launcher";
        if (sig == SIGTERM) {
            EXPECT_EQ(ended.status, 3);
            EXPECT_EQ(ended.signal, 0);
            EXPECT_GE(took.count(), 0.3);
        } else {
            EXPECT_EQ(ended.signal, sig);  // the command ended by it, and so does the launcher
        }
        EXPECT_LT(took.count(), 5.0);
    }
}

TEST_F(LauncherTest, ItsOwnFilesNeverTakeTheStandardDescriptors) {
    const RunResult run =
        bench.Run(Launch({"/bin/sh", "-c", "exec " + kGpakcfg + " -t nvm >&- 2>&-"}));
    if (run.status == 126) {
        GTEST_SKIP() << "the launcher cannot run this machine's /bin/sh";
    }
    for (const std::string& note : run.notes) {
        EXPECT_FALSE(Contains(note, "GreenPAK"));
        EXPECT_FALSE(Contains(note, "configration"));
    }
    EXPECT_EQ(run.transfers.size(), 16u);
    EXPECT_TRUE(run.AllAcked());
}

TEST_F(LauncherTest, UnusableArgumentsRunNothing) {
    const std::vector<Strings> cases = {
        {"--state", bench.Path("no/such/dir/chip.state")},
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
    for (const Strings& sim : cases) {
        EXPECT_TRUE(LaunchRefused(bench, sim));
    }
    EXPECT_EQ(bench.Run(Launch()).status, 125);  // no command
    bench.Write("chip.state", "registers\n00: zz\n");
    EXPECT_TRUE(LaunchRefused(bench, {}, "state file " + bench.StatePath() + ": malformed"));
    // Taken before, and overflowed at the first pause.
    bench.Write("chip.state", "clock virtual 9223372036854775000\n");
    EXPECT_TRUE(LaunchRefused(bench, {}, "'clock' is 9223372036854775000 ns, out of range"));
}

}  // namespace
}  // namespace gpaktest
