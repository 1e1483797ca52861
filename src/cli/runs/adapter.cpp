#include "cli/runs/adapter.h"

#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "chip/chip.h"
#include "cli/say.h"
#include "cli/status.h"
#include "i2c/buses.h"
#include "i2c/i2c.h"

namespace cli::runs {

namespace {

struct ShapeWords {
    i2c::Shape shape;
    const char* offers;  // for --list-buses
    const char* writes;  // what its writes are
};

const ShapeWords kShapes[] = {
    {i2c::Shape::kPlain, "plain I2C", "plain I2C transfers"},
    {i2c::Shape::kSmbusBlock, "SMBus I2C-block only", "SMBus I2C-block and byte-data writes"},
    {i2c::Shape::kSmbusByte, "neither", "none"},
};

const ShapeWords& WordsOf(i2c::Shape shape) {
    for (const ShapeWords& words : kShapes) {
        if (words.shape == shape) {
            return words;
        }
    }
    return kShapes[0];
}

struct Bit {
    unsigned long bit;
    const char* name;
};

const Bit kBits[] = {
    {I2C_FUNC_I2C, "I2C_FUNC_I2C"},
    {I2C_FUNC_SMBUS_WRITE_I2C_BLOCK, "I2C_FUNC_SMBUS_WRITE_I2C_BLOCK"},
    {I2C_FUNC_SMBUS_WRITE_BYTE_DATA, "I2C_FUNC_SMBUS_WRITE_BYTE_DATA"},
    {I2C_FUNC_SMBUS_READ_I2C_BLOCK, "I2C_FUNC_SMBUS_READ_I2C_BLOCK"},
    {I2C_FUNC_SMBUS_READ_BYTE_DATA, "I2C_FUNC_SMBUS_READ_BYTE_DATA"},
};

// The names of the bits in missing, joined with " and ".
std::string BitNames(unsigned long missing) {
    std::string names;
    for (const Bit& bit : kBits) {
        if ((missing & bit.bit) != 0) {
            names += (names.empty() ? "" : " and ") + std::string(bit.name);
        }
    }
    return names;
}

// " (NAME)" of node's adapter, or nothing when its name cannot be read.
std::string NameInBrackets(const std::string& node) {
    const std::string name = i2c::AdapterName(node);
    return name.empty() ? "" : " (" + name + ")";
}

bool OnRaspberryPi() {
    const char* const models[] = {"/proc/device-tree/model", "/sys/firmware/devicetree/base/model"};
    return std::any_of(std::begin(models), std::end(models), [](const char* model) {
        return i2c::FirstLine(model).rfind("Raspberry Pi", 0) == 0;
    });
}

// What to do where a bus is missing, on this machine.
const char* MissingBusAdvice(bool pi) {
    return pi ? "enable I2C (sudo raspi-config nonint do_i2c 0, or dtparam=i2c_arm=on in "
                "config.txt)"
              : "load the i2c-dev module (sudo modprobe i2c-dev)";
}

}  // namespace

std::vector<std::uint8_t> ChipAddresses(const Settings& settings, bool programs) {
    std::vector<std::uint8_t> addrs;
    for (const ConfigType type : {kConfigReg, kConfigNvm, kConfigEeprom}) {
        addrs.push_back(DeviceAddress(settings.code, type));
    }
    const std::uint8_t written = DeviceAddress(chip::kFacts.nvm_write_code, kConfigNvm);
    if (programs && settings.type == kConfigNvm && written != addrs[1]) {
        addrs.push_back(written);
    }
    return addrs;
}

bool CanProgramThrough(const std::string& node, const i2c::BusLock& bus) {
    if (i2c::OfferOf(bus.Functions()).writes) {
        return true;
    }
    std::string lacks;
    for (const i2c::Lack& lack : i2c::WriteLacks(bus.Functions())) {
        lacks += std::string(lacks.empty() ? "" : ", nor ") + WordsOf(lack.shape).writes + " (" +
                 BitNames(lack.missing) + ")";
    }
    Say("%s: the adapter%s cannot program the chip: it offers neither %s; "
        "nothing was sent to the chip",
        node.c_str(), NameInBrackets(node).c_str(), lacks.c_str());
    return false;
}

bool AddressesFree(const std::string& node, const i2c::BusLock& bus,
                   const std::vector<std::uint8_t>& addrs, bool force) {
    if (force) {
        return true;
    }
    const i2c::AddressCheck check = bus.CheckAddresses(node, addrs);
    if (check.Free()) {
        return true;
    }
    if (check.status == i2c::AddressCheck::Status::kOwned) {
        const std::string owner =
            check.driver.empty() ? "a kernel driver" : "the kernel driver " + check.driver;
        Say("%s: 0x%02X belongs to %s (I2C_SLAVE: %s); nothing was sent to "
            "the chip; unbind the driver, or give --force to send past it",
            node.c_str(), check.addr, owner.c_str(), std::strerror(check.error_number));
    } else {
        Say("%s: 0x%02X cannot be addressed (I2C_SLAVE: %s); nothing was sent "
            "to the chip",
            node.c_str(), check.addr, std::strerror(check.error_number));
    }
    return false;
}

void SayNoSuchBus(const std::string& node) {
    const bool pi = OnRaspberryPi();
    Say("%s: no such bus: %s or choose the bus with --bus%s", node.c_str(), MissingBusAdvice(pi),
        pi ? "" : " (gpakcfg --list-buses lists them)");
}

int ListBusesRun(std::FILE* out) {
    const std::vector<i2c::BusEntry> buses = i2c::ListBuses();
    if (buses.empty()) {
        Say("no I2C bus: /dev has no i2c-N; %s", MissingBusAdvice(OnRaspberryPi()));
        return kExitFailed;
    }
    std::fprintf(out, "node        offers                programs adapter\n");
    for (const i2c::BusEntry& bus : buses) {
        const i2c::Offer offer = i2c::OfferOf(bus.funcs);
        const bool asked = bus.error_number == 0;
        const char* offers = !asked         ? "-"
                             : offer.writes ? WordsOf(*offer.writes).offers
                                            : "neither";
        std::fprintf(out, "%-11s %-21s %-8s %s\n", bus.node.c_str(), offers,
                     !asked         ? "-"
                     : offer.writes ? "yes"
                                    : "no",
                     bus.name.empty() ? "-" : bus.name.c_str());
        if (!asked) {
            Say("%s: cannot be asked what it offers: %s", bus.node.c_str(),
                std::strerror(bus.error_number));
        }
    }
    std::fprintf(out, "\n");
    return kExitOk;
}

}  // namespace cli::runs
