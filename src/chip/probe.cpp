// One-byte reads at the chip's device addresses.
#include "chip/probe.h"

namespace {

// Byte 0xCA of the NVM: the chip takes its control code from its low
// nibble at every reset.
constexpr std::uint8_t kControlCodeByte = 0xCA;
constexpr int kControlCodes = 16;

}  // namespace

ProbeResult ProbeChip(std::uint8_t code, ConfigType type, std::uint8_t reg) {
    ProbeResult probe;
    probe.addr = DeviceAddress(code, type);
    probe.transfer = i2c::RegisterRead(probe.addr, reg, &probe.value, 1);
    return probe;
}

std::vector<ChipFound> ScanChips() {
    std::vector<ChipFound> found;
    for (int code = 0; code < kControlCodes; ++code) {
        ChipFound chip;
        chip.code = static_cast<std::uint8_t>(code);
        chip.registers = ProbeChip(chip.code);
        if (!chip.registers.Answered()) {
            continue;
        }
        chip.nvm = ProbeChip(chip.code, kConfigNvm, kControlCodeByte);
        chip.eeprom = ProbeChip(chip.code, kConfigEeprom);
        found.push_back(chip);
    }
    return found;
}
