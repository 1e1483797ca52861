// The read-back: the 16 pages of a memory, in order.
#include "chip/chip.h"

PagesResult ReadConfigData(std::uint8_t code, ConfigType type, ConfigImage& image) {
    PagesResult result;
    result.addr = DeviceAddress(code, type);
    for (int page = 0; page < kPageCount; ++page) {
        const auto reg = static_cast<std::uint8_t>(PageOffset(page));
        result.transfer = i2c::RegisterRead(result.addr, reg, &image[PageOffset(page)], kPageSize);
        if (!result.transfer.Ok()) {
            result.failed_page = page;
            break;
        }
    }
    return result;
}
