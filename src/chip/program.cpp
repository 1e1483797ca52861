#include <unistd.h>

#include <cstdio>

#include "chip/chip.h"
#include "i2c/i2c.h"

namespace {

constexpr std::uint8_t kResetRegister = 0xC8;
constexpr std::uint8_t kResetValue = 0x02;
constexpr std::uint8_t kEraseRegister = 0xE3;
constexpr std::uint8_t kEraseNvm = 0x80;
constexpr std::uint8_t kEraseEeprom = 0x90;
constexpr std::size_t kControlCodeByte = 0xCA;
// The NVM is written through its block at control code 0: once erased and
// reset, the chip answers there until byte 0xCA brings its own code back.
constexpr std::uint8_t kNvmWriteAddress = 0x02;

constexpr useconds_t kPagePauseUs = 10000;
constexpr unsigned kResetPauseS = 1;

}  // namespace

void PowerCycle(std::uint8_t addr) {
    const auto target = static_cast<std::uint8_t>(addr & 0x78);
    // The chip may not acknowledge the reset while carrying it out, so the
    // result tells nothing; the pause is what matters.
    (void)WriteI2C(target, kResetRegister, &kResetValue, 1);
    sleep(kResetPauseS);
}

void EraseConfigData(std::uint8_t code, ConfigType type) {
    const std::uint8_t target = DeviceAddress(code, kConfigReg);
    for (int page = 0; page < kPageCount; ++page) {
        std::printf("Page 0x%02X : ", page);
        const auto value =
            static_cast<std::uint8_t>((type == kConfigNvm ? kEraseNvm : kEraseEeprom) | page);
        // Unexamined for the same reason as the reset: the chip may NACK
        // while it erases.
        (void)WriteI2C(target, kEraseRegister, &value, 1);
        std::printf("complete\n");
        usleep(kPagePauseUs);
    }
    PowerCycle(target);
}

bool WriteConfigData(std::uint8_t code, ConfigType type, ConfigImage& image) {
    std::uint8_t addr = 0;
    if (type == kConfigReg || type == kConfigNvm) {
        addr = type == kConfigReg ? DeviceAddress(code, kConfigReg) : kNvmWriteAddress;
        // The chip takes its control code from this byte at its next reset.
        image[kControlCodeByte] =
            static_cast<std::uint8_t>((image[kControlCodeByte] & 0xF0) | (code & 0x0F));
    } else {
        addr = DeviceAddress(code, kConfigEeprom);
    }
    std::printf("Addr 0x%02X\n", addr);
    bool written = true;
    for (int page = 0; page < kPageCount; ++page) {
        std::printf("Page 0x%02X : ", page);
        const auto reg = static_cast<std::uint8_t>(page << 4);
        if (WriteI2C(addr, reg, &image[PageOffset(page)], kPageSize) < 0) {
            std::printf("error & stoped\n");
            written = false;
            break;
        }
        std::printf("complete\n");
        usleep(kPagePauseUs);
    }
    if (type != kConfigReg) {
        PowerCycle(addr);
    }
    return written;
}
