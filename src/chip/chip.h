// The chip's memories and the operations on them: addressing, read-back,
// erase, write, reset and verify. The operations print their page lines
// and return what happened; the front end words everything else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "chip/facts.h"
#include "i2c/i2c.h"

constexpr int kPageSize = chip::kFacts.page_size;
constexpr int kPageCount = chip::kFacts.page_count;

// Where page p begins in an image, and its register address in a memory.
constexpr std::size_t PageOffset(int page) { return static_cast<std::size_t>(page) * kPageSize; }

// One chip memory: byte p * 16 + o is byte o of page p, which lies at
// register address p * 16 in each memory.
using ConfigImage = std::array<std::uint8_t, PageOffset(kPageCount)>;

// Selects the memory; the value is also the block of the device address.
using ConfigType = std::uint8_t;
constexpr ConfigType kConfigReg = chip::kFacts.reg_block;
constexpr ConfigType kConfigNvm = chip::kFacts.nvm_block;
constexpr ConfigType kConfigEeprom = chip::kFacts.eeprom_block;
constexpr ConfigType kConfigUnset = 0xFF;

// The 7-bit device address of a memory: control code in bits 3..6, block
// in bits 0..2.
constexpr std::uint8_t DeviceAddress(std::uint8_t code, ConfigType type) {
    return static_cast<std::uint8_t>((code << chip::kFacts.code_shift) | type);
}

// What became of an operation on the pages of a memory: every transfer
// went through, or the first that failed, with where and why.
struct PagesResult {
    std::uint8_t addr = 0;         // the device address the transfers went to
    int failed_page = -1;          // the first page whose transfer failed; -1: none
    i2c::TransferResult transfer;  // what became of that page's transfer

    [[nodiscard]] bool Ok() const { return failed_page < 0; }
};

// Reads the 16 pages of the memory into image, stopping at the first page
// that fails (that page and the rest keep their bytes). Prints nothing
// but the transfers' open-error line.
PagesResult ReadConfigData(std::uint8_t code, ConfigType type, ConfigImage& image);

// Sends the reset command to the register block of the control code in
// addr and waits 1 s for the chip to come back, whatever became of the
// command (the result says).
i2c::TransferResult PowerCycle(std::uint8_t addr);

// Erases the 16 pages of the NVM or the EEPROM, then resets the chip. The
// chip may NACK a command while it erases, so the page line of every
// command sent says "complete"; the result names the first command that
// failed all the same. A command that could not even be sent (the node
// could not be opened) ends its page line with "not sent" and stops the
// erase there, without the reset: the result names it, and its transfer was
// not Sent(); failed_page is kPageCount when it was the reset.
PagesResult EraseConfigData(std::uint8_t code, ConfigType type);

// Writes image to the memory page by page (for reg and nvm, byte 0xCA first
// takes the control code), stopping at the first page that fails, then
// resets the chip for nvm and eeprom. The result names the failed page.
PagesResult WriteConfigData(std::uint8_t code, ConfigType type, ConfigImage& image);

// What WriteConfigData does to image before it writes it: for reg and nvm,
// byte 0xCA takes the control code in its low nibble.
void ApplyControlCode(std::uint8_t code, ConfigType type, ConfigImage& image);

// How the memory as read back differs from the image that was sent to it.
struct ImageDifference {
    int count = 0;          // bytes that differ
    std::size_t first = 0;  // offset of the first of them

    [[nodiscard]] bool Same() const { return count == 0; }
};

ImageDifference VerifyConfigData(const ConfigImage& sent, const ConfigImage& read);
