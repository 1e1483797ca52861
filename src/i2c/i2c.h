// Register transfers with the chip over the Linux i2c-dev interface: the
// two shapes (register read, register write), each a call that opens the
// node, makes one I2C_RDWR ioctl and closes it again. They return what
// happened, errno included; only the open-error line is theirs to print.
#pragma once

#include <cstdint>
#include <string>

// The node that every transfer opens: /dev/i2c-1 unless the run chose
// another bus.
constexpr char kDefaultDevice[] = "/dev/i2c-1";
void SetDevicePath(const std::string& path);
const std::string& DevicePath();

namespace i2c {

enum class TransferStatus {
    kDone,
    kRefused,     // a buffer or length no message can carry: nothing was opened
    kOpenFailed,  // the node could not be opened: nothing was sent
    kNoMemory,    // no buffer for the message: nothing was sent
    kFailed,      // the ioctl failed, a NACK among its causes
};

// What became of one transfer.
struct TransferResult {
    TransferStatus status = TransferStatus::kDone;
    // errno of the failed open or ioctl (EREMOTEIO or ENXIO: not
    // acknowledged; EIO when the adapter moved fewer messages than asked);
    // 0 otherwise.
    int error_number = 0;

    [[nodiscard]] bool Ok() const { return status == TransferStatus::kDone; }
    // Whether it reached the bus, done or failed there; else nothing was sent.
    [[nodiscard]] bool Sent() const {
        return status == TransferStatus::kDone || status == TransferStatus::kFailed;
    }
};

// Reads len bytes from register reg on of device addr into buf, as one
// combined transfer (1-byte write of reg, then the read). A node that
// cannot be opened is also said on standard error ("Device open error").
TransferResult RegisterRead(std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len);

// Writes the len bytes at data to device addr from register reg on, as one
// message [reg, data...]; data is not changed. A node that cannot be opened
// is also said on standard error.
TransferResult RegisterWrite(std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data,
                             int len);

}  // namespace i2c

// RegisterRead with its result as 1 on success, 0 on any failure.
int ReadI2C(std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len);

// RegisterWrite with its result as 0 on success, -1 on any failure.
int WriteI2C(std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data, int len);
