// Register transfers with the chip over the Linux i2c-dev interface: a
// register read and a register write, each a call that opens the node,
// makes one transfer and closes it again. The transfer's shape (plain I2C
// messages, or SMBus commands that put the same bytes on the wire) is
// chosen once per run from what the adapter offers. They return what
// happened, errno included; only the open-error line is theirs to print.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
    // Whether it failed because nothing acknowledged it, in the words of
    // any adapter: ENXIO (most), EREMOTEIO (the Pi's, many SoCs'),
    // ETIMEDOUT (USB bridges), ENODEV (i2c-stub) or EIO (a bit-banged bus's
    // data byte, or fewer messages moved than asked).
    [[nodiscard]] bool NotAcknowledged() const;
    // Whether it reached the bus, done or failed there; else nothing was sent.
    [[nodiscard]] bool Sent() const {
        return status == TransferStatus::kDone || status == TransferStatus::kFailed;
    }
};

// How a run's transfers are put to the adapter.
enum class Shape {
    kPlain,       // I2C_RDWR messages
    kSmbusBlock,  // SMBus I2C-block commands for pages, byte-data for single bytes
    kSmbusByte,   // SMBus byte-data reads only, a page as 16 of them; no writes
};

// What an adapter with the I2C_FUNCS bits funcs offers: the shape of its
// reads and of its writes; none where it has no shape for them.
struct Offer {
    std::optional<Shape> reads;
    std::optional<Shape> writes;
};
Offer OfferOf(unsigned long funcs);

// For each shape that writes, the bits funcs lacks for it: what stands in
// the way of programming through the adapter.
struct Lack {
    Shape shape;
    unsigned long missing;
};
std::vector<Lack> WriteLacks(unsigned long funcs);

// The run's shape is chosen at its first transfer from I2C_FUNCS of the
// node, and kept; a plain transfer that the adapter refuses (EOPNOTSUPP: a
// combined transfer it cannot make) moves the run to the next shape it
// offers. After this the next transfer chooses again.
void ForgetShape();

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
