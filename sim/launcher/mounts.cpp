#include "launcher/mounts.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#ifndef SYS_mount_setattr
#define SYS_mount_setattr 442  // the same on every architecture
#endif

namespace gpaksim::launcher {

namespace {

// mount_setattr(2)'s argument, and the flags used here (Linux 5.12).
struct MountAttributes {
    std::uint64_t attr_set;
    std::uint64_t attr_clr;
    std::uint64_t propagation;
    std::uint64_t userns_fd;
};
constexpr std::uint64_t kAttrNodev = 0x4;
constexpr unsigned kAtRecursive = 0x8000;

struct MountEntry {
    std::string point;  // where it is mounted
    std::string flags;  // its own flags: "rw,nosuid,nodev,relatime"
};

// "\040" and the like, as the kernel escapes blanks in mount points.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string digits = text.substr(i + 1, 3);
        if (text[i] == '\\' && digits.size() == 3 &&
            digits.find_first_not_of("01234567") == std::string::npos) {
            out += static_cast<char>(std::stoi(digits, nullptr, 8));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The mounts of this namespace that the root directory reaches, from
// /proc/self/mountinfo: "36 35 98:0 /mnt1 /mnt2 rw,noatime - ext3 ...".
std::vector<MountEntry> Mounts() {
    std::vector<MountEntry> mounts;
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream in_line(line);
        std::vector<std::string> fields;
        for (std::string field; fields.size() < 6 && in_line >> field;) {
            fields.push_back(field);
        }
        if (fields.size() == 6) {
            mounts.push_back({Unescape(fields[4]), "," + fields[5] + ","});
        }
    }
    return mounts;
}

bool Has(const MountEntry& mount, const char* flag) {
    return mount.flags.find(std::string(",") + flag + ",") != std::string::npos;
}

// A remount of the mount at point alone with its own flags and nodev. The
// flags that a namespace above has set are locked and must be passed
// again; the access time flags are kept when none is passed.
void RemountNodev(const MountEntry& entry) {
    unsigned long flags = MS_REMOUNT | MS_BIND | MS_NODEV;
    flags |= Has(entry, "ro") ? MS_RDONLY : 0;
    flags |= Has(entry, "nosuid") ? MS_NOSUID : 0;
    flags |= Has(entry, "noexec") ? MS_NOEXEC : 0;
    (void)mount(nullptr, entry.point.c_str(), nullptr, flags, nullptr);
}

}  // namespace

bool MakeEveryMountNodev(std::string& error) {
    MountAttributes nodev{kAttrNodev, 0, 0, 0};
    if (syscall(SYS_mount_setattr, AT_FDCWD, "/", kAtRecursive, &nodev, sizeof nodev) != 0) {
        // Before Linux 5.12: one mount at a time, as a path reaches it.
        for (const MountEntry& mount : Mounts()) {
            RemountNodev(mount);
        }
    }
    // Checked, whichever way it was done. A mount hidden under a later one
    // at the same place is reached by no path.
    const std::vector<MountEntry> mounts = Mounts();
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        bool hidden = false;
        for (std::size_t j = i + 1; j < mounts.size(); ++j) {
            hidden = hidden || mounts[j].point == mounts[i].point;
        }
        if (!hidden && !Has(mounts[i], "nodev")) {
            error = "cannot make " + mounts[i].point + " nodev";
            return false;
        }
    }
    return true;
}

bool AllowDevice(const std::string& path, std::string& error) {
    struct statvfs st {};
    if (statvfs(path.c_str(), &st) != 0) {
        error = "cannot look at " + path + ": " + std::strerror(errno);
        return false;
    }
    unsigned long flags = MS_REMOUNT | MS_BIND;
    flags |= (st.f_flag & ST_RDONLY) != 0 ? MS_RDONLY : 0;
    flags |= (st.f_flag & ST_NOSUID) != 0 ? MS_NOSUID : 0;
    flags |= (st.f_flag & ST_NOEXEC) != 0 ? MS_NOEXEC : 0;
    if (mount(nullptr, path.c_str(), nullptr, flags, nullptr) != 0) {
        error = "cannot let " + path + " open: " + std::strerror(errno);
        return false;
    }
    return true;
}

bool RootIsAMount() {
    const std::vector<MountEntry> mounts = Mounts();
    return std::any_of(mounts.begin(), mounts.end(),
                       [](const MountEntry& mount) { return mount.point == "/"; });
}

}  // namespace gpaksim::launcher
