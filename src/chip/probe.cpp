// One-byte reads at the chip's device addresses.
#include "chip/probe.h"

ProbeResult ProbeChip(std::uint8_t code, ConfigType type, std::uint8_t reg) {
    ProbeResult probe;
    probe.addr = DeviceAddress(code, type);
    probe.transfer = i2c::RegisterRead(probe.addr, reg, &probe.value, 1);
    return probe;
}

std::vector<ChipFound> ScanChips() {
    std::vector<ChipFound> found;
    for (int code = 0; code <= chip::kFacts.code_mask; ++code) {
        ChipFound chip;
        chip.code = static_cast<std::uint8_t>(code);
        chip.registers = ProbeChip(chip.code);
        if (!chip.registers.Answered()) {
            continue;
        }
        chip.nvm = ProbeChip(chip.code, kConfigNvm, chip::kFacts.control_code_byte);
        chip.eeprom = ProbeChip(chip.code, kConfigEeprom);
        found.push_back(chip);
    }
    return found;
}
