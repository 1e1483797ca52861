// I2C_SMBUS on the simulated node: each SMBus command translated into the
// I2C messages that the kernel sends for it on an adapter that offers
// plain I2C only (as i2c-bcm2835), with the same results and errors.
#pragma once

#include <linux/i2c-dev.h>

#include "bus/bus.h"
#include "node/descriptors.h"

namespace gpaksim {

// The ioctl's result: 0, or -1 with errno set.
int SmbusIoctl(Bus& bus, const NodeDescriptor& node, const i2c_smbus_ioctl_data* request);

// The SMBus packet error code (CRC-8, polynomial x^8 + x^2 + x + 1) of
// bytes, continuing from crc.
std::uint8_t SmbusPec(std::uint8_t crc, const std::uint8_t* bytes, std::size_t len);

}  // namespace gpaksim
