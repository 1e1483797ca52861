// The command's /dev: a file system of its own, mounted over the machine's
// /dev, that holds only the device nodes a program may open (null, zero,
// full, random, urandom, tty and the terminal of the launcher's standard
// streams), each bound from the machine's /dev, and the links and shared
// memory directories programs expect there (fd, stdin, stdout, stderr,
// shm, mqueue). Each real I2C node's name holds a socket, which cannot be
// opened (ENXIO). Nothing else of the machine's /dev is in it, nor appears
// in it later.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace gpaksim::launcher {

// Whether a device node of this number may be opened under the launcher:
// null, zero, full, random, urandom and tty (the terminal is not a number).
bool IsAllowedDevice(dev_t device);

class FreshDev {
public:
    FreshDev() = default;
    ~FreshDev();
    FreshDev(const FreshDev&) = delete;
    FreshDev& operator=(const FreshDev&) = delete;

    // Takes hold of what the new /dev shows from the machine's /dev, which
    // it is about to cover. Call it in the mount namespace it is built in.
    void Gather();

    // Mounts the new /dev over /dev, read-only, with a socket at the path
    // of each of real_nodes under /dev. False with error set on failure.
    bool Mount(const std::vector<std::string>& real_nodes, std::string& error);

private:
    struct Bound {
        std::string name;  // under /dev: "null", "pts/3", "shm"
        int fd;            // an O_PATH descriptor of the machine's own
        bool directory;
    };
    struct Link {
        std::string name;
        std::string target;
    };

    void Hold(const std::string& name, dev_t device);
    static bool Bind(const Bound& bound, std::string& error);

    std::vector<Bound> bound_;
    std::vector<Link> links_;
};

}  // namespace gpaksim::launcher
