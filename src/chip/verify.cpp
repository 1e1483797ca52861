#include <cstdio>

#include "chip/chip.h"

bool VerifyConfigData(std::uint8_t code, ConfigType type, const ConfigImage& sent,
                      const ConfigImage& read) {
    int differing = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (sent[i] != read[i]) {
            first = differing == 0 ? i : first;
            ++differing;
        }
    }
    if (differing == 0) {
        return true;
    }
    std::fprintf(stderr,
                 "gpakcfg: 0x%02X: the memory differs from what was sent: %d of 256 bytes, "
                 "the first at 0x%02zX (sent 0x%02x, read 0x%02x)\n",
                 DeviceAddress(code, type), differing, first, sent[first], read[first]);
    return false;
}
