// The chip's memories and the operations on them: read-back, erase, write
// and reset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// One chip memory: byte p * 16 + o is byte o of page p, which lies at
// register address p << 4.
using ConfigImage = std::array<std::uint8_t, 256>;

// Selects the memory; the value is also the block of the device address.
using ConfigType = std::uint8_t;
constexpr ConfigType kConfigReg = 0;
constexpr ConfigType kConfigNvm = 2;
constexpr ConfigType kConfigEeprom = 3;
constexpr ConfigType kConfigUnset = 0xFF;

constexpr int kPageSize = 16;
constexpr int kPageCount = 16;

// Where page p begins in an image.
constexpr std::size_t PageOffset(int page) { return static_cast<std::size_t>(page) * kPageSize; }

// The 7-bit device address of a memory: control code in bits 3..6, block
// in bits 0..2.
constexpr std::uint8_t DeviceAddress(std::uint8_t code, ConfigType type) {
    return static_cast<std::uint8_t>((code << 3) | type);
}

// Reads the 16 pages of the memory into image, stopping at the first page
// that fails (that page and the rest keep their bytes). Reports the failed
// page on standard error. Returns true when all 16 pages were read.
bool ReadConfigData(std::uint8_t code, ConfigType type, ConfigImage& image);

// Sends the reset command to the register block of the control code in
// addr and waits 1 s for the chip to come back.
void PowerCycle(std::uint8_t addr);

// Erases the 16 pages of the NVM or the EEPROM, then resets the chip.
void EraseConfigData(std::uint8_t code, ConfigType type);

// Writes image to the memory page by page (for reg and nvm, byte 0xCA first
// takes the control code), then resets the chip for nvm and eeprom.
// Returns true when all 16 pages were written.
bool WriteConfigData(std::uint8_t code, ConfigType type, ConfigImage& image);

// What WriteConfigData does to image before it writes it: for reg and nvm,
// byte 0xCA takes the control code in its low nibble.
void ApplyControlCode(std::uint8_t code, ConfigType type, ConfigImage& image);

// Compares the memory as read back with the image that was sent to it.
// On any difference, says on standard error at which device address, how
// many bytes differ and the first of them, and returns false.
bool VerifyConfigData(std::uint8_t code, ConfigType type, const ConfigImage& sent,
                      const ConfigImage& read);

// The line of a read-back that ends at page: its bytes were not read.
void ReportReadError(std::uint8_t addr, int page);
