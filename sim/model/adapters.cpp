#include "model/adapters.h"

#include <linux/i2c.h>

#include <cerrno>
#include <string>

namespace gpaksim {

namespace {

constexpr unsigned long kSmbusNative = I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA |
                                       I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_BLOCK_DATA |
                                       I2C_FUNC_SMBUS_I2C_BLOCK;

AdapterRow Row(const char* name, const char* title, unsigned long funcs, int nack_errno) {
    AdapterRow row{};
    row.name = name;
    row.title = title;
    row.funcs = funcs;
    row.nack_errno = nack_errno;
    row.first_addr = 0x00;
    row.last_addr = 0x7F;
    return row;
}

std::vector<AdapterRow> MakeRows() {
    std::vector<AdapterRow> rows;
    // The Raspberry Pi's: a read message only as the last one.
    rows.push_back(
        Row("bcm2835", "bcm2835 (i2c@7e804000)", I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL, EREMOTEIO));
    rows.back().read_last_only = true;
    // Bit-banged on any GPIO lines (i2c-algo-bit).
    rows.push_back(Row(
        "gpio", "i2c-gpio-1",
        I2C_FUNC_I2C | I2C_FUNC_NOSTART | I2C_FUNC_SMBUS_EMUL | I2C_FUNC_PROTOCOL_MANGLING, ENXIO));
    rows.push_back(Row("designware", "Synopsys DesignWare I2C adapter", I2C_FUNC_I2C | kSmbusNative,
                       EREMOTEIO));
    rows.back().no_zero_len = true;
    rows.push_back(Row("tiny-usb", "i2c-tiny-usb at bus 001 device 004",
                       I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL, ENXIO));
    rows.back().no_zero_len_read = true;
    // One message, or a write then a read at one address.
    rows.push_back(Row("mcp2221", "MCP2221 usb-i2c bridge",
                       I2C_FUNC_I2C | (I2C_FUNC_SMBUS_EMUL & ~I2C_FUNC_SMBUS_PEC), ENXIO));
    rows.back().max_msgs = 2;
    rows.back().one_address = true;
    // Of hardware revision 1, which makes no combined transfers; a write of
    // at most 61 bytes.
    rows.push_back(
        Row("cp2112", "CP2112 SMBus Bridge on hidraw0", I2C_FUNC_I2C | kSmbusNative, ETIMEDOUT));
    rows.back().max_write_len = 61;
    rows.back().max_msgs = 2;
    rows.back().no_combined = true;
    rows.back().one_address = true;
    rows.push_back(Row("ft260", "FT260 usb-i2c bridge", I2C_FUNC_I2C | kSmbusNative, EIO));
    rows.back().max_comb_first_len = 2;
    rows.back().one_address = true;
    // The kernel's test adapter: SMBus only, at 0x03..0x77.
    rows.push_back(Row("i2c-stub", "SMBus stub driver", 0x0c7f0000UL, ENODEV));
    rows.back().first_addr = 0x03;
    rows.back().last_addr = 0x77;
    return rows;
}

}  // namespace

const std::vector<AdapterRow>& Adapters() {
    static const std::vector<AdapterRow> rows = MakeRows();
    return rows;
}

const AdapterRow* FindAdapter(const std::string& name) {
    for (const AdapterRow& row : Adapters()) {
        if (name == row.name) {
            return &row;
        }
    }
    return nullptr;
}

std::string AdapterNames() {
    std::string names;
    for (const AdapterRow& row : Adapters()) {
        names += (names.empty() ? "" : ", ") + std::string(row.name);
    }
    return names;
}

}  // namespace gpaksim
