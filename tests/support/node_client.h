// Test support: a descriptor of the simulated node in the test's own
// process, with the transfers a client makes on it.
#pragma once

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cstdint>
#include <vector>

#include "sim_fixture.h"

namespace gpaktest {

class NodeTest : public SimTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Opens the node again after Restart().
    void Reopen();

    // One I2C_RDWR; returns the ioctl's result, errno in error.
    int Transfer(std::vector<i2c_msg> msgs);
    int Write(std::uint16_t addr, std::vector<std::uint8_t> bytes);
    // Reads len bytes from reg on, as one combined transfer; empty on failure.
    std::vector<std::uint8_t> Read(std::uint16_t addr, std::uint8_t reg, std::size_t len);
    // One I2C_SMBUS; returns the ioctl's result, errno in error.
    int Smbus(std::uint8_t read_write, std::uint8_t command, std::uint32_t size,
              i2c_smbus_data* data);
    // Sleeps on the simulator's virtual clock.
    static void Sleep(std::int64_t ns);

    int fd = -1;
    int error = 0;
};

}  // namespace gpaktest
