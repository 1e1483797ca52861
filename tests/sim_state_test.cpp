// The chip in its state file: kept between runs, one chip for every
// process that shares the file, never torn, and the virtual clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>

#include "run_command.h"
#include "sim_fixture.h"
#include "state_file.h"

namespace {

int WriteBytes(std::vector<std::uint8_t> bytes, std::uint16_t addr) {
    const int fd = open("/dev/i2c-1", O_RDWR);
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

TEST(SimState, FormatReadsBack) {
    gpaksim::SimState state;
    state.chip.eeprom[0x42] = 0x99;
    state.chip.pointers = {0x10, 0, 0x20, 0x30};
    state.chip.busy_until_ns = 123;
    state.virtual_now_ns = 456;
    const std::string text = gpaksim::FormatState(state, true);
    gpaksim::ParsedState parsed = gpaksim::ParseState(text, true);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.state.chip.eeprom, state.chip.eeprom);
    EXPECT_EQ(parsed.state.chip.pointers, state.chip.pointers);
    EXPECT_EQ(parsed.state.chip.busy_until_ns, 123);
    EXPECT_EQ(parsed.state.virtual_now_ns, 456);
    // On the other kind of clock, the busy window and the clock are dropped.
    parsed = gpaksim::ParseState(text, false);
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.state.chip.busy_until_ns, 0);
    // A file written by hand, with comments and without the pointers line.
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
    parsed = gpaksim::ParseState(hand, true);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.state.chip.nvm[0x77], 0xAB);
    EXPECT_FALSE(gpaksim::ParseState(hand.substr(0, hand.size() - 20), true).ok);
    EXPECT_FALSE(gpaksim::ParseState("registers\n", true).ok);
    EXPECT_TRUE(gpaksim::ParseState("", true).ok);  // a fresh chip
}

// Processes sharing one state file work on one chip: each change is made
// under the file's lock on what the file holds then.
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
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
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

}  // namespace
