// Which chips answer on the bus, found by one-byte reads only: nothing is
// written to any memory, and no command is sent.
#pragma once

#include <cstdint>
#include <vector>

#include "chip/chip.h"

// What one one-byte read found at a device address.
struct ProbeResult {
    std::uint8_t addr = 0;
    i2c::TransferResult transfer;  // Ok(): something acknowledged the read
    std::uint8_t value = 0;        // the byte read, when it was

    [[nodiscard]] bool Answered() const { return transfer.Ok(); }
};

// Reads one byte from register reg of the memory type at control code
// code: whether anything answers there.
ProbeResult ProbeChip(std::uint8_t code, ConfigType type = kConfigReg, std::uint8_t reg = 0);

// A chip found at a control code: its register block answered. The NVM
// and the EEPROM blocks of the same code are tried too; the NVM by its
// byte 0xCA, whose low nibble is the code the chip takes at its next reset.
struct ChipFound {
    std::uint8_t code = 0;
    ProbeResult registers;
    ProbeResult nvm;  // value: the NVM's byte 0xCA
    ProbeResult eeprom;

    [[nodiscard]] std::uint8_t CodeAtReset() const { return nvm.value & chip::kFacts.code_mask; }
};

// Every control code 0..15 whose register block answers, in order. At
// most 16 + 2 * (chips found) one-byte reads.
std::vector<ChipFound> ScanChips();
