// Erase, write and reset: the commands, the pages and the chip's pauses.
#include <sys/prctl.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

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

constexpr long kPagePauseNs = 10'000'000;
constexpr long kResetPauseNs = 1'000'000'000;

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
        image[kControlCodeByte] =
            static_cast<std::uint8_t>((image[kControlCodeByte] & 0xF0) | (code & 0x0F));
    }
}

i2c::TransferResult PowerCycle(std::uint8_t addr) {
    const auto target = static_cast<std::uint8_t>(addr & 0x78);
    // The chip may not acknowledge the reset while carrying it out, so the
    // pause is taken whatever the result says.
    const i2c::TransferResult result = i2c::RegisterWrite(target, kResetRegister, &kResetValue, 1);
    Pause(kResetPauseNs);
    return result;
}

PagesResult EraseConfigData(std::uint8_t code, ConfigType type) {
    PagesResult result;
    result.addr = DeviceAddress(code, kConfigReg);
    for (int page = 0; page < kPageCount; ++page) {
        std::printf("Page 0x%02X : ", page);
        const auto value =
            static_cast<std::uint8_t>((type == kConfigNvm ? kEraseNvm : kEraseEeprom) | page);
        const i2c::TransferResult sent = i2c::RegisterWrite(result.addr, kEraseRegister, &value, 1);
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
        Pause(kPagePauseNs);
    }
    const i2c::TransferResult reset = PowerCycle(result.addr);
    return reset.Sent() ? result : Stopped(result, kPageCount, reset);
}

PagesResult WriteConfigData(std::uint8_t code, ConfigType type, ConfigImage& image) {
    PagesResult result;
    result.addr = type == kConfigReg   ? DeviceAddress(code, kConfigReg)
                  : type == kConfigNvm ? kNvmWriteAddress
                                       : DeviceAddress(code, kConfigEeprom);
    ApplyControlCode(code, type, image);
    std::printf("Addr 0x%02X\n", result.addr);
    for (int page = 0; page < kPageCount; ++page) {
        std::printf("Page 0x%02X : ", page);
        const auto reg = static_cast<std::uint8_t>(page << 4);
        result.transfer = i2c::RegisterWrite(result.addr, reg, &image[PageOffset(page)], kPageSize);
        if (!result.transfer.Ok()) {
            std::printf("error & stoped\n");
            result.failed_page = page;
            break;
        }
        std::printf("complete\n");
        Pause(kPagePauseNs);
    }
    if (type != kConfigReg) {
        PowerCycle(result.addr);
    }
    return result;
}
