// The program's descriptors of the simulated node, with what i2c-dev keeps
// per open file: the device address set with I2C_SLAVE and the client
// flags. Also the descriptors closed since, to report their use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "bus/shared_chip.h"

namespace gpaksim {

struct NodeDescriptor {
    std::size_t bus = 0;     // which of the run's nodes it was opened as
    std::uint16_t addr = 0;  // I2C_SLAVE, I2C_SLAVE_FORCE; 0 until set, as i2c-dev
    bool pec = false;        // I2C_PEC: SMBus transfers carry a packet error code
    NodeLock lock;
};

class Descriptors {
public:
    NodeDescriptor* Find(int fd);
    [[nodiscard]] bool Has(int fd) const { return open_.count(fd) != 0; }
    void Add(int fd);
    // The entry of fd, which is then closed; its lock is the caller's to close.
    NodeDescriptor Remove(int fd);
    [[nodiscard]] bool WasClosed(int fd) const { return closed_.count(fd) != 0; }
    void Forget(int fd) { closed_.erase(fd); }  // fd now names something else
    void Clear();

    [[nodiscard]] int OpenNow() const { return static_cast<int>(open_.size()); }
    [[nodiscard]] int Opens() const { return opens_; }
    [[nodiscard]] int Closes() const { return closes_; }
    [[nodiscard]] std::set<int> OpenFds() const;

    // The descriptor of ours that path names, as /proc does
    // (/proc/self/fd/N, /dev/fd/N, /proc/PID/fd/N), which reopens its
    // node; -1 when it names none.
    [[nodiscard]] int NamedFd(const std::string& path) const;

private:
    std::map<int, NodeDescriptor> open_;
    std::set<int> closed_;
    int opens_ = 0;
    int closes_ = 0;
};

}  // namespace gpaksim
