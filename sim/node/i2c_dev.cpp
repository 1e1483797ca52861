#include "node/i2c_dev.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <vector>

#include "node/smbus.h"
#include "raw/raw_io.h"

namespace gpaksim {

namespace {

// i2c-dev's limits.
constexpr unsigned kMaxMessages = I2C_RDWR_IOCTL_MAX_MSGS;
constexpr unsigned kMaxMessageLength = 8192;

// 0 when adapter makes the transfer of messages, else the errno it
// refuses it with before anything reaches the bus.
int RefusalOf(const AdapterRow& adapter, const std::vector<BusMessage>& messages) {
    if ((adapter.funcs & I2C_FUNC_I2C) == 0 ||
        (adapter.max_msgs != 0 && messages.size() > adapter.max_msgs)) {
        return EOPNOTSUPP;
    }
    const bool combined = messages.size() == 2 && !messages[0].read && messages[1].read;
    if (messages.size() == 2) {
        if (adapter.one_address && (!combined || messages[0].addr != messages[1].addr)) {
            return EOPNOTSUPP;
        }
        if (combined && (adapter.no_combined || (adapter.max_comb_first_len != 0 &&
                                                 messages[0].len > adapter.max_comb_first_len))) {
            return EOPNOTSUPP;
        }
    }
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const BusMessage& msg = messages[i];
        if ((adapter.read_last_only && msg.read && i + 1 < messages.size()) ||
            (!msg.read && adapter.max_write_len != 0 && msg.len > adapter.max_write_len) ||
            (msg.len == 0 && (adapter.no_zero_len || (msg.read && adapter.no_zero_len_read)))) {
            return EOPNOTSUPP;
        }
    }
    return 0;
}

// The messages through the adapter's checks, then onto the bus.
int Carry(Bus& bus, const std::vector<BusMessage>& messages, std::size_t node) {
    const int refusal = RefusalOf(bus.Adapter(), messages);
    return refusal != 0 ? raw::Fail(refusal) : bus.Transfer(messages, node);
}

// I2C_RDWR: i2c-dev's checks of the messages, then the adapter's.
int ReadWrite(Bus& bus, std::size_t node, const i2c_rdwr_ioctl_data* data) {
    if (data == nullptr) {
        return raw::Fail(EFAULT);
    }
    if (data->msgs == nullptr || data->nmsgs == 0) {
        return raw::Fail(EINVAL);
    }
    if (data->nmsgs > kMaxMessages) {
        return raw::Fail(EINVAL);
    }
    std::vector<BusMessage> messages;
    for (unsigned i = 0; i < data->nmsgs; ++i) {
        const i2c_msg& msg = data->msgs[i];
        if (msg.len > kMaxMessageLength) {
            return raw::Fail(EINVAL);
        }
        if (msg.buf == nullptr && msg.len > 0) {
            return raw::Fail(EFAULT);
        }
        // No ten-bit addresses, no length received first, no protocol
        // mangling: the adapter offers plain I2C.
        if ((msg.flags & ~I2C_M_RD) != 0) {
            return raw::Fail(EINVAL);
        }
        messages.push_back({msg.addr, (msg.flags & I2C_M_RD) != 0, msg.buf, msg.len});
    }
    return Carry(bus, messages, node);
}

}  // namespace

bool IsI2cRequest(unsigned long request) { return (request & ~0xFFUL) == 0x0700; }

int NodeIoctl(Bus& bus, NodeDescriptor& node, unsigned long request, void* arg) {
    const auto value = reinterpret_cast<std::uintptr_t>(arg);
    switch (request) {
        case I2C_RDWR:
            return ReadWrite(bus, node.bus, static_cast<const i2c_rdwr_ioctl_data*>(arg));
        case I2C_SMBUS:
            return SmbusIoctl(bus, node, static_cast<const i2c_smbus_ioctl_data*>(arg));
        case I2C_FUNCS:
            if (arg == nullptr) {
                return raw::Fail(EFAULT);
            }
            *static_cast<unsigned long*>(arg) = bus.Functions();
            return 0;
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE:
            // The argument is the address itself.
            if (value > 0x7F) {
                return raw::Fail(EINVAL);
            }
            if (request == I2C_SLAVE && bus.Bound(static_cast<std::uint16_t>(value))) {
                return raw::Fail(EBUSY);
            }
            node.addr = static_cast<std::uint16_t>(value);
            return 0;
        case I2C_TENBIT:  // the adapter has no ten-bit addresses
            return value != 0 ? raw::Fail(EINVAL) : 0;
        case I2C_PEC:
            node.pec = value != 0;
            return 0;
        case I2C_RETRIES:
            return 0;
        case I2C_TIMEOUT:
            return value > INT_MAX ? raw::Fail(EINVAL) : 0;
        default:
            return raw::Fail(ENOTTY);
    }
}

// read(2) and write(2): one message each at the descriptor's address, of
// at most 8192 bytes, as i2c-dev.
ssize_t NodeRead(Bus& bus, const NodeDescriptor& node, void* buf, std::size_t count) {
    const auto len =
        static_cast<std::uint16_t>(count > kMaxMessageLength ? kMaxMessageLength : count);
    if (buf == nullptr && len > 0) {
        return raw::Fail(EFAULT);
    }
    const int sent =
        Carry(bus, {{node.addr, true, static_cast<std::uint8_t*>(buf), len}}, node.bus);
    return sent < 0 ? -1 : static_cast<ssize_t>(len);
}

ssize_t NodeWrite(Bus& bus, const NodeDescriptor& node, const void* buf, std::size_t count) {
    const auto len =
        static_cast<std::uint16_t>(count > kMaxMessageLength ? kMaxMessageLength : count);
    if (buf == nullptr && len > 0) {
        return raw::Fail(EFAULT);
    }
    // The bus only reads from a write message's buffer.
    auto* bytes = const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(buf));
    const int sent = Carry(bus, {{node.addr, false, bytes, len}}, node.bus);
    return sent < 0 ? -1 : static_cast<ssize_t>(len);
}

}  // namespace gpaksim
