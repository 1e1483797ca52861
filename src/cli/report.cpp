// The front end's words for the results of the bus lock and the chip
// operations.
#include "cli/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

namespace {

// What usually stands behind a node that cannot be opened, and what to do.
void PrintOpenHint(const std::string& node, int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            std::fprintf(stderr,
                         "gpakcfg: %s: not permitted: add yourself to the i2c group "
                         "(sudo usermod -aG i2c \"$USER\") and log in again; never make "
                         "gpakcfg setuid\n",
                         node.c_str());
            break;
        case ENOENT:
            std::fprintf(stderr,
                         "gpakcfg: %s: no such bus: enable I2C (sudo raspi-config nonint do_i2c "
                         "0, or dtparam=i2c_arm=on in config.txt) or choose the bus with --bus\n",
                         node.c_str());
            break;
        default:
            break;
    }
}

void ReportBus(const std::string& node, const i2c::BusLock& bus) {
    const char* cause = std::strerror(bus.ErrorNumber());
    switch (bus.Status()) {
        case i2c::BusStatus::kReady:
            break;
        case i2c::BusStatus::kCannotOpen:
            std::fprintf(stderr, "Device open error: %s\n", cause);
            PrintOpenHint(node, bus.ErrorNumber());
            break;
        case i2c::BusStatus::kNotI2c:
            std::fprintf(stderr, "gpakcfg: %s is not an I2C adapter (I2C_FUNCS: %s)\n",
                         node.c_str(), cause);
            break;
        case i2c::BusStatus::kSmbusOnly:
            std::fprintf(stderr,
                         "gpakcfg: %s makes no plain I2C transfers (it offers SMBus only), "
                         "which the chip needs\n",
                         node.c_str());
            break;
        case i2c::BusStatus::kCannotLock:
            std::fprintf(stderr, "gpakcfg: cannot lock %s: %s; nothing was sent to the chip\n",
                         node.c_str(), cause);
            break;
        case i2c::BusStatus::kBusy:
            std::fprintf(stderr, "gpakcfg: %s is still in use; nothing was sent to the chip\n",
                         node.c_str());
            break;
    }
}

}  // namespace

i2c::BusLock TakeBus(const std::string& node, std::chrono::milliseconds wait_limit) {
    const auto say_waiting = [&node, wait_limit] {
        std::fprintf(stderr, "gpakcfg: %s is in use by another gpakcfg run; waiting up to %lld s\n",
                     node.c_str(), static_cast<long long>((wait_limit.count() + 999) / 1000));
    };
    i2c::BusLock bus = i2c::BusLock::Acquire(node, wait_limit, say_waiting);
    ReportBus(node, bus);
    return bus;
}

// A blank chip reads as zeros too: say that these zeros were not read.
void ReportReadError(std::uint8_t addr, int page) {
    std::fprintf(stderr, "Read error at Addr 0x%02X, Page 0x%02X\n", addr, page);
}

bool ReportVerified(std::uint8_t addr, const ConfigImage& sent, const ConfigImage& read) {
    const ImageDifference difference = VerifyConfigData(sent, read);
    if (difference.Same()) {
        return true;
    }
    const std::size_t first = difference.first;
    std::fprintf(stderr,
                 "gpakcfg: 0x%02X: the memory differs from what was sent: %d of 256 bytes, "
                 "the first at 0x%02zX (sent 0x%02x, read 0x%02x)\n",
                 addr, difference.count, first, sent[first], read[first]);
    return false;
}

}  // namespace cli
