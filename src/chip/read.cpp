#include <cstdio>

#include "chip/chip.h"
#include "i2c/i2c.h"

// A blank chip reads as zeros too: say that these zeros were not read.
void ReportReadError(std::uint8_t addr, int page) {
    std::fprintf(stderr, "Read error at Addr 0x%02X, Page 0x%02X\n", addr, page);
}

bool ReadConfigData(std::uint8_t code, ConfigType type, ConfigImage& image) {
    const std::uint8_t addr = DeviceAddress(code, type);
    for (int page = 0; page < kPageCount; ++page) {
        const auto reg = static_cast<std::uint8_t>(page << 4);
        if (ReadI2C(addr, reg, &image[PageOffset(page)], kPageSize) == 0) {
            ReportReadError(addr, page);
            return false;
        }
    }
    return true;
}
