// The chips in their state file: kept between runs, the same chips for
// every process that shares the file, never torn, files of today's form
// and of several chips, and the virtual clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <fstream>

#include "knobs/knob_text.h"
#include "model/state_file.h"
#include "model/state_format.h"
#include "run_command.h"
#include "sim_fixture.h"

namespace {

int WriteBytes(std::vector<std::uint8_t> bytes, std::uint16_t addr,
               const char* node = "/dev/i2c-1") {
    const int fd = open(node, O_RDWR);
    i2c_msg msg{addr, 0, static_cast<__u16>(bytes.size()), bytes.data()};
    i2c_rdwr_ioctl_data data{&msg, 1};
    const int result = ioctl(fd, I2C_RDWR, &data);
    close(fd);
    return result;
}

gpaksim::ChipState LoadChip(const std::string& path) {
    const gpaksim::ParsedState parsed = gpaksim::LoadStateFile(path, true);
    EXPECT_TRUE(parsed.ok) << parsed.error;
    return parsed.state.chip;
}

TEST(SimState, MemoriesPersistInTheStateFile) {
    gpaktest::TempDir dir;
    gpaksim::Options options;
    options.virtual_time = true;
    options.state_path = dir.Path("chip.state");
    options.code = 5;
    gpaksim::Start(options);
    ASSERT_EQ(WriteBytes({0x10, 0xAB, 0xCD}, 0x2B), 1);

    options.code = -1;
    gpaksim::Start(options);
    const gpaksim::ChipState chip = LoadChip(options.state_path);
    EXPECT_EQ(chip.eeprom[0x10], 0x00);  // two bytes are no page: disregarded
    EXPECT_EQ(chip.registers[0xCA] & 0x0F, 5);
    EXPECT_EQ(chip.pointers[3], 0x10);

    std::ofstream(options.state_path) << "registers\n00: zz\n";
    testing::internal::CaptureStderr();
    gpaksim::Start(options);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("malformed near 'registers'"),
              std::string::npos);
    const int fd = open("/dev/i2c-1", O_RDWR);
    EXPECT_EQ(fd, -1);  // no fresh chip in place of a broken one
    EXPECT_EQ(errno, EIO);
}

// A file written by hand, with comments and without the pointers line.
TEST(SimState, AFileWrittenByHandReads) {
    std::string hand = "# by hand\n";
    for (const char* name : {"registers", "nvm", "eeprom"}) {
        hand += std::string(name) + "\n";
        for (int row = 0; row < 16; ++row) {
            char line[8];
            std::snprintf(line, sizeof line, "%02x:", row * 16);
            hand += line;
            for (int col = 0; col < 16; ++col) {
                hand += " AB";
            }
            hand += "  # sixteen bytes\n";
        }
    }
    const gpaksim::ParsedState parsed = gpaksim::ParseState(hand, true);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.state.chip.nvm[0x77], 0xAB);
    EXPECT_FALSE(gpaksim::ParseState(hand.substr(0, hand.size() - 20), true).ok);
    EXPECT_FALSE(gpaksim::ParseState("registers\n", true).ok);
    EXPECT_TRUE(gpaksim::ParseState("", true).ok);  // a fresh chip
}

// A file of one chip, as every earlier simulator wrote it, reads as one
// chip on the run's bus and is written back in the same form; a file of
// several chips keeps each chip's bus, memories, pointers and busy window.
TEST(SimState, FilesOfOneChipAndOfSeveralReadBack) {
    std::string today =
        "# gpak-sim chip state: 256 bytes each of registers, NVM and EEPROM\n"
        "clock virtual 5\nbusy-until virtual 7\npointers 01 02 03\n";
    for (const char* name : {"registers", "nvm", "eeprom"}) {
        today += std::string(name) + "\n";
        for (int row = 0; row < 16; ++row) {
            char line[64];
            std::snprintf(line, sizeof line,
                          "%02x: 12 34 56 78 9a bc de f0 12 34 56 78 9a bc de f0\n", row * 16);
            today += line;
        }
    }
    gpaksim::ParsedState parsed = gpaksim::ParseState(today, true);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.state.ChipCount(), 1u);
    EXPECT_EQ(parsed.state.chip.bus, "");
    EXPECT_EQ(parsed.state.chip.busy_until_ns, 7);
    EXPECT_EQ(parsed.state.chip.pointers[2], 0x02);
    EXPECT_EQ(parsed.state.chip.eeprom[0xF7], 0xF0);
    const std::string written = gpaksim::FormatState(parsed.state, true);
    EXPECT_EQ(written.find("# gpak-sim chip state: 256 bytes each"), 0u);
    EXPECT_EQ(written.find("version"), std::string::npos);

    gpaksim::SimState state;
    state.chip.bus = "/dev/i2c-1";
    state.more_chips = {gpaksim::DefaultChip(), gpaksim::DefaultChip()};
    state.more_chips[0].bus = "/dev/i2c-1";
    state.more_chips[1].bus = "/dev/i2c-2";
    state.more_chips[1].eeprom[0x42] = 0x99;
    state.more_chips[1].pointers = {0x10, 0, 0x20, 0x30};
    state.more_chips[1].busy_until_ns = 123;
    state.virtual_now_ns = 456;
    const std::string text = gpaksim::FormatState(state, true);
    EXPECT_NE(text.find("\nversion 2\n"), std::string::npos);
    EXPECT_NE(text.find("\nchip 3 /dev/i2c-2\nbusy-until virtual"), std::string::npos);
    parsed = gpaksim::ParseState(text, true);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(parsed.state.ChipCount(), 3u);
    EXPECT_EQ(parsed.state.ChipAt(1).bus, "/dev/i2c-1");
    const gpaksim::ChipState& third = parsed.state.ChipAt(2);
    EXPECT_EQ(third.bus, "/dev/i2c-2");
    EXPECT_EQ(third.eeprom, state.more_chips[1].eeprom);
    EXPECT_EQ(third.pointers, state.more_chips[1].pointers);
    EXPECT_EQ(third.busy_until_ns, 123);
    EXPECT_EQ(parsed.state.virtual_now_ns, 456);
    EXPECT_EQ(gpaksim::FormatState(parsed.state, true), text);
    // On the other kind of clock, the busy window and the clock are dropped.
    parsed = gpaksim::ParseState(text, false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.state.ChipAt(2).busy_until_ns, 0);
    EXPECT_EQ(parsed.state.virtual_now_ns, 0);
}

TEST(SimState, MalformedFilesAndClocksOutOfRangeAreRefused) {
    const std::string one_chip = gpaksim::FormatState(gpaksim::SimState{}, true);
    const std::string sections = one_chip.substr(one_chip.find("\nregisters\n") + 1);
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"version 3\n", "it is of version 3, newer than this gpak-sim reads"},
        {"version 2\n", "it needs a 'chip' line"},
        {"version 2\n" + sections, "malformed near 'registers'"},
        {"version 2\nchip 2 /dev/i2c-1\n" + sections, "malformed near 'chip'"},
        {"version 2\nchip 1 i2c-1\n" + sections, "malformed near 'chip'"},
        {"version 2\nchip 1 /dev/i2c-1\nchip 2 /dev/i2c-1\n" + sections,
         "it needs registers, nvm and eeprom for chip 1"},
        {"version 2\nchip 1 /dev/i2c-1\n" + sections + "chip 2 /dev/i2c-1\nregisters\n",
         "malformed near 'registers'"},
        {"chip 1 /dev/i2c-1\n" + sections, "malformed near 'chip'"},
        {"clock virtual 0\nversion 2\n", "malformed near 'version'"},
        // Past the range, the clock overflowed at the next pause.
        {"clock virtual 9223372036854775000\n",
         "'clock' is 9223372036854775000 ns, out of range (0 to 2305843009213693951)"},
        {"version 2\nchip 1 /dev/i2c-1\nbusy-until virtual 2305843009213693952\n" + sections,
         "'busy-until' is 2305843009213693952 ns, out of range (0 to 2305843009213693951)"},
    };
    for (const auto& c : cases) {
        const gpaksim::ParsedState parsed = gpaksim::ParseState(c.text, true);
        EXPECT_FALSE(parsed.ok) << c.text.substr(0, 40);
        EXPECT_EQ(parsed.error, c.error) << c.text.substr(0, 40);
    }
}

// The chips of --chip go into the state file once: a file of one chip
// gives its chip, which takes the first code; later runs find the chips as
// they left them, on their buses, with or without --chip.
TEST(SimState, TheChipsOfARunArePlacedIntoTheStateFileOnce) {
    gpaktest::TempDir dir;
    gpaksim::Options options;
    options.virtual_time = true;
    options.state_path = dir.Path("chip.state");
    gpaksim::SimState old;
    old.chip.eeprom[0x00] = 0x77;
    std::ofstream(options.state_path) << gpaksim::FormatState(old, true);
    options.chips = {{"", 0}, {"/dev/i2c-2", 3}};
    gpaksim::Start(options);
    ASSERT_EQ(WriteBytes({0xCA, 0xC7}, 0x00), 1);  // chip 1 answers at code 7 until reset
    EXPECT_EQ(WriteBytes({0x00}, 0x18), -1);       // chip 2 is on the other bus
    EXPECT_EQ(WriteBytes({0x00}, 0x18, "/dev/i2c-2"), 1);

    gpaksim::Start(options);
    gpaksim::ParsedState parsed = gpaksim::LoadStateFile(options.state_path, true);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(parsed.state.ChipCount(), 2u);
    EXPECT_EQ(parsed.state.chip.eeprom[0x00], 0x77);
    EXPECT_EQ(parsed.state.chip.registers[0xCA], 0xC7);
    EXPECT_EQ(parsed.state.chip.nvm[0xCA], 0xC0);
    EXPECT_EQ(parsed.state.chip.bus, "/dev/i2c-1");
    EXPECT_EQ(parsed.state.ChipAt(1).nvm[0xCA], 0xC3);
    EXPECT_EQ(parsed.state.ChipAt(1).bus, "/dev/i2c-2");

    options.chips.clear();
    options.node_path = "/dev/i2c-2";
    gpaksim::Start(options);
    EXPECT_EQ(WriteBytes({0x00}, 0x18, "/dev/i2c-2"), 1);
    EXPECT_EQ(WriteBytes({0x00}, 0x38, "/dev/i2c-2"), -1);
    options.chips = {{"/dev/i2c-2", 7}};
    gpaksim::Start(options);  // chip 1 moves to bus 2; chip 2 stays in the file, on no bus
    EXPECT_EQ(WriteBytes({0x00}, 0x38, "/dev/i2c-2"), 1);
    EXPECT_EQ(WriteBytes({0x00}, 0x18, "/dev/i2c-2"), -1);
    EXPECT_EQ(gpaksim::LoadStateFile(options.state_path, true).state.ChipCount(), 2u);
}

// Processes sharing one state file work on one chip: each change is made
// under the file's lock on what the file holds then, and the file reads
// whole all the while.
TEST(SimState, ProcessesSharingTheFileChangeOneChip) {
    gpaktest::TempDir dir;
    gpaksim::Options options;
    options.state_path = dir.Path("chip.state");
    gpaksim::Start(options);
    constexpr int kWrites = 200;
    std::vector<pid_t> children;
    for (std::uint8_t reg : {0x20, 0x60}) {
        const pid_t child = fork();
        if (child == 0) {
            gpaksim::Start(options);
            for (int i = 0; i < kWrites; ++i) {
                if (WriteBytes(
                        {static_cast<std::uint8_t>(reg + i % 32), static_cast<std::uint8_t>(i)},
                        0x08) != 1) {
                    _exit(1);
                }
            }
            _exit(0);
        }
        children.push_back(child);
    }
    // Read all the while, as another process would: never torn.
    std::vector<std::string> torn;
    while (!children.empty()) {
        const gpaksim::ParsedState parsed = gpaksim::LoadStateFile(options.state_path, false);
        if (!parsed.ok) {
            torn.push_back(parsed.error);
        }
        int status = 0;
        if (waitpid(children.back(), &status, WNOHANG) == children.back()) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            children.pop_back();
        }
    }
    EXPECT_EQ(torn, std::vector<std::string>{});
    const gpaksim::ChipState chip = LoadChip(options.state_path);
    for (int i = kWrites - 32; i < kWrites; ++i) {
        EXPECT_EQ(chip.registers[0x20 + i % 32], i);
        EXPECT_EQ(chip.registers[0x60 + i % 32], i);
    }
}

TEST(SimVirtualTime, SleepsAdvanceTheClockWithoutWaiting) {
    gpaksim::Options options;
    options.virtual_time = true;
    gpaksim::Start(options);
    const auto start = std::chrono::steady_clock::now();
    sleep(100);
    usleep(10'000);
    const timespec half{0, 500'000'000};
    nanosleep(&half, nullptr);
    clock_nanosleep(CLOCK_MONOTONIC, 0, &half, nullptr);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    now.tv_sec += 2;
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &now, nullptr);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    EXPECT_LT(wall.count(), 1.0);
    EXPECT_NEAR(static_cast<double>(gpaksim::ElapsedNs()) / 1e9, 103.01, 0.01);
    const timespec bad{0, 1'000'000'000};
    EXPECT_EQ(nanosleep(&bad, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(SimKnobs, NackParsing) {
    gpaksim::Nack nack;
    EXPECT_TRUE(gpaksim::ParseNack("0x0a", nack));
    EXPECT_EQ(nack.addr, 0x0A);
    EXPECT_EQ(nack.reg, -1);
    EXPECT_TRUE(gpaksim::ParseNack("11:0x50", nack));
    EXPECT_EQ(nack.addr, 11);
    EXPECT_EQ(nack.reg, 0x50);
    for (const char* bad : {"", "0x80", "8:", "8:0x100", "x", "8:5y"}) {
        EXPECT_FALSE(gpaksim::ParseNack(bad, nack)) << bad;
    }
}

TEST(SimKnobs, ChipParsing) {
    std::vector<gpaksim::ChipPlacement> chips;
    std::string error;
    ASSERT_TRUE(gpaksim::ParseChips("0", chips, error)) << error;
    ASSERT_TRUE(gpaksim::ParseChips("2:0xf,/dev/i2c-7:3", chips, error)) << error;
    ASSERT_TRUE(gpaksim::ParseChips("bus:1", chips, error)) << error;
    ASSERT_EQ(chips.size(), 4u);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(gpaksim::FormatChips(chips),
              "0,/dev/i2c-2:15,/dev/i2c-7:3," + std::string(cwd) + "/bus:1");
    for (const char* bad : {"", "16", "1:", ":1", "x", "1:-1", "a b:1", "0,", "0,,1"}) {
        std::vector<gpaksim::ChipPlacement> none;
        EXPECT_FALSE(gpaksim::ParseChips(bad, none, error)) << bad;
    }
    chips.resize(gpaksim::kMaxChips);
    EXPECT_FALSE(gpaksim::ParseChips("1", chips, error));
    EXPECT_EQ(error, "more than 32 chips");
    // --code sets the code of the one chip: not with --chip, in either order.
    const auto knob = [](const std::string& name) {
        for (const gpaksim::Knob& k : gpaksim::Knobs()) {
            if (k.option != nullptr && k.option == name) {
                return k;
            }
        }
        return gpaksim::Knob{};
    };
    gpaksim::Options options;
    EXPECT_TRUE(knob("chip").parse(options, "1:0,1:1", error));
    EXPECT_EQ(knob("chip").format(options), "/dev/i2c-1:0,/dev/i2c-1:1");
    EXPECT_FALSE(knob("code").parse(options, "3", error));
    gpaksim::Options other;
    EXPECT_TRUE(knob("code").parse(other, "3", error));
    EXPECT_FALSE(knob("chip").parse(other, "1", error));
    EXPECT_EQ(error, "not with --code (each --chip gives its chip a code)");
}

}  // namespace
