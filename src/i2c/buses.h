// The machine's I2C buses as the kernel shows them: every /dev/i2c-N, the
// name its adapter's driver gives it and what it offers (I2C_FUNCS), and
// the driver bound at an address. Read from /dev and sysfs; it says
// nothing itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace i2c {

struct BusEntry {
    std::string node;      // /dev/i2c-N
    std::string name;      // the adapter's name; empty when it cannot be read
    int error_number = 0;  // errno of the open or I2C_FUNCS that failed; 0: asked
    unsigned long funcs = 0;
};

// Every /dev/i2c-N, in the order of N.
std::vector<BusEntry> ListBuses();

// The name of node's adapter (node is /dev/i2c-N); empty when unknown.
std::string AdapterName(const std::string& node);

// The driver bound to the device at addr on node's adapter; empty when
// that cannot be told.
std::string DriverAt(const std::string& node, std::uint8_t addr);

// The first line of a small text file, as the kernel's attribute files
// hold one; empty when it cannot be read.
std::string FirstLine(const std::string& path);

}  // namespace i2c
