#include "node/descriptors.h"

#include <unistd.h>

#include <cstdlib>

namespace gpaksim {

NodeDescriptor* Descriptors::Find(int fd) {
    const auto it = open_.find(fd);
    return it == open_.end() ? nullptr : &it->second;
}

void Descriptors::Add(int fd) {
    open_[fd] = NodeDescriptor{};
    closed_.erase(fd);
    ++opens_;
}

NodeDescriptor Descriptors::Remove(int fd) {
    NodeDescriptor entry;
    const auto it = open_.find(fd);
    if (it != open_.end()) {
        entry = it->second;
        open_.erase(it);
    }
    closed_.insert(fd);
    ++closes_;
    return entry;
}

void Descriptors::Clear() {
    open_.clear();
    closed_.clear();
    opens_ = closes_ = 0;
}

std::set<int> Descriptors::OpenFds() const {
    std::set<int> fds;
    for (const auto& [fd, entry] : open_) {
        fds.insert(fd);
    }
    return fds;
}

int Descriptors::NamedFd(const std::string& path) const {
    const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
    for (const std::string& prefix :
         {std::string("/proc/self/fd/"), std::string("/dev/fd/"), own}) {
        if (path.compare(0, prefix.size(), prefix) == 0) {
            const std::string number = path.substr(prefix.size());
            char* end = nullptr;
            const long fd = std::strtol(number.c_str(), &end, 10);
            const bool ours = !number.empty() && *end == '\0' && Has(static_cast<int>(fd));
            return ours ? static_cast<int>(fd) : -1;
        }
    }
    return -1;
}

}  // namespace gpaksim
