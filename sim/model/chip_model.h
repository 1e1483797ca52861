// The simulated chip: three 256-byte memories behind device addresses
// (code << 3) | block, with the chip's commands and busy windows.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace gpaksim {

using Memory = std::array<std::uint8_t, 256>;

enum Block : std::uint8_t { kRegisters = 0, kNvm = 2, kEeprom = 3 };

constexpr std::int64_t kPageBusyNs = 10'000'000;  // after a page erase or page write
constexpr std::int64_t kResetBusyNs = 1'000'000'000;

// A NACK knob: every transfer to addr, or (reg >= 0) only the writes whose
// register byte is reg.
struct Nack {
    std::uint8_t addr = 0;
    int reg = -1;
};

struct ChipState {
    Memory registers{};
    Memory nvm{};
    Memory eeprom{};
    std::int64_t busy_until_ns = 0;  // the chip NACKs everything before this
    // The register pointer of each block (0, 2, 3), where the next read
    // starts; 1 is unused.
    std::array<std::uint8_t, 4> pointers{};
    // The node of the bus the chip was put on by --chip; empty for the chip
    // of a one-chip state, which is on the bus of --bus.
    std::string bus;
};

// The state of a chip fresh from the factory in our simulation: a made-up
// configuration in the NVM (control code 1), the registers loaded from it,
// a blank EEPROM.
ChipState DefaultChip();

// Sets the control code of the chip, live and after the next reset.
void SetControlCode(ChipState& chip, std::uint8_t code);

struct ChipKnobs {
    std::vector<Nack> nacks;
    bool unacked_commands = false;  // erase and reset carried out but NACKed
    bool absent = false;            // nothing answers at all
};

// Carries out one I2C message on state at time now. For a write, bytes
// holds the bytes sent; for a read, bytes is filled with len bytes.
// Returns false when the message is not acknowledged (nothing else happens
// then, except for commands left unacknowledged on purpose).
class ChipModel {
public:
    ChipModel(ChipState& state, const ChipKnobs& knobs) : state_(state), knobs_(knobs) {}
    bool Message(std::uint16_t addr, bool read, std::vector<std::uint8_t>& bytes, std::size_t len,
                 std::int64_t now);

private:
    [[nodiscard]] bool Answers(std::uint16_t addr, bool read,
                               const std::vector<std::uint8_t>& bytes, std::int64_t now) const;
    bool Write(Block block, const std::vector<std::uint8_t>& bytes, std::int64_t now);
    bool Command(std::uint8_t reg, std::uint8_t value, std::int64_t now);
    void WritePage(Memory& memory, const std::vector<std::uint8_t>& bytes, std::int64_t now);
    Memory& MemoryOf(Block block);

    ChipState& state_;
    const ChipKnobs& knobs_;
};

}  // namespace gpaksim
