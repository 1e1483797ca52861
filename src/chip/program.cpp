// Erase, write and reset: the commands, the pages and the chip's pauses.
#include <sys/prctl.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "chip/chip.h"
#include "i2c/i2c.h"

namespace {

using chip::kFacts;

// The chip's pauses are taken in full: a signal whose handler runs
// meanwhile does not cut them short.
void Pause(long ns) {
    // Woken as close to the end as the kernel can: the chip needs no slack.
    static const bool tight = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)tight;
    timespec left{ns / 1'000'000'000, ns % 1'000'000'000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// An erase that stopped at a command that could not be sent: nothing after
// it is sent, since a reset would load a half-erased memory and pages
// written now would land on pages not erased.
PagesResult Stopped(PagesResult result, int page, const i2c::TransferResult& transfer) {
    result.failed_page = page;
    result.transfer = transfer;
    return result;
}

}  // namespace

void ApplyControlCode(std::uint8_t code, ConfigType type, ConfigImage& image) {
    if (type == kConfigReg || type == kConfigNvm) {
        // The chip takes its control code from this byte at its next reset.
        std::uint8_t& byte = image[kFacts.control_code_byte];
        byte = static_cast<std::uint8_t>((byte & ~kFacts.code_mask) | (code & kFacts.code_mask));
    }
}

i2c::TransferResult PowerCycle(std::uint8_t addr) {
    // The register block of the control code in addr (bit 7 cleared).
    const auto code = static_cast<std::uint8_t>((addr >> kFacts.code_shift) & kFacts.code_mask);
    // The chip may not acknowledge the reset while carrying it out, so the
    // pause is taken whatever the result says.
    const i2c::TransferResult result = i2c::RegisterWrite(
        DeviceAddress(code, kConfigReg), kFacts.reset_register, &kFacts.reset_value, 1);
    Pause(kFacts.reset_pause_ns);
    return result;
}

PagesResult EraseConfigData(std::uint8_t code, ConfigType type) {
    PagesResult result;
    result.addr = DeviceAddress(code, kConfigReg);
    for (int page = 0; page < kPageCount; ++page) {
        std::printf("Page 0x%02X : ", page);
        const auto value = static_cast<std::uint8_t>(
            (type == kConfigNvm ? kFacts.erase_nvm : kFacts.erase_eeprom) | page);
        const auto sent = i2c::RegisterWrite(result.addr, kFacts.erase_register, &value, 1);
        if (!sent.Sent()) {
            std::printf("not sent\n");
            return Stopped(result, page, sent);
        }
        // Not examined for the same reason as the reset: the chip may NACK
        // while it erases.
        if (!sent.Ok() && result.Ok()) {
            result.failed_page = page;
            result.transfer = sent;
        }
        std::printf("complete\n");
        Pause(kFacts.page_pause_ns);
    }
    const i2c::TransferResult reset = PowerCycle(result.addr);
    return reset.Sent() ? result : Stopped(result, kPageCount, reset);
}

PagesResult WriteConfigData(std::uint8_t code, ConfigType type, ConfigImage& image) {
    PagesResult result;
    result.addr = type == kConfigReg   ? DeviceAddress(code, kConfigReg)
                  : type == kConfigNvm ? DeviceAddress(kFacts.nvm_write_code, kConfigNvm)
                                       : DeviceAddress(code, kConfigEeprom);
    ApplyControlCode(code, type, image);
    std::printf("Addr 0x%02X\n", result.addr);
    for (int page = 0; page < kPageCount; ++page) {
        std::printf("Page 0x%02X : ", page);
        const auto reg = static_cast<std::uint8_t>(PageOffset(page));
        result.transfer = i2c::RegisterWrite(result.addr, reg, &image[PageOffset(page)], kPageSize);
        if (!result.transfer.Ok()) {
            std::printf("error & stoped\n");
            result.failed_page = page;
            break;
        }
        std::printf("complete\n");
        Pause(kFacts.page_pause_ns);
    }
    if (type != kConfigReg) {
        PowerCycle(result.addr);
    }
    return result;
}
