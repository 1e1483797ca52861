#include "i2c/i2c.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "common/unique_fd.h"

namespace {

std::string& Device() {
    static std::string path = kDefaultDevice;
    return path;
}

// Each transfer opens the node for itself and closes it before returning:
// nothing is cached between calls.
gpakcfg::UniqueFd OpenDevice() {
    gpakcfg::UniqueFd fd(open(Device().c_str(), O_RDWR));
    if (!fd.IsOpen()) {
        std::fprintf(stderr, "Device open error: %s\n", std::strerror(errno));
    }
    return fd;
}

// Issues one I2C_RDWR ioctl; true when all nmsgs messages went through.
bool Transfer(int fd, i2c_msg* msgs, unsigned nmsgs) {
    i2c_rdwr_ioctl_data data{};
    data.msgs = msgs;
    data.nmsgs = nmsgs;
    return ioctl(fd, I2C_RDWR, &data) == static_cast<int>(nmsgs);
}

}  // namespace

void SetDevicePath(const std::string& path) { Device() = path; }
const std::string& DevicePath() { return Device(); }

int ReadI2C(std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len) {
    if (buf == nullptr || len < 0 || len > 0xFFFF) {
        return 0;
    }
    const gpakcfg::UniqueFd fd = OpenDevice();
    if (!fd.IsOpen()) {
        return 0;
    }
    std::uint8_t reg_byte = reg;
    i2c_msg msgs[2]{};
    msgs[0].addr = addr;
    msgs[0].flags = 0;
    msgs[0].len = 1;
    msgs[0].buf = &reg_byte;
    msgs[1].addr = addr;
    msgs[1].flags = I2C_M_RD;
    msgs[1].len = static_cast<__u16>(len);
    msgs[1].buf = buf;
    return Transfer(fd.Get(), msgs, 2) ? 1 : 0;
}

int WriteI2C(std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data, int len) {
    // The message length field is 16 bits and carries the register byte too.
    if ((data == nullptr && len > 0) || len < 0 || len > 0xFFFE) {
        return -1;
    }
    gpakcfg::UniqueFd fd = OpenDevice();
    if (!fd.IsOpen()) {
        return -1;
    }
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[len + 1]);
    if (!buffer) {
        return -1;
    }
    buffer[0] = reg;
    if (len > 0) {
        std::memcpy(&buffer[1], data, static_cast<std::size_t>(len));
    }
    i2c_msg msg{};
    msg.addr = addr;
    msg.flags = 0;
    msg.len = static_cast<__u16>(len + 1);
    msg.buf = buffer.get();
    const bool ok = Transfer(fd.Get(), &msg, 1);
    buffer.reset();  // the buffer first, then the descriptor
    fd.Reset();
    return ok ? 0 : -1;
}
