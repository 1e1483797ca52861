#include "model/chip_model.h"

#include <algorithm>

namespace gpaksim {

namespace {

constexpr std::uint8_t kControlCodeRegister = 0xCA;
constexpr std::uint8_t kResetRegister = 0xC8;
constexpr std::uint8_t kResetValue = 0x02;
constexpr std::uint8_t kEraseRegister = 0xE3;
constexpr std::size_t kPageBytes = 16;

// Made-up configuration of the simulated chip's NVM; byte 0xCA sets
// control code 1.
constexpr Memory kDefaultNvm = {
    0x55, 0x10, 0xBA, 0xA2, 0x3C, 0xE5, 0x77, 0x87, 0xE0, 0xC8, 0xBD, 0x22, 0x1D, 0x69, 0xF4, 0x41,
    0xA8, 0x2E, 0x23, 0xE4, 0xA2, 0x4F, 0x1C, 0x59, 0x0E, 0x58, 0xAD, 0x6E, 0x4E, 0x60, 0x2C, 0x57,
    0x0F, 0xD2, 0x82, 0x7E, 0x03, 0x8A, 0xA5, 0xD1, 0xA7, 0x98, 0xF9, 0x4A, 0xC0, 0x8E, 0x1E, 0x09,
    0xA0, 0x82, 0x68, 0x26, 0x55, 0xD3, 0x8A, 0x41, 0xD6, 0x72, 0x5C, 0xF6, 0xB0, 0xB9, 0x4A, 0xD2,
    0xEA, 0xE9, 0xFD, 0x94, 0x07, 0x49, 0x45, 0x47, 0x71, 0x2F, 0x00, 0x3F, 0xC4, 0xA7, 0x1E, 0xF6,
    0xBD, 0x0B, 0x75, 0x27, 0x91, 0xA3, 0x3C, 0xDF, 0x50, 0x3A, 0x5D, 0x48, 0xB6, 0xCF, 0x05, 0xED,
    0x48, 0x66, 0xA8, 0x25, 0x51, 0x9C, 0x15, 0xED, 0xE0, 0x8A, 0x78, 0x54, 0xF7, 0x3A, 0x6C, 0x56,
    0x38, 0x97, 0x2C, 0x14, 0x64, 0x09, 0xB1, 0xB5, 0x34, 0x7B, 0x48, 0xBE, 0xE2, 0x09, 0x56, 0x8E,
    0xAD, 0xBA, 0xDA, 0x62, 0x5F, 0xA0, 0xE3, 0xFD, 0xF9, 0x0F, 0x08, 0x64, 0x49, 0xE0, 0x74, 0xA6,
    0x55, 0x8D, 0x02, 0xEF, 0x9E, 0xCC, 0xE9, 0x7B, 0xDF, 0xC2, 0xF1, 0x7E, 0x57, 0x97, 0x55, 0x2E,
    0x5C, 0x2E, 0xA4, 0x4E, 0x5C, 0x64, 0x58, 0x53, 0x7E, 0xB5, 0xDB, 0xB4, 0x12, 0xCE, 0x40, 0x85,
    0x5D, 0x8C, 0x9D, 0x25, 0xA6, 0x33, 0x4C, 0x49, 0x05, 0xDE, 0xED, 0x17, 0x0C, 0x6B, 0x94, 0xAB,
    0x1A, 0x9F, 0x5C, 0xA3, 0xC8, 0xC0, 0x2C, 0x88, 0x00, 0xC8, 0xC1, 0x78, 0x35, 0x4E, 0xE6, 0x12,
    0x1F, 0x7C, 0x16, 0x12, 0xD4, 0xBF, 0xE0, 0x16, 0x68, 0x41, 0x3E, 0x0A, 0x51, 0xF2, 0x53, 0x48,
    0x36, 0x27, 0x6A, 0x00, 0x61, 0xFA, 0x97, 0xA9, 0xCD, 0x2E, 0xD2, 0x3D, 0xD2, 0xBA, 0xCD, 0x20,
    0xA5, 0x80, 0x5D, 0x0F, 0x7E, 0xDA, 0x53, 0x37, 0x00, 0xE0, 0xA9, 0xE4, 0x03, 0x16, 0xD9, 0x8E,
};

std::uint8_t ControlCode(const ChipState& chip) {
    return chip.registers[kControlCodeRegister] & 0x0F;
}

}  // namespace

ChipState DefaultChip() {
    ChipState chip;
    chip.nvm = kDefaultNvm;
    chip.registers = kDefaultNvm;
    return chip;
}

void SetControlCode(ChipState& chip, std::uint8_t code) {
    for (Memory* memory : {&chip.registers, &chip.nvm}) {
        auto& byte = (*memory)[kControlCodeRegister];
        byte = static_cast<std::uint8_t>((byte & 0xF0) | (code & 0x0F));
    }
}

Memory& ChipModel::MemoryOf(Block block) {
    switch (block) {
        case kNvm:
            return state_.nvm;
        case kEeprom:
            return state_.eeprom;
        default:
            return state_.registers;
    }
}

bool ChipModel::Answers(std::uint16_t addr, bool read, const std::vector<std::uint8_t>& bytes,
                        std::int64_t now) const {
    if (knobs_.absent || now < state_.busy_until_ns || addr > 0x7F) {
        return false;
    }
    const unsigned block = addr & 0x07;
    if ((addr >> 3) != ControlCode(state_) ||
        (block != kRegisters && block != kNvm && block != kEeprom)) {
        return false;
    }
    return std::none_of(knobs_.nacks.begin(), knobs_.nacks.end(), [&](const Nack& nack) {
        return nack.addr == addr &&
               (nack.reg < 0 || (!read && !bytes.empty() && bytes[0] == nack.reg));
    });
}

bool ChipModel::Message(std::uint16_t addr, bool read, std::vector<std::uint8_t>& bytes,
                        std::size_t len, std::int64_t now) {
    if (!Answers(addr, read, bytes, now)) {
        return false;
    }
    const auto block = static_cast<Block>(addr & 0x07);
    if (read) {
        auto& pointer = state_.pointers[block];
        const Memory& memory = MemoryOf(block);
        bytes.resize(len);
        for (auto& byte : bytes) {
            byte = memory[pointer++];  // the pointer wraps within the 256 bytes
        }
        return true;
    }
    if (bytes.empty()) {
        return true;  // an address-only write: the chip just acknowledges
    }
    return Write(block, bytes, now);
}

bool ChipModel::Write(Block block, const std::vector<std::uint8_t>& bytes, std::int64_t now) {
    auto& pointer = state_.pointers[block];
    pointer = bytes[0];
    if (block == kRegisters && bytes.size() == 2 && Command(bytes[0], bytes[1], now)) {
        return !knobs_.unacked_commands;
    }
    if (block == kRegisters) {
        for (std::size_t i = 1; i < bytes.size(); ++i) {
            state_.registers[pointer++] = bytes[i];
        }
        return true;
    }
    WritePage(MemoryOf(block), bytes, now);
    return true;
}

// The erase and reset commands; false when the write is none of them.
bool ChipModel::Command(std::uint8_t reg, std::uint8_t value, std::int64_t now) {
    if (reg == kEraseRegister && (value & 0xE0) == 0x80) {
        Memory& memory = (value & 0x10) != 0 ? state_.eeprom : state_.nvm;
        const std::size_t start = static_cast<std::size_t>(value & 0x0F) << 4;
        std::fill(memory.begin() + static_cast<std::ptrdiff_t>(start),
                  memory.begin() + static_cast<std::ptrdiff_t>(start + kPageBytes), 0x00);
        state_.busy_until_ns = now + kPageBusyNs;
        return true;
    }
    if (reg == kResetRegister && value == kResetValue) {
        state_.registers = state_.nvm;  // which also brings the control code from NVM
        state_.busy_until_ns = now + kResetBusyNs;
        state_.pointers = {};
        return true;
    }
    return false;
}

// The NVM and the EEPROM take whole pages only: a write of anything but
// exactly 16 bytes at a page boundary is acknowledged and disregarded.
void ChipModel::WritePage(Memory& memory, const std::vector<std::uint8_t>& bytes,
                          std::int64_t now) {
    const std::uint8_t start = bytes[0];
    if (bytes.size() != 1 + kPageBytes || start % kPageBytes != 0) {
        return;
    }
    for (std::size_t i = 0; i < kPageBytes; ++i) {
        // Flash cells only gain bits until they are erased.
        memory[start + i] = static_cast<std::uint8_t>(memory[start + i] | bytes[1 + i]);
    }
    state_.pointers[&memory == &state_.nvm ? kNvm : kEeprom] =
        static_cast<std::uint8_t>(start + kPageBytes);
    state_.busy_until_ns = now + kPageBusyNs;
}

}  // namespace gpaksim
