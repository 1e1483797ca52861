// Register transfers with the chip over the Linux i2c-dev interface.
#pragma once

#include <cstdint>
#include <string>

// The node that every transfer opens: /dev/i2c-1 unless the run chose
// another bus.
constexpr char kDefaultDevice[] = "/dev/i2c-1";
void SetDevicePath(const std::string& path);
const std::string& DevicePath();

// Reads len bytes from register reg on of device addr into buf, as one
// combined transfer (1-byte write of reg, then the read).
// Returns 1 on success, 0 on any failure.
int ReadI2C(std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len);

// Writes the len bytes at data to device addr from register reg on, as one
// message [reg, data...]. Returns 0 on success, -1 on any failure.
int WriteI2C(std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data, int len);
