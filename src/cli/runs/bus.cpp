#include "cli/runs/bus.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/runs/adapter.h"
#include "cli/say.h"
#include "cli/texts.h"

namespace cli::runs {

namespace {

// What usually stands behind a node that cannot be opened, and what to do.
void PrintOpenHint(const std::string& node, int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            Say("%s: not permitted: add yourself to the i2c group (sudo usermod -aG i2c "
                "\"$USER\") and log in again; never make gpakcfg setuid",
                node.c_str());
            break;
        case ENOENT:
            SayNoSuchBus(node);
            break;
        default:
            Say("%s: cannot be opened; nothing was sent to the chip", node.c_str());
            break;
    }
}

void ReportBus(const std::string& node, const i2c::BusLock& bus) {
    const char* name = node.c_str();
    switch (bus.Status()) {
        case i2c::BusStatus::kReady:
            break;
        case i2c::BusStatus::kCannotOpen:
            texts::SayText(texts::kDeviceOpenError, std::strerror(bus.ErrorNumber()));
            PrintOpenHint(node, bus.ErrorNumber());
            break;
        case i2c::BusStatus::kNotI2c:
            Say("%s is not an I2C adapter (I2C_FUNCS: %s)", name, std::strerror(bus.ErrorNumber()));
            break;
        case i2c::BusStatus::kNoShape:
            Say("%s offers neither plain I2C transfers (I2C_FUNC_I2C) nor SMBus byte-data reads "
                "(I2C_FUNC_SMBUS_READ_BYTE_DATA); nothing was sent to the chip",
                name);
            break;
        case i2c::BusStatus::kCannotLock:
            Say("cannot lock %s: %s; nothing was sent to the chip", name,
                std::strerror(bus.ErrorNumber()));
            break;
        case i2c::BusStatus::kBusy:
            Say("%s is still in use; nothing was sent to the chip", name);
            break;
    }
}

}  // namespace

i2c::BusLock TakeBus(const std::string& node, std::chrono::milliseconds wait_limit) {
    const auto say_waiting = [&node, wait_limit] {
        SayNotice(node + " is in use by another gpakcfg run; waiting up to " +
                  std::to_string((wait_limit.count() + 999) / 1000) + " s");
    };
    i2c::BusLock bus = i2c::BusLock::Acquire(node, wait_limit, say_waiting);
    ReportBus(node, bus);
    return bus;
}

}  // namespace cli::runs
