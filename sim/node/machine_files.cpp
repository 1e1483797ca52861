#include "node/machine_files.h"

#include <algorithm>
#include <cstdio>

namespace gpaksim {

namespace {

// Whether /dev/i2c-BUS is one of nodes.
bool SimulatedBus(const std::vector<std::string>& nodes, const std::string& bus) {
    return std::find(nodes.begin(), nodes.end(), "/dev/i2c-" + bus) != nodes.end();
}

constexpr char kAdapters[] = "/sys/class/i2c-dev/i2c-";
constexpr char kDevices[] = "/sys/bus/i2c/devices/";

}  // namespace

bool MayBeMachineFile(const std::string& path) {
    return path == "/proc/device-tree/model" || path == "/sys/firmware/devicetree/base/model" ||
           path.rfind(kAdapters, 0) == 0 || path.rfind(kDevices, 0) == 0;
}

bool MachineFile(const Options& options, const std::vector<std::string>& nodes,
                 const std::string& path, std::string& content, bool& missing) {
    missing = false;
    if (path == "/proc/device-tree/model" || path == "/sys/firmware/devicetree/base/model") {
        missing = options.adapter != &Adapters().front();
        content = std::string("Raspberry Pi 4 Model B Rev 1.4") + '\0';
        return true;
    }
    const std::string adapters = kAdapters;
    if (path.rfind(adapters, 0) == 0 && path.size() > adapters.size() + 5 &&
        path.compare(path.size() - 5, 5, "/name") == 0) {
        if (!SimulatedBus(nodes, path.substr(adapters.size(), path.size() - adapters.size() - 5))) {
            return false;
        }
        content = std::string(options.adapter->title) + "\n";
        return true;
    }
    const std::string devices = kDevices;
    const std::size_t dash = path.find('-', devices.size());
    if (path.rfind(devices, 0) != 0 || dash == std::string::npos ||
        !SimulatedBus(nodes, path.substr(devices.size(), dash - devices.size()))) {
        return false;
    }
    for (const std::uint8_t addr : options.bound) {
        char uevent[16];
        std::snprintf(uevent, sizeof uevent, "-%04x/uevent", addr);
        if (path.substr(dash) == uevent) {
            content = "DRIVER=dummy\nMODALIAS=i2c:dummy\n";
            return true;
        }
    }
    return false;
}

}  // namespace gpaksim
