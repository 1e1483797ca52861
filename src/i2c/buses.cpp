#include "i2c/buses.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "common/unique_fd.h"

namespace i2c {

namespace {

// The N of a name "i2c-N"; -1 for another name.
long BusNumber(const std::string& name) {
    const std::size_t dash = name.rfind("i2c-");
    if (dash == std::string::npos || name.find('/', dash) != std::string::npos) {
        return -1;
    }
    const std::string digits = name.substr(dash + 4);
    if (digits.empty() || digits.size() > 6 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::stol(digits);
}

// A file's content, through open(2) and read(2): at most 4 KiB.
std::string Content(const std::string& path) {
    const common::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsOpen()) {
        return "";
    }
    std::string text(4096, '\0');
    std::size_t got = 0;
    ssize_t n = 0;
    while (got < text.size() && (n = read(fd.Get(), &text[got], text.size() - got)) > 0) {
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return text;
}

}  // namespace

std::string FirstLine(const std::string& path) {
    const std::string text = Content(path);
    return text.substr(0, text.find_first_of(std::string("\n\0", 2)));
}

std::string AdapterName(const std::string& node) {
    const long bus = BusNumber(node);
    return bus < 0 ? "" : FirstLine("/sys/class/i2c-dev/i2c-" + std::to_string(bus) + "/name");
}

std::string DriverAt(const std::string& node, std::uint8_t addr) {
    const long bus = BusNumber(node);
    if (bus < 0) {
        return "";
    }
    char path[64];
    std::snprintf(path, sizeof path, "/sys/bus/i2c/devices/%ld-%04x/uevent", bus, addr);
    const std::string uevent = "\n" + Content(path);
    const std::size_t at = uevent.find("\nDRIVER=");
    return at == std::string::npos ? "" : uevent.substr(at + 8, uevent.find('\n', at + 1) - at - 8);
}

std::vector<BusEntry> ListBuses() {
    std::vector<long> numbers;
    const std::unique_ptr<DIR, int (*)(DIR*)> dev(opendir("/dev"), closedir);
    if (dev) {
        while (const dirent* entry = readdir(dev.get())) {
            const std::string name = entry->d_name;
            const long number = name.rfind("i2c-", 0) == 0 ? BusNumber(name) : -1;
            if (number >= 0) {
                numbers.push_back(number);
            }
        }
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<BusEntry> buses;
    for (const long number : numbers) {
        BusEntry bus;
        bus.node = "/dev/i2c-" + std::to_string(number);
        bus.name = AdapterName(bus.node);
        const common::UniqueFd fd(open(bus.node.c_str(), O_RDWR | O_CLOEXEC));
        if (!fd.IsOpen() || ioctl(fd.Get(), I2C_FUNCS, &bus.funcs) != 0) {
            bus.error_number = errno;
            bus.funcs = 0;
        }
        buses.push_back(bus);
    }
    return buses;
}

}  // namespace i2c
