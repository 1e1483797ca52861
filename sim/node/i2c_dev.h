// What the simulated node answers on a descriptor, as the kernel's i2c-dev
// on the run's adapter (the Raspberry Pi's i2c-bcm2835 unless --adapter)
// does: the ioctl requests, and read(2) and write(2) at the address set
// with I2C_SLAVE.
#pragma once

#include <sys/types.h>

#include "bus/bus.h"
#include "node/descriptors.h"

namespace gpaksim {

// Each returns what the system call returns, with errno set on failure.
int NodeIoctl(Bus& bus, NodeDescriptor& node, unsigned long request, void* arg);
ssize_t NodeRead(Bus& bus, const NodeDescriptor& node, void* buf, std::size_t count);
ssize_t NodeWrite(Bus& bus, const NodeDescriptor& node, const void* buf, std::size_t count);

// Whether request is an i2c-dev request (0x07xx).
bool IsI2cRequest(unsigned long request);

}  // namespace gpaksim
