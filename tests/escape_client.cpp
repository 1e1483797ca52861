// A small I2C client that tries every way to a node: libc's open and
// openat (which the simulator's preload answers), the raw openat system
// call (which no preload can see), the same after trying to unmount what
// covers the node, and the node as another process sees it through /proc.
// Built twice for the tests: linked dynamically, and statically, which no
// preload reaches at all. Prints one line per way.
//
//   escape_client PATH [PID]
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Report(const char* way, long fd, bool raw) {
    if (fd < 0) {
        std::printf("%s: error %s\n", way, std::strerror(errno));
        return;
    }
    unsigned long funcs = 0;
    const long result = raw ? syscall(SYS_ioctl, fd, I2C_FUNCS, &funcs)
                            : ioctl(static_cast<int>(fd), I2C_FUNCS, &funcs);
    if (result == 0) {
        std::printf("%s: open, funcs 0x%08lx\n", way, funcs);
    } else {
        std::printf("%s: open, I2C_FUNCS %s\n", way, std::strerror(errno));
    }
    if (raw) {
        syscall(SYS_close, fd);
    } else {
        close(static_cast<int>(fd));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: escape_client PATH [PID]\n");
        return 2;
    }
    const char* path = argv[1];
    Report("libc open", open(path, O_RDWR), false);
    Report("libc openat", openat(AT_FDCWD, path, O_RDWR), false);
    Report("raw openat", syscall(SYS_openat, AT_FDCWD, path, O_RDWR), true);
    const long unmounted = syscall(SYS_umount2, path, MNT_DETACH);
    std::printf("umount: %s\n", unmounted == 0 ? "done" : std::strerror(errno));
    Report("raw openat after umount", syscall(SYS_openat, AT_FDCWD, path, O_RDWR), true);
    if (argc > 2) {
        const std::string other = std::string("/proc/") + argv[2] + "/root" + path;
        Report("raw openat through /proc", syscall(SYS_openat, AT_FDCWD, other.c_str(), O_RDWR),
               true);
    }
    std::fflush(stdout);
    return 0;
}
