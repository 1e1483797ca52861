#include "launcher/fresh_dev.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>

#include "launcher/mounts.h"

namespace gpaksim::launcher {

namespace {

struct AllowedNode {
    const char* name;
    unsigned major;
    unsigned minor;
};

// By their numbers, which are the same on every Linux system.
constexpr AllowedNode kAllowed[] = {{"null", 1, 3},   {"zero", 1, 5},    {"full", 1, 7},
                                    {"random", 1, 8}, {"urandom", 1, 9}, {"tty", 5, 0}};

// Shared memory: POSIX semaphores and shared memory, message queues.
constexpr const char* kSharedDirs[] = {"shm", "mqueue"};

constexpr unsigned long kShut = MS_NOSUID | MS_NODEV | MS_NOEXEC;

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

// The directories above path, a path under /dev.
void MakeParents(const std::string& path) {
    for (std::size_t slash = path.find('/', 5); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        (void)mkdir(path.substr(0, slash).c_str(), 0755);
    }
}

bool MakeFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

bool Device(const struct stat& st, dev_t device) {
    return S_ISCHR(st.st_mode) && st.st_rdev == device;
}

}  // namespace

bool IsAllowedDevice(dev_t device) {
    return std::any_of(std::begin(kAllowed), std::end(kAllowed), [device](const AllowedNode& node) {
        return device == makedev(node.major, node.minor);
    });
}

FreshDev::~FreshDev() {
    for (const Bound& bound : bound_) {
        close(bound.fd);
    }
}

void FreshDev::Gather() {
    for (const AllowedNode& node : kAllowed) {
        Hold(node.name, makedev(node.major, node.minor));
    }
    for (int fd = 0; fd <= STDERR_FILENO; ++fd) {
        struct stat own {};
        char name[PATH_MAX];
        if (isatty(fd) != 0 && fstat(fd, &own) == 0 && ttyname_r(fd, name, sizeof name) == 0 &&
            std::strncmp(name, "/dev/", 5) == 0) {
            Hold(name + 5, own.st_rdev);
        }
    }
    for (const char* dir : kSharedDirs) {
        Hold(dir, 0);
    }
    DIR* dev = opendir("/dev");
    while (const dirent* entry = dev != nullptr ? readdir(dev) : nullptr) {
        char target[PATH_MAX];
        const std::string path = std::string("/dev/") + entry->d_name;
        const ssize_t n = entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN
                              ? readlink(path.c_str(), target, sizeof target - 1)
                              : -1;
        if (n > 0) {
            links_.push_back({entry->d_name, std::string(target, static_cast<std::size_t>(n))});
        }
    }
    if (dev != nullptr) {
        closedir(dev);
    }
}

// The node /dev/name when it is the character device device, or with
// device 0, the directory /dev/name.
void FreshDev::Hold(const std::string& name, dev_t device) {
    for (const Bound& bound : bound_) {
        if (bound.name == name) {
            return;
        }
    }
    const int fd = open(("/dev/" + name).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0 &&
        (device == 0 ? S_ISDIR(st.st_mode) : Device(st, device))) {
        bound_.push_back({name, fd, device == 0});
    } else if (fd >= 0) {
        close(fd);
    }
}

bool FreshDev::Bind(const Bound& bound, std::string& error) {
    const std::string path = "/dev/" + bound.name;
    MakeParents(path);
    const bool made = bound.directory ? mkdir(path.c_str(), 0755) == 0 : MakeFile(path);
    // The descriptor's own file, though the path it had is covered now.
    const std::string source = "/proc/self/fd/" + std::to_string(bound.fd);
    if (!made || mount(source.c_str(), path.c_str(), nullptr,
                       MS_BIND | (bound.directory ? MS_REC : 0), nullptr) != 0) {
        error = Failure("cannot bind " + path);
        return false;
    }
    return bound.directory || AllowDevice(path, error);
}

bool FreshDev::Mount(const std::vector<std::string>& real_nodes, std::string& error) {
    if (mount("gpak-sim", "/dev", "tmpfs", kShut, "mode=0755") != 0) {
        error = Failure("cannot mount a /dev of its own");
        return false;
    }
    (void)mkdir("/dev/pts", 0755);  // terminals, the launcher's own only
    for (const Bound& bound : bound_) {
        if (!Bind(bound, error)) {
            return false;
        }
    }
    for (const std::string& node : real_nodes) {
        if (node.compare(0, 5, "/dev/") != 0) {
            continue;
        }
        MakeParents(node);
        if (mknod(node.c_str(), S_IFSOCK | 0666, 0) != 0 && errno != EEXIST) {
            error = Failure("cannot make " + node);
            return false;
        }
    }
    for (const Link& link : links_) {
        // Not over a real node's socket.
        (void)symlink(link.target.c_str(), ("/dev/" + link.name).c_str());
    }
    if (mount(nullptr, "/dev", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | kShut, nullptr) != 0) {
        error = Failure("cannot make /dev read-only");
        return false;
    }
    return true;
}

}  // namespace gpaksim::launcher
