// The simulated node answers as i2c-dev on the Raspberry Pi's i2c-bcm2835:
// the kernel's limits and errors, what the adapter reports, SMBus carried
// out as the kernel emulates it, read(2) and write(2) at the I2C_SLAVE
// address, and every name of the node.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "node/smbus.h"
#include "node_client.h"
#include "run_command.h"

namespace {

using gpaktest::BusLines;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

class SimNode : public gpaktest::NodeTest {};

TEST_F(SimNode, KernelLimitsAndErrors) {
    std::uint8_t byte = 0;
    std::vector<i2c_msg> many(43, i2c_msg{0x08, 0, 1, &byte});
    EXPECT_EQ(Transfer(many), -1);
    EXPECT_EQ(error, EINVAL);
    many.resize(42);
    EXPECT_EQ(Transfer(many), 42);

    Bytes big(8193);
    EXPECT_EQ(Transfer({{0x08, I2C_M_RD, 8193, big.data()}}), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Transfer({{0x08, I2C_M_RD, 8192, big.data()}}), 1);
    EXPECT_EQ(Transfer({{0x08, I2C_M_TEN, 1, &byte}}), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Transfer({}), -1);
    EXPECT_EQ(error, EINVAL);
    // i2c-bcm2835 reads in the last message only.
    EXPECT_EQ(Transfer({{0x08, I2C_M_RD, 1, &byte}, {0x08, 0, 1, &byte}}), -1);
    EXPECT_EQ(error, EOPNOTSUPP);
    EXPECT_EQ(BusLines().size(), 2u);  // none of the refused ones reached the bus

    unsigned long funcs = 0;
    EXPECT_EQ(ioctl(fd, I2C_FUNCS, &funcs), 0);
    EXPECT_EQ(funcs, static_cast<unsigned long>(I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL));
    EXPECT_EQ(ioctl(fd, I2C_SLAVE, 0x0A), 0);
    EXPECT_EQ(ioctl(fd, I2C_SLAVE_FORCE, 0x80), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(ioctl(fd, I2C_TENBIT, 1), -1);
    EXPECT_EQ(ioctl(fd, I2C_PEC, 0), 0);
    EXPECT_EQ(ioctl(fd, I2C_RETRIES, 2), 0);
    EXPECT_EQ(ioctl(fd, I2C_TIMEOUT, 10), 0);
    EXPECT_EQ(ioctl(fd, 0x5401 /* TCGETS */, &funcs), -1);
    EXPECT_EQ(errno, ENOTTY);
}

TEST_F(SimNode, NackFailsWithEremoteioOrTheChosenEnxio) {
    EXPECT_EQ(Write(0x50, {0x00}), -1);
    EXPECT_EQ(error, EREMOTEIO);
    i2c_smbus_data data{};
    ASSERT_EQ(ioctl(fd, I2C_SLAVE, 0x50), 0);
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0x00, I2C_SMBUS_BYTE_DATA, &data), -1);
    EXPECT_EQ(error, EREMOTEIO);
    std::uint8_t byte = 0;
    EXPECT_EQ(read(fd, &byte, 1), -1);
    EXPECT_EQ(errno, EREMOTEIO);

    options.nack_error = gpaksim::NackError::kNoDevice;
    Restart();
    Reopen();
    EXPECT_EQ(Write(0x50, {0x00}), -1);
    EXPECT_EQ(error, ENXIO);
}

TEST_F(SimNode, ReadAndWriteReachTheAddressSetWithI2cSlave) {
    ASSERT_EQ(ioctl(fd, I2C_SLAVE, 0x08), 0);
    const std::uint8_t set[] = {0x40, 0x11, 0x22};
    EXPECT_EQ(write(fd, set, sizeof set), 3);
    const std::uint8_t pointer = 0x40;
    EXPECT_EQ(write(fd, &pointer, 1), 1);
    std::uint8_t got[2] = {};
    EXPECT_EQ(read(fd, got, 2), 2);
    EXPECT_EQ(got[0], 0x11);
    EXPECT_EQ(got[1], 0x22);
    EXPECT_EQ(BusLines(), (Strings{"0x08 W 40 11 22 ACK", "0x08 W 40 ACK", "0x08 R 2 ACK"}));
    // As i2c-dev: address 0 until set, and at most 8192 bytes a message.
    const int other = open("/dev/i2c-1", O_RDWR);
    Bytes big(9000);
    EXPECT_EQ(read(other, big.data(), big.size()), -1);  // 0x00: the chip answers at code 1
    ASSERT_EQ(ioctl(other, I2C_SLAVE, 0x0A), 0);
    EXPECT_EQ(read(other, big.data(), big.size()), 8192);
    EXPECT_EQ(BusLines().at(3), "0x00 R 8192 NACK");
    close(other);
}

// Each SMBus command goes out as the plain I2C messages the kernel builds
// for it on an adapter without SMBus of its own.
TEST_F(SimNode, SmbusCommandsBecomeTheKernelsI2cMessages) {
    ASSERT_EQ(ioctl(fd, I2C_SLAVE, 0x08), 0);
    i2c_smbus_data data{};
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0, I2C_SMBUS_QUICK, nullptr), 0);
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0, I2C_SMBUS_QUICK, nullptr), 0);
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0x10, I2C_SMBUS_BYTE, nullptr), 0);
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data), 0);
    EXPECT_EQ(data.byte, gpaksim::Chip().registers[0x10]);
    data.byte = 0x55;
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0x20, I2C_SMBUS_BYTE_DATA, &data), 0);
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0x20, I2C_SMBUS_BYTE_DATA, &data), 0);
    EXPECT_EQ(data.byte, 0x55);
    data.word = 0xBEEF;
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0x30, I2C_SMBUS_WORD_DATA, &data), 0);
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0x30, I2C_SMBUS_WORD_DATA, &data), 0);
    EXPECT_EQ(data.word, 0xBEEF);  // low byte first
    data.block[0] = 2;
    data.block[1] = 0xA1;
    data.block[2] = 0xA2;
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0x40, I2C_SMBUS_BLOCK_DATA, &data), 0);
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0x50, I2C_SMBUS_I2C_BLOCK_DATA, &data), 0);
    data.block[0] = 3;
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0x50, I2C_SMBUS_I2C_BLOCK_DATA, &data), 0);
    EXPECT_EQ(Bytes(data.block, data.block + 4),
              (Bytes{3, 0xA1, 0xA2, gpaksim::Chip().registers[0x52]}));
    // The block's length, 2, is read as the first byte; the adapter reads
    // no more, so the block's bytes are zeros.
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0x40, I2C_SMBUS_BLOCK_DATA, &data), 0);
    EXPECT_EQ(Bytes(data.block, data.block + 3), (Bytes{2, 0, 0}));
    data.word = 0x0102;
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0x60, I2C_SMBUS_PROC_CALL, &data), 0);
    const auto& registers = gpaksim::Chip().registers;  // read on from the word written
    EXPECT_EQ(data.word, registers[0x62] | (registers[0x63] << 8));
    EXPECT_EQ(BusLines(), (Strings{
                              "0x08 W ACK",
                              "0x08 R 0 ACK",
                              "0x08 W 10 ACK",
                              "0x08 R 1 ACK",
                              "0x08 W 20 55 ACK",
                              "0x08 W 20; 0x08 R 1 ACK",
                              "0x08 W 30 ef be ACK",
                              "0x08 W 30; 0x08 R 2 ACK",
                              "0x08 W 40 02 a1 a2 ACK",
                              "0x08 W 50 a1 a2 ACK",
                              "0x08 W 50; 0x08 R 3 ACK",
                              "0x08 W 40; 0x08 R 1 ACK",
                              "0x08 W 60 02 01; 0x08 R 2 ACK",
                          }));
}

TEST_F(SimNode, SmbusRequestsTheKernelRefuses) {
    i2c_smbus_data data{};
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0, 99, &data), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Smbus(2, 0, I2C_SMBUS_BYTE_DATA, &data), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE_DATA, nullptr), -1);
    EXPECT_EQ(error, EINVAL);
    data.block[0] = 33;
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0, I2C_SMBUS_I2C_BLOCK_DATA, &data), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0, I2C_SMBUS_BLOCK_DATA, &data), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_TRUE(BusLines().empty());
    // A block length above 32 read from the chip is a protocol error.
    ASSERT_EQ(ioctl(fd, I2C_SLAVE, 0x08), 0);
    data.byte = 0x40;
    ASSERT_EQ(Smbus(I2C_SMBUS_WRITE, 0x70, I2C_SMBUS_BYTE_DATA, &data), 0);
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0x70, I2C_SMBUS_BLOCK_DATA, &data), -1);
    EXPECT_EQ(error, EPROTO);
}

TEST_F(SimNode, SmbusPacketErrorCodesAreSentAndChecked) {
    ASSERT_EQ(ioctl(fd, I2C_SLAVE, 0x08), 0);
    ASSERT_EQ(ioctl(fd, I2C_PEC, 1), 0);
    i2c_smbus_data data{};
    data.byte = 0x5A;
    EXPECT_EQ(Smbus(I2C_SMBUS_WRITE, 0x20, I2C_SMBUS_BYTE_DATA, &data), 0);
    // CRC-8/SMBUS, whose check value is 0xF4; here over the address
    // byte 0x10, then 0x20 and 0x5A.
    const std::string check = "123456789";
    EXPECT_EQ(gpaksim::SmbusPec(0, reinterpret_cast<const std::uint8_t*>(check.data()), 9), 0xF4);
    const std::uint8_t sent[] = {0x10, 0x20, 0x5A};
    char pec[4];
    std::snprintf(pec, sizeof pec, "%02x", gpaksim::SmbusPec(0, sent, 3));
    EXPECT_EQ(BusLines().back(), "0x08 W 20 5a " + std::string(pec) + " ACK");
    // The chip sends no PEC: the byte after the data does not match.
    EXPECT_EQ(Smbus(I2C_SMBUS_READ, 0x20, I2C_SMBUS_BYTE_DATA, &data), -1);
    EXPECT_EQ(error, EBADMSG);
    EXPECT_EQ(BusLines().back(), "0x08 W 20; 0x08 R 2 ACK");
}

// However a program names the node, it reaches the simulated one.
TEST_F(SimNode, EveryNameOfTheNodeIsTheSimulatedOne) {
    gpaktest::TempDir dir;
    const std::string link = dir.Path("bus");
    ASSERT_EQ(symlink("/dev/i2c-1", link.c_str()), 0);
    const std::string chain = dir.Path("chain");
    ASSERT_EQ(symlink("bus", chain.c_str()), 0);
    const int devdir = open("/dev", O_RDONLY | O_DIRECTORY);
    const std::vector<int> fds = {
        open("/dev//i2c-1", O_RDWR),
        open("/dev/./i2c-1", O_RDWR),
        open("/dev/../dev/i2c-1", O_RDWR),
        open(link.c_str(), O_RDWR),
        open(chain.c_str(), O_RDWR),
        openat(AT_FDCWD, "/dev/i2c-1", O_RDWR),
        openat(devdir, "i2c-1", O_RDWR),
        open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR),
    };
    close(devdir);
    for (const int other : fds) {
        EXPECT_GE(other, 0);
        unsigned long funcs = 0;
        EXPECT_EQ(ioctl(other, I2C_FUNCS, &funcs), 0) << other;
        close(other);
    }
    EXPECT_EQ(open("/dev/i2c-10", O_RDWR), -1);
    EXPECT_EQ(open("/dev/i2c-", O_RDWR), -1);
}

TEST_F(SimNode, AnotherBusIsAnsweredInsteadOfTheFirst) {
    options.node_path = "/dev/i2c-3";
    Restart();
    close(fd);
    fd = open("/dev/i2c-1", O_RDWR);
    EXPECT_EQ(fd, -1);  // not answered, and not on this machine
    fd = open("/dev/i2c-3", O_RDWR);
    EXPECT_GE(fd, 0);
}

// The buses of the chips are nodes of their own: each carries its own
// chips, the trace names it, and a program that holds one holds none of
// the others. Whoever locks the state file itself holds them all.
TEST_F(SimNode, EveryBusOfTheChipsIsANodeOfItsOwn) {
    gpaktest::TempDir dir;
    options.state_path = dir.Path("chips.state");
    options.chips = {{"", 1}, {"/dev/i2c-2", 3}, {"/dev//i2c-2", 4}};
    close(fd);  // before the state file takes its number
    fd = -1;
    Restart();
    Reopen();
    EXPECT_EQ(open("/dev/i2c-3", O_RDWR), -1);
    int two = open("/dev/i2c-2", O_RDWR);
    ASSERT_GE(two, 0);
    EXPECT_EQ(Write(0x18, {0x00}), -1);
    std::swap(fd, two);
    EXPECT_EQ(Write(0x18, {0x00}), 1);
    EXPECT_EQ(Write(0x08, {0x00}), -1);
    const int reopened = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR);
    std::swap(fd, two);
    EXPECT_EQ(BusLines(), (Strings{
                              "0x18 W 00 NACK on /dev/i2c-1",
                              "0x18 W 00 ACK on /dev/i2c-2 by #2",
                              "0x08 W 00 NACK on /dev/i2c-2",
                          }));

    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(flock(two, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(flock(reopened, LOCK_EX | LOCK_NB), -1);  // bus 2, held
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(flock(two, LOCK_UN), 0);
    EXPECT_EQ(flock(reopened, LOCK_SH | LOCK_NB), 0);
    EXPECT_EQ(flock(fd, LOCK_UN), 0);
    EXPECT_EQ(flock(reopened, LOCK_UN), 0);
    const int state = open(options.state_path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(state, LOCK_EX), 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(flock(two, LOCK_SH | LOCK_NB), -1);
    close(state);
    EXPECT_EQ(flock(two, LOCK_EX | LOCK_NB), 0);
    close(two);  // the lock goes with the descriptor
    EXPECT_EQ(flock(reopened, LOCK_EX | LOCK_NB), 0);
    close(reopened);
}

// A call that escapes the simulator finds nothing it can act on.
TEST_F(SimNode, WhatEscapesTheSimulatorFailsOnTheDescriptor) {
    const std::uint8_t byte = 0;
    EXPECT_EQ(syscall(SYS_write, fd, &byte, 1), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(syscall(SYS_ioctl, fd, I2C_FUNCS, nullptr), -1);
    // (qemu-user answers a request it does not know with ENOSYS itself.)
    EXPECT_TRUE(errno == EBADF || errno == ENOSYS) << std::strerror(errno);
    EXPECT_TRUE(BusLines().empty());
}

TEST_F(SimNode, OtherPathsAndDescriptorsGoToLibc) {
    EXPECT_EQ(open("/dev/i2c-0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    const int null_fd = open("/dev/null", O_RDWR);
    ASSERT_GE(null_fd, 0);
    unsigned long funcs = 0;
    EXPECT_EQ(ioctl(null_fd, I2C_FUNCS, &funcs), -1);
    EXPECT_EQ(funcs, 0u);
    // The kernel's answer, through libc. (qemu-user answers I2C_FUNCS, which
    // it does not know, with ENOSYS itself, so a terminal request tells.)
    char termios_buffer[256] = {};
    EXPECT_EQ(ioctl(null_fd, TCGETS, termios_buffer), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(write(null_fd, "x", 1), 1);
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
    EXPECT_EQ(write(closed, &byte, 1), -1);
    EXPECT_EQ(close(closed), -1);
    const auto& problems = gpaksim::Problems();
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].find("ioctl on descriptor"), 0u);
    EXPECT_EQ(problems[1].find("write on descriptor"), 0u);
    EXPECT_EQ(problems[2].find("close on descriptor"), 0u);
}

TEST(SimExit, DescriptorLeftOpenIsTraced) {
    gpaktest::TempDir dir;
    const std::string trace = dir.Path("trace");
    EXPECT_EXIT(
        {
            gpaksim::Options options;
            options.trace_path = trace;
            gpaksim::Start(options);
            (void)open("/dev/i2c-1", O_RDWR);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_NE(gpaktest::ReadFile(trace).find(" of /dev/i2c-1 left open at exit"), std::string::npos)
        << gpaktest::ReadFile(trace);
}

}  // namespace
