#include "launcher/sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "launcher/fresh_dev.h"
#include "launcher/mounts.h"

namespace gpaksim::launcher {

namespace {

constexpr unsigned kI2cMajor = 89;
constexpr int kMaxDepth = 4;

// The sysfs directories through which root could add devices to a real
// bus, or bind drivers to them.
constexpr const char* kAdapterDirs[] = {"/sys/bus/i2c", "/sys/class/i2c-adapter",
                                        "/sys/class/i2c-dev"};

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// /dev and its directories, without following links.
std::vector<std::string> Scan() {
    std::vector<std::string> nodes;
    std::vector<std::pair<std::string, int>> dirs = {{"/dev", 0}};
    while (!dirs.empty()) {
        const auto [dir, depth] = dirs.back();
        dirs.pop_back();
        DIR* d = opendir(dir.c_str());
        while (const dirent* entry = d != nullptr ? readdir(d) : nullptr) {
            const std::string name = entry->d_name;
            std::string path = dir;
            path += '/';
            path += name;
            struct stat st {};
            if (name == "." || name == ".." || lstat(path.c_str(), &st) != 0) {
                continue;
            }
            const bool named = dir == "/dev" && (StartsWith(name, "i2c-") || name == "i2c");
            if (named || (S_ISCHR(st.st_mode) && major(st.st_rdev) == kI2cMajor)) {
                nodes.push_back(path);
            } else if (S_ISDIR(st.st_mode) && depth < kMaxDepth) {
                dirs.emplace_back(path, depth + 1);
            }
        }
        if (d != nullptr) {
            closedir(d);
        }
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

bool WriteFile(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int error = errno;
    close(fd);
    errno = error;
    return ok;
}

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

// A user namespace of this process alone, in which it keeps its user and
// group IDs, with a mount namespace of its own.
bool EnterNamespaces(std::string& error) {
    const std::string uid = std::to_string(geteuid());
    const std::string gid = std::to_string(getegid());
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        error = Failure("cannot make a user and mount namespace");
        return false;
    }
    if ((!WriteFile("/proc/self/setgroups", "deny") && errno != ENOENT) ||
        !WriteFile("/proc/self/uid_map", uid + " " + uid + " 1\n") ||
        !WriteFile("/proc/self/gid_map", gid + " " + gid + " 1\n")) {
        error = Failure("cannot map the user and group IDs");
        return false;
    }
    return true;
}

// A descriptor that the command would inherit, through which it could
// reach around the private mounts: a directory (paths from it lead through
// the machine's own mounts, none of them nodev), or a device node other
// than those of the fresh /dev (which it could open again through
// /proc/self/fd). Empty when there is none.
std::string InheritedRoute() {
    std::string route;
    DIR* fds = opendir("/proc/self/fd");
    while (const dirent* entry = fds != nullptr && route.empty() ? readdir(fds) : nullptr) {
        const int fd = static_cast<int>(std::strtol(entry->d_name, nullptr, 10));
        const int flags = entry->d_name[0] == '.' ? -1 : fcntl(fd, F_GETFD);
        struct stat st {};
        if (flags < 0 || (flags & FD_CLOEXEC) != 0 || fstat(fd, &st) != 0) {
            continue;  // not inherited: the launcher's own, and the listing's
        }
        const bool device = S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode);
        const std::string name = "descriptor " + std::to_string(fd);
        if (S_ISDIR(st.st_mode)) {
            route = name + " is a directory, through which the command could open real nodes";
        } else if (device && !IsAllowedDevice(st.st_rdev) && isatty(fd) == 0) {
            route = name + " is a device node, which the command could open again";
        }
        if (!route.empty()) {
            route += "; close it (" + std::to_string(fd) + "<&-)";
        }
    }
    if (fds != nullptr) {
        closedir(fds);
    }
    return route;
}

// Each adapter's own directory (under /sys/devices, where its new_device
// file is), found before the directories that lead to it are covered,
// then those.
std::vector<std::string> AdapterDirs() {
    std::vector<std::string> dirs;
    if (DIR* d = opendir("/sys/bus/i2c/devices")) {
        while (const dirent* entry = readdir(d)) {
            char real[PATH_MAX];
            const std::string path = std::string("/sys/bus/i2c/devices/") + entry->d_name;
            if (StartsWith(entry->d_name, "i2c-") && realpath(path.c_str(), real) != nullptr) {
                dirs.emplace_back(real);
            }
        }
        closedir(d);
    }
    for (const char* dir : kAdapterDirs) {
        struct stat st {};
        if (stat(dir, &st) == 0) {
            dirs.emplace_back(dir);
        }
    }
    return dirs;
}

// Covers the adapters' directories with empty ones.
bool HideAdapters(std::string& error) {
    for (const std::string& dir : AdapterDirs()) {
        if (mount("none", dir.c_str(), "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC,
                  "mode=0555") != 0) {
            error = Failure("cannot hide " + dir);
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> RealNodes() { return Scan(); }

Isolation Isolate(const std::vector<std::string>& real_nodes) {
    Isolation result;
    if (!RootIsAMount()) {
        result.error =
            "the root directory is not a mount (a chroot?), whose device nodes "
            "cannot be shut";
        return result;
    }
    if (!EnterNamespaces(result.error)) {
        return result;
    }
    // Nothing mounted here reaches the other namespaces.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        result.error = Failure("cannot make the mounts private");
        return result;
    }
    result.refuse = true;
    char cwd[PATH_MAX];
    const bool had_cwd = getcwd(cwd, sizeof cwd) != nullptr;
    FreshDev dev;
    dev.Gather();
    if (!MakeEveryMountNodev(result.error) || !dev.Mount(real_nodes, result.error) ||
        !HideAdapters(result.error)) {
        return result;
    }
    // Mounts made in a namespace are locked for the namespaces below it.
    if (!EnterNamespaces(result.error)) {
        return result;
    }
    // A working directory in the machine's /dev is one in the fresh one.
    if (had_cwd) {
        (void)chdir(cwd);
    }
    // Checked where the namespaces exist: elsewhere there is nothing to
    // lead around.
    result.error = InheritedRoute();
    if (!result.error.empty()) {
        return result;
    }
    result.ok = true;
    result.refuse = false;
    return result;
}

}  // namespace gpaksim::launcher
