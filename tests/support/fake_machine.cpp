#include "fake_machine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim_bench.h"

namespace gpaktest {

const Strings kFakeNodes = {"/dev/i2c-1", "/dev/i2c-2", "/dev/i2c-7"};

namespace {

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// Puts the entries of from_dir into to_dir, all but the I2C nodes: the
// devices and directories bound, the links copied.
void CopyEntries(const std::string& from_dir, const std::string& to_dir) {
    DIR* dir = opendir(from_dir.c_str());
    while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        const std::string from = from_dir + "/" + name;
        const std::string to = to_dir + "/" + name;
        struct stat st {};
        if (name == "." || name == ".." || name.compare(0, 3, "i2c") == 0 ||
            lstat(from.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            char target[4096] = {};
            if (readlink(from.c_str(), target, sizeof target - 1) > 0) {
                (void)symlink(target, to.c_str());
            }
        } else if (S_ISDIR(st.st_mode)) {
            mkdir(to.c_str(), 0755);
            mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
        } else {
            close(open(to.c_str(), O_WRONLY | O_CREAT, 0600));
            mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
}

// Whether the root directory is a mount point: in a plain chroot it is
// not, and no mounts below it can be made private.
bool RootIsAMountPoint() {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (fields >> id >> parent >> device >> root >> point && point == "/") {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string NoNamespacesHere() {
    if (gpaktest::Emulated()) {
        return "the launcher runs under a user-mode emulator";
    }
    if (!RootIsAMountPoint()) {
        return "the root directory is not a mount point (a chroot?)";
    }
    // As the launcher makes them, in a child of a single thread.
    const pid_t child = fork();
    if (child == 0) {
        _exit(unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 ? 0 : errno);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return Errno("fork");
    }
    if (WEXITSTATUS(status) != 0) {
        return std::string("no user namespace can be made (") + std::strerror(WEXITSTATUS(status)) +
               "; a chroot, or user namespaces turned off?)";
    }
    return "";
}

// A private mount namespace (in a user namespace of our own where we are
// not root) whose /dev is a tmpfs holding the real /dev's entries.
std::string MakeFakeMachine() {
    if (gpaktest::Emulated()) {
        // qemu-user runs threads of its own, and a threaded process cannot
        // make a user namespace: the launcher would rightly refuse to run.
        return "the launcher runs under a user-mode emulator";
    }
    if (!RootIsAMountPoint()) {
        return "the root directory is not a mount point (a chroot?), so its mounts cannot be "
               "made private";
    }
    const std::string uid = std::to_string(geteuid());
    const std::string gid = std::to_string(getegid());
    if (geteuid() != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return Errno("unshare");
        }
        WriteText("/proc/self/setgroups", "deny");
        if (!WriteText("/proc/self/uid_map", uid + " " + uid + " 1\n") ||
            !WriteText("/proc/self/gid_map", gid + " " + gid + " 1\n")) {
            return Errno("uid_map");
        }
    } else if (unshare(CLONE_NEWNS) != 0) {
        return Errno("unshare");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return Errno("private mounts");
    }
    char staging[] = "/tmp/gpak-escape.XXXXXX";
    if (mkdtemp(staging) == nullptr ||
        mount("/dev", staging, nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
        mount("none", "/dev", "tmpfs", MS_NOSUID, "mode=0755") != 0) {
        return Errno("a tmpfs on /dev");
    }
    CopyEntries(staging, "/dev");
    umount2(staging, MNT_DETACH);
    rmdir(staging);
    if (!WriteText("/dev/i2c-1", "a real bus\n") || mkfifo("/dev/i2c-2", 0660) != 0 ||
        !WriteText("/dev/i2c-7", "another real bus\n")) {
        return Errno("the fake nodes");
    }
    return "";
}

NodeWatch::NodeWatch(const Strings& paths) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    for (const std::string& path : paths) {
        inotify_add_watch(fd_.Get(), path.c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY);
    }
}

int NodeWatch::Events() const {
    alignas(inotify_event) char buffer[4096];
    int events = 0;
    ssize_t n = 0;
    while ((n = read(fd_.Get(), buffer, sizeof buffer)) > 0) {
        for (char* p = buffer; p < buffer + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            events += (event->mask & IN_ISDIR) == 0 ? 1 : 0;
            p += sizeof(inotify_event) + event->len;
        }
    }
    return events;
}

}  // namespace gpaktest
