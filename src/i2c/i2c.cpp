// The two transfer shapes over I2C_RDWR, and the node they open.
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

using common::UniqueFd;
using i2c::TransferResult;
using i2c::TransferStatus;

std::string& Device() {
    static std::string path = kDefaultDevice;
    return path;
}

// Each transfer opens the node for itself and closes it before returning:
// nothing is cached between calls.
UniqueFd OpenDevice(TransferResult& result) {
    UniqueFd fd(open(Device().c_str(), O_RDWR));
    if (!fd.IsOpen()) {
        result = {TransferStatus::kOpenFailed, errno};
        std::fprintf(stderr, "Device open error: %s\n", std::strerror(result.error_number));
    }
    return fd;
}

// Issues one I2C_RDWR ioctl: done when all nmsgs messages went through.
TransferResult Transfer(int fd, i2c_msg* msgs, unsigned nmsgs) {
    i2c_rdwr_ioctl_data data{};
    data.msgs = msgs;
    data.nmsgs = nmsgs;
    const int moved = ioctl(fd, I2C_RDWR, &data);
    if (moved == static_cast<int>(nmsgs)) {
        return {};
    }
    return {TransferStatus::kFailed, moved < 0 ? errno : EIO};
}

}  // namespace

void SetDevicePath(const std::string& path) { Device() = path; }
const std::string& DevicePath() { return Device(); }

namespace i2c {

TransferResult RegisterRead(std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len) {
    if (buf == nullptr || len < 0 || len > 0xFFFF) {
        return {TransferStatus::kRefused, 0};
    }
    TransferResult result;
    const UniqueFd fd = OpenDevice(result);
    if (!fd.IsOpen()) {
        return result;
    }
    std::uint8_t reg_byte = reg;
    // Each message: address, flags, length, buffer.
    i2c_msg msgs[2] = {{addr, 0, 1, &reg_byte}, {addr, I2C_M_RD, static_cast<__u16>(len), buf}};
    return Transfer(fd.Get(), msgs, 2);
}

TransferResult RegisterWrite(std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data,
                             int len) {
    // The message length field is 16 bits and carries the register byte too.
    if ((data == nullptr && len > 0) || len < 0 || len > 0xFFFE) {
        return {TransferStatus::kRefused, 0};
    }
    TransferResult result;
    UniqueFd fd = OpenDevice(result);
    if (!fd.IsOpen()) {
        return result;
    }
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[len + 1]);
    if (!buffer) {
        return {TransferStatus::kNoMemory, ENOMEM};
    }
    buffer[0] = reg;
    if (len > 0) {
        std::memcpy(&buffer[1], data, static_cast<std::size_t>(len));
    }
    i2c_msg msg{addr, 0, static_cast<__u16>(len + 1), buffer.get()};
    result = Transfer(fd.Get(), &msg, 1);
    buffer.reset();  // the buffer first, then the descriptor
    fd.Reset();
    return result;
}

}  // namespace i2c

int ReadI2C(std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len) {
    return i2c::RegisterRead(addr, reg, buf, len).Ok() ? 1 : 0;
}

int WriteI2C(std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data, int len) {
    return i2c::RegisterWrite(addr, reg, data, len).Ok() ? 0 : -1;
}
