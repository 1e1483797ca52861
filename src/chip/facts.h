// What the tool knows of a chip family, as one row of data: where its
// memories answer, the commands that erase and reset it, the byte that
// holds its control code and the pauses it needs. The operations, the file
// reader and the front end take these from here; a second family would be
// a second row.
#pragma once

#include <cstddef>
#include <cstdint>

namespace chip {

struct Facts {
    // The device address of a memory is (code << code_shift) | its block,
    // for the control codes 0 to code_mask.
    std::uint8_t reg_block, nvm_block, eeprom_block;
    int code_shift;
    std::uint8_t code_mask;
    // Each memory is page_count pages of page_size bytes; a page moves as
    // one transfer and lies at register address page * page_size.
    int page_size, page_count;
    // Commands to the register block, one data byte each: the reset, and
    // the erase of a page (erase_nvm | page or erase_eeprom | page).
    std::uint8_t reset_register, reset_value;
    std::uint8_t erase_register, erase_nvm, erase_eeprom;
    // The image byte whose low nibble (code_mask) is the control code the
    // chip takes at its next reset; written with the registers and the NVM.
    std::size_t control_code_byte;
    // The NVM is written through its block at this control code: once
    // erased and reset, the chip answers there until the control code byte
    // brings its own code back.
    std::uint8_t nvm_write_code;
    // After each page erase command and each page written; after each
    // reset command, answered or not.
    long page_pause_ns, reset_pause_ns;
};

// clang-format off
inline constexpr Facts kGreenPak = {
    0, 2, 3,                    // blocks: registers, NVM, EEPROM
    3, 0x0F,                    // control codes 0..15 in bits 3..6
    16, 16,                     // 16 pages of 16 bytes: 256 bytes a memory
    0xC8, 0x02,                 // reset: 0x02 to register 0xC8
    0xE3, 0x80, 0x90,           // erase: register 0xE3, 0x80 | page, 0x90 | page
    0xCA,                       // control code byte
    0,                          // the NVM is written at control code 0
    10'000'000, 1'000'000'000,  // pauses: 10 ms a page, 1 s a reset
};
// clang-format on

// The family the operations drive.
inline constexpr const Facts& kFacts = kGreenPak;

}  // namespace chip
