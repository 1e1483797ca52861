// The rows of the transfer shapes and their functions. Each function makes
// one transfer of the chip's on a descriptor that the caller opened and
// closes; the bytes on the wire are the same in every shape.
#include "i2c/shapes.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace i2c {

namespace {

TransferResult Failed() { return {TransferStatus::kFailed, errno}; }

// Plain I2C: one I2C_RDWR ioctl, done when all nmsgs messages went through.
TransferResult Messages(int fd, i2c_msg* msgs, unsigned nmsgs) {
    i2c_rdwr_ioctl_data data{};
    data.msgs = msgs;
    data.nmsgs = nmsgs;
    const int moved = ioctl(fd, I2C_RDWR, &data);
    if (moved == static_cast<int>(nmsgs)) {
        return {};
    }
    return {TransferStatus::kFailed, moved < 0 ? errno : EIO};
}

// A 1-byte write of reg, then the read, as one combined transfer.
TransferResult PlainRead(int fd, std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len) {
    std::uint8_t reg_byte = reg;
    // Each message: address, flags, length, buffer.
    i2c_msg msgs[2] = {{addr, 0, 1, &reg_byte}, {addr, I2C_M_RD, static_cast<__u16>(len), buf}};
    return Messages(fd, msgs, 2);
}

// One message [reg, data...], from a buffer of the call's own.
TransferResult PlainWrite(int fd, std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data,
                          int len) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[len + 1]);
    if (!buffer) {
        return {TransferStatus::kNoMemory, ENOMEM};
    }
    buffer[0] = reg;
    if (len > 0) {
        std::memcpy(&buffer[1], data, static_cast<std::size_t>(len));
    }
    i2c_msg msg{addr, 0, static_cast<__u16>(len + 1), buffer.get()};
    return Messages(fd, &msg, 1);
}

// One SMBus command at addr. The address is taken past a kernel driver
// bound there: whether one may be is settled once, before the run's first
// transfer, as I2C_RDWR never asks.
TransferResult Command(int fd, std::uint8_t addr, std::uint8_t read_write, std::uint8_t command,
                       std::uint32_t size, i2c_smbus_data* data) {
    if (ioctl(fd, I2C_SLAVE_FORCE, static_cast<unsigned long>(addr)) != 0) {
        return Failed();
    }
    i2c_smbus_ioctl_data request{};
    request.read_write = read_write;
    request.command = command;
    request.size = size;
    request.data = data;
    return ioctl(fd, I2C_SMBUS, &request) == 0 ? TransferResult{} : Failed();
}

// A byte-data read for one byte, an I2C-block read for more: [reg], then
// the read with a repeated start.
TransferResult BlockRead(int fd, std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len) {
    if (len < 1 || len > I2C_SMBUS_BLOCK_MAX) {
        return {TransferStatus::kRefused, 0};
    }
    i2c_smbus_data data{};
    const bool one = len == 1;
    data.block[0] = static_cast<std::uint8_t>(len);
    const TransferResult result = Command(
        fd, addr, I2C_SMBUS_READ, reg, one ? I2C_SMBUS_BYTE_DATA : I2C_SMBUS_I2C_BLOCK_DATA, &data);
    if (result.Ok()) {
        std::memcpy(buf, one ? &data.byte : &data.block[1], static_cast<std::size_t>(len));
    }
    return result;
}

// A byte write for the register alone, byte-data for one byte, an
// I2C-block write for more: one message [reg, data...].
TransferResult BlockWrite(int fd, std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data,
                          int len) {
    if (len > I2C_SMBUS_BLOCK_MAX) {
        return {TransferStatus::kRefused, 0};
    }
    if (len == 0) {
        return Command(fd, addr, I2C_SMBUS_WRITE, reg, I2C_SMBUS_BYTE, nullptr);
    }
    i2c_smbus_data bytes{};
    if (len == 1) {
        bytes.byte = data[0];
        return Command(fd, addr, I2C_SMBUS_WRITE, reg, I2C_SMBUS_BYTE_DATA, &bytes);
    }
    bytes.block[0] = static_cast<std::uint8_t>(len);
    std::memcpy(&bytes.block[1], data, static_cast<std::size_t>(len));
    return Command(fd, addr, I2C_SMBUS_WRITE, reg, I2C_SMBUS_I2C_BLOCK_DATA, &bytes);
}

// Byte-data reads of reg, reg + 1, ...: another transfer for each byte.
TransferResult ByteReads(int fd, std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len) {
    if (len < 1 || reg + len > 0x100) {
        return {TransferStatus::kRefused, 0};
    }
    for (int i = 0; i < len; ++i) {
        i2c_smbus_data data{};
        const TransferResult result =
            Command(fd, addr, I2C_SMBUS_READ, static_cast<std::uint8_t>(reg + i),
                    I2C_SMBUS_BYTE_DATA, &data);
        if (!result.Ok()) {
            return result;
        }
        buf[i] = data.byte;
    }
    return {};
}

}  // namespace

const std::vector<ShapeRow>& Shapes() {
    static const std::vector<ShapeRow> rows = {
        {Shape::kPlain, I2C_FUNC_I2C, I2C_FUNC_I2C, PlainRead, PlainWrite},
        {Shape::kSmbusBlock, I2C_FUNC_SMBUS_READ_I2C_BLOCK | I2C_FUNC_SMBUS_READ_BYTE_DATA,
         I2C_FUNC_SMBUS_WRITE_I2C_BLOCK | I2C_FUNC_SMBUS_WRITE_BYTE_DATA, BlockRead, BlockWrite},
        {Shape::kSmbusByte, I2C_FUNC_SMBUS_READ_BYTE_DATA, 0, ByteReads, nullptr},
    };
    return rows;
}

}  // namespace i2c
