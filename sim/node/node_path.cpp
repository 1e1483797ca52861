#include "node/node_path.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <vector>

namespace gpaksim {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's ELOOP limit

std::string ReadLink(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n <= 0 ? std::string() : std::string(target, static_cast<std::size_t>(n));
}

std::string Directory(int dirfd) {
    if (dirfd == AT_FDCWD) {
        char cwd[PATH_MAX];
        return getcwd(cwd, sizeof cwd) != nullptr ? cwd : "";
    }
    return ReadLink("/proc/self/fd/" + std::to_string(dirfd));
}

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start) {
            parts.push_back(path.substr(start, slash - start));
        }
        start = slash + 1;
    }
    return parts;
}

}  // namespace

std::string ResolvePath(int dirfd, const std::string& path) {
    if (path.empty()) {
        return "";
    }
    std::string base = path[0] == '/' ? "/" : Directory(dirfd);
    if (base.empty() || base[0] != '/') {
        return "";
    }
    // Components still to walk, last first.
    std::vector<std::string> pending = Components(path);
    std::vector<std::string> todo(pending.rbegin(), pending.rend());
    std::vector<std::string> done = Components(base);
    int links = 0;
    while (!todo.empty()) {
        const std::string part = todo.back();
        todo.pop_back();
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            if (!done.empty()) {
                done.pop_back();
            }
            continue;
        }
        std::string here;
        for (const std::string& d : done) {
            here += "/" + d;
        }
        here += "/" + part;
        const std::string target = ReadLink(here);
        if (target.empty()) {
            done.push_back(part);  // not a link, or not there
            continue;
        }
        if (++links > kMaxLinks) {
            return "";
        }
        if (target[0] == '/') {
            done.clear();
        }
        const std::vector<std::string> inner = Components(target);
        todo.insert(todo.end(), inner.rbegin(), inner.rend());
    }
    std::string resolved;
    for (const std::string& d : done) {
        resolved += "/" + d;
    }
    return resolved.empty() ? "/" : resolved;
}

Options WithNodesResolved(const Options& options) {
    Options resolved = options;
    const std::string node = ResolvePath(AT_FDCWD, options.node_path);
    resolved.node_path = node.empty() ? options.node_path : node;
    for (ChipPlacement& chip : resolved.chips) {
        const std::string bus = chip.bus.empty() ? std::string() : ResolvePath(AT_FDCWD, chip.bus);
        chip.bus = bus.empty() ? chip.bus : bus;
    }
    return resolved;
}

}  // namespace gpaksim
