#include "node/smbus.h"

#include <linux/i2c.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "raw/raw_io.h"

namespace gpaksim {

namespace {

// The bytes that the message puts on the bus first: its address byte.
std::uint8_t AddressByte(const BusMessage& msg) {
    return static_cast<std::uint8_t>((msg.addr << 1) | (msg.read ? 1 : 0));
}

std::uint8_t MessagePec(std::uint8_t crc, const BusMessage& msg) {
    const std::uint8_t addr = AddressByte(msg);
    return SmbusPec(SmbusPec(crc, &addr, 1), msg.buf, msg.len);
}

// What the kernel's emulation builds and sends for one command.
class Emulated {
public:
    Emulated(std::uint16_t addr, bool pec, std::uint8_t read_write, std::uint8_t command,
             std::uint32_t size)
        : read_write_(read_write), size_(size) {
        wants_pec_ = pec && size != I2C_SMBUS_QUICK && size != I2C_SMBUS_I2C_BLOCK_DATA;
        msgs_[0] = {addr, false, out_.data(), 1};
        msgs_[1] = {addr, true, in_.data(), 0};
        out_[0] = command;
        count_ = read_write == I2C_SMBUS_READ ? 2 : 1;
    }

    // Lays out the messages for data; false (errno set) for a bad request.
    bool Build(const i2c_smbus_data& data);
    // Sends them and fills data with what was read; 0 or -1 with errno.
    int Run(Bus& bus, std::size_t node, i2c_smbus_data& data);
    [[nodiscard]] bool Reads() const { return read_write_ == I2C_SMBUS_READ; }

private:
    void Word(std::uint16_t word);
    bool Block(const i2c_smbus_data& data);
    bool I2cBlock(const i2c_smbus_data& data);
    std::uint8_t AddPec();
    bool PecMatches(std::uint8_t partial_pec);
    int Result(i2c_smbus_data& data) const;

    std::uint8_t read_write_;
    std::uint32_t size_;
    bool wants_pec_ = false;
    std::array<BusMessage, 2> msgs_{};
    std::size_t count_ = 1;
    std::array<std::uint8_t, I2C_SMBUS_BLOCK_MAX + 3> out_{};
    std::array<std::uint8_t, I2C_SMBUS_BLOCK_MAX + 2> in_{};
};

bool Emulated::Build(const i2c_smbus_data& data) {
    const bool read = Reads();
    switch (size_) {
        case I2C_SMBUS_QUICK:  // the read/write bit is the data
            msgs_[0].len = 0;
            msgs_[0].read = read;
            count_ = 1;
            return true;
        case I2C_SMBUS_BYTE:
            if (read) {  // a read alone
                msgs_[0].read = true;
                count_ = 1;
            }
            return true;
        case I2C_SMBUS_BYTE_DATA:
            if (read) {
                msgs_[1].len = 1;
            } else {
                msgs_[0].len = 2;
                out_[1] = data.byte;
            }
            return true;
        case I2C_SMBUS_WORD_DATA:
            if (read) {
                msgs_[1].len = 2;
            } else {
                Word(data.word);
            }
            return true;
        case I2C_SMBUS_PROC_CALL:  // a word written, then one read
            read_write_ = I2C_SMBUS_READ;
            count_ = 2;
            Word(data.word);
            msgs_[1].len = 2;
            return true;
        case I2C_SMBUS_BLOCK_DATA:
        case I2C_SMBUS_BLOCK_PROC_CALL:
            return Block(data);
        case I2C_SMBUS_I2C_BLOCK_DATA:
            return I2cBlock(data);
        default:
            errno = EOPNOTSUPP;
            return false;
    }
}

void Emulated::Word(std::uint16_t word) {
    msgs_[0].len = 3;
    out_[1] = static_cast<std::uint8_t>(word & 0xFF);
    out_[2] = static_cast<std::uint8_t>(word >> 8);
}

bool Emulated::Block(const i2c_smbus_data& data) {
    if (size_ == I2C_SMBUS_BLOCK_PROC_CALL) {
        read_write_ = I2C_SMBUS_READ;
        count_ = 2;
    }
    if (size_ == I2C_SMBUS_BLOCK_PROC_CALL || !Reads()) {
        if (data.block[0] > I2C_SMBUS_BLOCK_MAX) {
            errno = EINVAL;
            return false;
        }
        msgs_[0].len = static_cast<std::uint16_t>(data.block[0] + 2);
        std::memcpy(&out_[1], data.block, msgs_[0].len - 1U);
    }
    // The block's length comes first. The adapter does not read it as a
    // length (it offers plain I2C), so one byte is read.
    msgs_[1].len = 1;
    return true;
}

bool Emulated::I2cBlock(const i2c_smbus_data& data) {
    if (data.block[0] > I2C_SMBUS_BLOCK_MAX) {
        errno = EINVAL;
        return false;
    }
    if (Reads()) {
        msgs_[1].len = data.block[0];
    } else {
        msgs_[0].len = static_cast<std::uint16_t>(data.block[0] + 1);
        std::memcpy(&out_[1], &data.block[1], data.block[0]);
    }
    return true;
}

// The PEC of a write alone goes after it; that of a write before a read
// is carried on into the read's, which asks for one more byte, the PEC.
std::uint8_t Emulated::AddPec() {
    std::uint8_t partial_pec = 0;
    if (!msgs_[0].read) {
        if (count_ == 1) {
            out_[msgs_[0].len] = MessagePec(0, msgs_[0]);
            ++msgs_[0].len;
        } else {
            partial_pec = MessagePec(0, msgs_[0]);
        }
    }
    if (msgs_[count_ - 1].read) {
        ++msgs_[count_ - 1].len;
    }
    return partial_pec;
}

bool Emulated::PecMatches(std::uint8_t partial_pec) {
    BusMessage& last = msgs_[count_ - 1];
    if (!last.read) {
        return true;
    }
    --last.len;
    return last.buf[last.len] == MessagePec(partial_pec, last);
}

int Emulated::Run(Bus& bus, std::size_t node, i2c_smbus_data& data) {
    const std::uint8_t partial_pec = wants_pec_ ? AddPec() : 0;
    const std::vector<BusMessage> messages(msgs_.begin(),
                                           msgs_.begin() + static_cast<std::ptrdiff_t>(count_));
    const int sent = bus.Transfer(messages, node);
    if (sent < 0) {
        return -1;
    }
    if (sent != static_cast<int>(count_)) {
        return raw::Fail(EIO);
    }
    if (wants_pec_ && !PecMatches(partial_pec)) {
        return raw::Fail(EBADMSG);
    }
    return Reads() ? Result(data) : 0;
}

int Emulated::Result(i2c_smbus_data& data) const {
    switch (size_) {
        case I2C_SMBUS_BYTE:
            data.byte = out_[0];
            break;
        case I2C_SMBUS_BYTE_DATA:
            data.byte = in_[0];
            break;
        case I2C_SMBUS_WORD_DATA:
        case I2C_SMBUS_PROC_CALL:
            data.word = static_cast<std::uint16_t>(in_[0] | (in_[1] << 8));
            break;
        case I2C_SMBUS_I2C_BLOCK_DATA:
            std::memcpy(&data.block[1], in_.data(), data.block[0]);
            break;
        case I2C_SMBUS_BLOCK_DATA:
        case I2C_SMBUS_BLOCK_PROC_CALL:
            if (in_[0] > I2C_SMBUS_BLOCK_MAX) {
                return raw::Fail(EPROTO);
            }
            std::memcpy(data.block, in_.data(), in_[0] + 1U);
            break;
        default:
            break;
    }
    return 0;
}

bool KnownSize(std::uint32_t size) {
    switch (size) {
        case I2C_SMBUS_QUICK:
        case I2C_SMBUS_BYTE:
        case I2C_SMBUS_BYTE_DATA:
        case I2C_SMBUS_WORD_DATA:
        case I2C_SMBUS_PROC_CALL:
        case I2C_SMBUS_BLOCK_DATA:
        case I2C_SMBUS_I2C_BLOCK_BROKEN:
        case I2C_SMBUS_BLOCK_PROC_CALL:
        case I2C_SMBUS_I2C_BLOCK_DATA:
            return true;
        default:
            return false;
    }
}

// The functionality bit of an SMBus command.
unsigned long FunctionOf(std::uint32_t size, std::uint8_t read_write) {
    const bool read = read_write == I2C_SMBUS_READ;
    switch (size) {
        case I2C_SMBUS_QUICK:
            return I2C_FUNC_SMBUS_QUICK;
        case I2C_SMBUS_BYTE:
            return read ? I2C_FUNC_SMBUS_READ_BYTE : I2C_FUNC_SMBUS_WRITE_BYTE;
        case I2C_SMBUS_BYTE_DATA:
            return read ? I2C_FUNC_SMBUS_READ_BYTE_DATA : I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
        case I2C_SMBUS_WORD_DATA:
            return read ? I2C_FUNC_SMBUS_READ_WORD_DATA : I2C_FUNC_SMBUS_WRITE_WORD_DATA;
        case I2C_SMBUS_PROC_CALL:
            return I2C_FUNC_SMBUS_PROC_CALL;
        case I2C_SMBUS_BLOCK_DATA:
            return read ? I2C_FUNC_SMBUS_READ_BLOCK_DATA : I2C_FUNC_SMBUS_WRITE_BLOCK_DATA;
        case I2C_SMBUS_BLOCK_PROC_CALL:
            return I2C_FUNC_SMBUS_BLOCK_PROC_CALL;
        default:
            return read ? I2C_FUNC_SMBUS_READ_I2C_BLOCK : I2C_FUNC_SMBUS_WRITE_I2C_BLOCK;
    }
}

}  // namespace

std::uint8_t SmbusPec(std::uint8_t crc, const std::uint8_t* bytes, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
        }
    }
    return crc;
}

// As i2c-dev: the checks of the request, the copies in and out, and the
// old I2C block command turned into the new one.
int SmbusIoctl(Bus& bus, const NodeDescriptor& node, const i2c_smbus_ioctl_data* request) {
    if (request == nullptr) {
        return raw::Fail(EFAULT);
    }
    std::uint32_t size = request->size;
    const std::uint8_t read_write = request->read_write;
    if (!KnownSize(size) || (read_write != I2C_SMBUS_READ && read_write != I2C_SMBUS_WRITE)) {
        return raw::Fail(EINVAL);
    }
    i2c_smbus_data data{};
    const bool uses_data =
        !(size == I2C_SMBUS_QUICK || (size == I2C_SMBUS_BYTE && read_write == I2C_SMBUS_WRITE));
    std::size_t data_size = 0;
    if (uses_data) {
        if (request->data == nullptr) {
            return raw::Fail(EINVAL);
        }
        data_size = size == I2C_SMBUS_BYTE_DATA || size == I2C_SMBUS_BYTE ? sizeof data.byte
                    : size == I2C_SMBUS_WORD_DATA || size == I2C_SMBUS_PROC_CALL
                        ? sizeof data.word
                        : sizeof data.block;
        if (size == I2C_SMBUS_PROC_CALL || size == I2C_SMBUS_BLOCK_PROC_CALL ||
            size == I2C_SMBUS_I2C_BLOCK_DATA || read_write == I2C_SMBUS_WRITE) {
            std::memcpy(&data, request->data, data_size);
        }
        if (size == I2C_SMBUS_I2C_BLOCK_BROKEN) {
            size = I2C_SMBUS_I2C_BLOCK_DATA;
            if (read_write == I2C_SMBUS_READ) {
                data.block[0] = I2C_SMBUS_BLOCK_MAX;
            }
        }
    }
    // An adapter without plain I2C carries out the commands itself, and
    // refuses those it does not offer.
    const unsigned long funcs = bus.Adapter().funcs;
    if ((funcs & I2C_FUNC_I2C) == 0 && (funcs & FunctionOf(size, read_write)) == 0) {
        return raw::Fail(EOPNOTSUPP);
    }
    Emulated command(node.addr, node.pec, read_write, request->command, size);
    if (!command.Build(data) || command.Run(bus, node.bus, data) != 0) {
        return -1;
    }
    if (uses_data && (size == I2C_SMBUS_PROC_CALL || size == I2C_SMBUS_BLOCK_PROC_CALL ||
                      read_write == I2C_SMBUS_READ)) {
        std::memcpy(request->data, &data, data_size);
    }
    return 0;
}

}  // namespace gpaksim
