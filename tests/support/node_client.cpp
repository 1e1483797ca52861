#include "node_client.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace gpaktest {

void NodeTest::SetUp() {
    SimTest::SetUp();
    Reopen();
}

void NodeTest::TearDown() {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
    SimTest::TearDown();
}

void NodeTest::Reopen() {
    if (fd >= 0) {
        close(fd);
    }
    fd = open("/dev/i2c-1", O_RDWR);
    ASSERT_GE(fd, 0);
}

int NodeTest::Transfer(std::vector<i2c_msg> msgs) {
    i2c_rdwr_ioctl_data data{msgs.data(), static_cast<__u32>(msgs.size())};
    errno = 0;
    const int result = ioctl(fd, I2C_RDWR, &data);
    error = errno;
    return result;
}

int NodeTest::Write(std::uint16_t addr, std::vector<std::uint8_t> bytes) {
    return Transfer({{addr, 0, static_cast<__u16>(bytes.size()), bytes.data()}});
}

std::vector<std::uint8_t> NodeTest::Read(std::uint16_t addr, std::uint8_t reg, std::size_t len) {
    std::vector<std::uint8_t> data(len);
    if (Transfer({{addr, 0, 1, &reg}, {addr, I2C_M_RD, static_cast<__u16>(len), data.data()}}) !=
        2) {
        data.clear();
    }
    return data;
}

int NodeTest::Smbus(std::uint8_t read_write, std::uint8_t command, std::uint32_t size,
                    i2c_smbus_data* data) {
    i2c_smbus_ioctl_data request{read_write, command, size, data};
    errno = 0;
    const int result = ioctl(fd, I2C_SMBUS, &request);
    error = errno;
    return result;
}

void NodeTest::Sleep(std::int64_t ns) {
    const timespec ts{static_cast<time_t>(ns / 1'000'000'000),
                      static_cast<long>(ns % 1'000'000'000)};
    nanosleep(&ts, nullptr);
}

}  // namespace gpaktest
