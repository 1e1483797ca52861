// The simulated chip and its i2c-dev node behave like the kernel's and the
// chip's: limits and errors, busy windows, flash merging, reset, knobs,
// descriptor misuse, persistence and virtual time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>

#include "run_command.h"
#include "sim_fixture.h"

namespace {

using gpaktest::BusLines;
using Strings = std::vector<std::string>;

class SimNode : public gpaktest::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        fd = open("/dev/i2c-1", O_RDWR);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) {
            close(fd);
        }
        SimTest::TearDown();
    }
    // One I2C_RDWR; returns the ioctl's result, errno in error.
    int Transfer(std::vector<i2c_msg> msgs) {
        i2c_rdwr_ioctl_data data{msgs.data(), static_cast<__u32>(msgs.size())};
        errno = 0;
        const int result = ioctl(fd, I2C_RDWR, &data);
        error = errno;
        return result;
    }
    int Write(std::uint16_t addr, std::vector<std::uint8_t> bytes) {
        return Transfer({{addr, 0, static_cast<__u16>(bytes.size()), bytes.data()}});
    }
    // Reads len bytes from reg on, as one combined transfer.
    std::vector<std::uint8_t> Read(std::uint16_t addr, std::uint8_t reg, std::size_t len) {
        std::vector<std::uint8_t> data(len);
        if (Transfer({{addr, 0, 1, &reg},
                      {addr, I2C_M_RD, static_cast<__u16>(len), data.data()}}) != 2) {
            data.clear();
        }
        return data;
    }
    static void Sleep(std::int64_t ns) {
        const timespec ts{static_cast<time_t>(ns / 1'000'000'000),
                          static_cast<long>(ns % 1'000'000'000)};
        nanosleep(&ts, nullptr);
    }
    int fd = -1;
    int error = 0;
};

TEST_F(SimNode, KernelLimitsAndErrors) {
    std::uint8_t byte = 0;
    std::vector<i2c_msg> many(43, i2c_msg{0x08, 0, 1, &byte});
    EXPECT_EQ(Transfer(many), -1);
    EXPECT_EQ(error, EINVAL);
    many.resize(42);
    EXPECT_EQ(Transfer(many), 42);

    std::vector<std::uint8_t> big(8193);
    EXPECT_EQ(Transfer({{0x08, I2C_M_RD, 8193, big.data()}}), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Transfer({{0x08, I2C_M_RD, 8192, big.data()}}), 1);
    EXPECT_EQ(Transfer({{0x08, I2C_M_TEN, 1, &byte}}), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Transfer({}), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Write(0x50, {0x00}), -1);
    EXPECT_EQ(error, ENXIO);

    unsigned long funcs = 0;
    EXPECT_EQ(ioctl(fd, I2C_FUNCS, &funcs), 0);
    EXPECT_EQ(funcs, static_cast<unsigned long>(I2C_FUNC_I2C));
    EXPECT_EQ(ioctl(fd, I2C_SLAVE, 0x0A), 0);
    EXPECT_EQ(ioctl(fd, I2C_SLAVE_FORCE, 0x80), -1);
    EXPECT_EQ(ioctl(fd, 0x5401 /* TCGETS */, &funcs), -1);
    EXPECT_EQ(errno, ENOTTY);
}

TEST_F(SimNode, OnlyTheChipsBlocksAnswer) {
    Strings acks;
    for (std::uint16_t addr = 0; addr < 0x80; ++addr) {
        if (Write(addr, {0x00}) == 1) {
            acks.push_back(std::to_string(addr));
        }
    }
    EXPECT_EQ(acks, (Strings{"8", "10", "11"}));
}

TEST_F(SimNode, FlashPagesMergeUntilErasedAndTheChipIsBusyMeanwhile) {
    std::vector<std::uint8_t> page(17, 0x0F);
    page[0] = 0x20;
    ASSERT_EQ(Write(0x0B, page), 1);
    Sleep(9'999'999);
    EXPECT_EQ(Write(0x0A, {0x00}), -1);  // busy: every block NACKs
    Sleep(1);
    page.assign(17, 0xF0);
    page[0] = 0x20;
    ASSERT_EQ(Write(0x0B, page), 1);  // exactly at the end of the window
    Sleep(10'000'000);
    EXPECT_EQ(Read(0x0B, 0x20, 16), std::vector<std::uint8_t>(16, 0xFF));

    ASSERT_EQ(Write(0x08, {0xE3, 0x92}), 1);  // erase EEPROM page 2
    EXPECT_EQ(Read(0x0B, 0x20, 16), std::vector<std::uint8_t>{});
    Sleep(10'000'000);
    EXPECT_EQ(Read(0x0B, 0x20, 16), std::vector<std::uint8_t>(16, 0x00));
}

TEST_F(SimNode, ResetReloadsTheRegistersAndTheControlCodeFromNvm) {
    gpaksim::Chip().registers[0x40] = 0x99;
    ASSERT_EQ(Write(0x08, {0xE3, 0x8C}), 1);  // erase NVM page 0x0C, byte 0xCA with it
    Sleep(10'000'000);
    ASSERT_EQ(Write(0x08, {0xC8, 0x02}), 1);
    Sleep(999'999'999);
    EXPECT_EQ(Write(0x00, {0x00}), -1);
    Sleep(1);
    EXPECT_EQ(Write(0x08, {0x00}), -1);  // code 1 is gone
    EXPECT_EQ(Read(0x00, 0x40, 1), std::vector<std::uint8_t>{gpaksim::Chip().nvm[0x40]});
    std::vector<std::uint8_t> page(17, 0);
    page[0] = 0xC0;
    page[1 + 0x0A] = 0x07;
    ASSERT_EQ(Write(0x02, page), 1);
    Sleep(10'000'000);
    ASSERT_EQ(Write(0x00, {0xC8, 0x02}), 1);
    Sleep(1'000'000'000);
    EXPECT_EQ(Read(0x3A, 0xCA, 1), std::vector<std::uint8_t>{0x07});
}

TEST_F(SimNode, ReadsAndWritesWrapWithinTheMemory) {
    ASSERT_EQ(Write(0x08, {0xFF, 0x11, 0x22}), 1);
    EXPECT_EQ(Read(0x08, 0xFF, 2), (std::vector<std::uint8_t>{0x11, 0x22}));
    EXPECT_EQ(gpaksim::Chip().registers[0x00], 0x22);
}

TEST_F(SimNode, NackKnobsAndUnacknowledgedCommands) {
    options.knobs.nacks = {{0x0A, 0x30}, {0x0B, -1}};
    options.knobs.unacked_commands = true;
    Restart();
    close(fd);
    fd = open("/dev/i2c-1", O_RDWR);
    EXPECT_EQ(Read(0x0A, 0x20, 1).size(), 1u);
    EXPECT_EQ(Read(0x0A, 0x30, 1).size(), 0u);
    EXPECT_EQ(Read(0x0B, 0x00, 1).size(), 0u);
    EXPECT_EQ(Write(0x08, {0xE3, 0x80}), -1);
    EXPECT_EQ(gpaksim::Chip().nvm[0x00], 0x00);  // erased all the same
}

TEST_F(SimNode, OtherPathsAndDescriptorsGoToLibc) {
    EXPECT_EQ(open("/dev/i2c-0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    const int null_fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(null_fd, 0);
    unsigned long funcs = 0;
    EXPECT_EQ(ioctl(null_fd, I2C_FUNCS, &funcs), -1);
    EXPECT_EQ(funcs, 0u);
    // The kernel's answer, through libc. (qemu-user answers I2C_FUNCS, which
    // it does not know, with ENOSYS itself, so a terminal request tells.)
    char termios_buffer[256] = {};
    EXPECT_EQ(ioctl(null_fd, TCGETS, termios_buffer), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(close(null_fd), 0);
    EXPECT_TRUE(gpaksim::Problems().empty());
}

TEST_F(SimNode, UseAfterCloseIsReported) {
    ASSERT_EQ(close(fd), 0);
    const int closed = fd;
    fd = -1;
    std::uint8_t byte = 0;
    i2c_msg msg{0x08, 0, 1, &byte};
    i2c_rdwr_ioctl_data data{&msg, 1};
    EXPECT_EQ(ioctl(closed, I2C_RDWR, &data), -1);
    EXPECT_EQ(close(closed), -1);
    const auto& problems = gpaksim::Problems();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].find("ioctl on descriptor"), 0u);
    EXPECT_EQ(problems[1].find("close on descriptor"), 0u);
}

TEST(SimExit, DescriptorLeftOpenIsReported) {
    EXPECT_EXIT(
        {
            gpaksim::Options options;
            gpaksim::Start(options);
            (void)open("/dev/i2c-1", O_RDWR);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "descriptor [0-9]+ of /dev/i2c-1 left open at exit");
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

TEST(SimState, MemoriesPersistInTheStateFile) {
    gpaktest::TempDir dir;
    gpaksim::Options options;
    options.virtual_time = true;
    options.state_path = dir.Path("chip.state");
    options.code = 5;
    gpaksim::Start(options);
    const int fd = open("/dev/i2c-1", O_RDWR);
    std::uint8_t bytes[] = {0x10, 0xAB, 0xCD};
    i2c_msg msg{0x2B, 0, 3, bytes};
    i2c_rdwr_ioctl_data data{&msg, 1};
    ASSERT_EQ(ioctl(fd, I2C_RDWR, &data), 1);
    close(fd);

    options.code = -1;
    gpaksim::Start(options);
    EXPECT_EQ(gpaksim::Chip().eeprom[0x10], 0xAB);
    EXPECT_EQ(gpaksim::Chip().eeprom[0x11], 0xCD);
    EXPECT_EQ(gpaksim::Chip().registers[0xCA] & 0x0F, 5);
    EXPECT_EQ(gpaksim::Chip().busy_until_ns, 10'000'000);  // the page write's window

    std::ofstream(options.state_path) << "registers\n00: zz\n";
    testing::internal::CaptureStderr();
    gpaksim::Start(options);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("malformed state file"),
              std::string::npos);
    EXPECT_EQ(gpaksim::Chip().nvm, gpaksim::DefaultChip().nvm);
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
