#include "sim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "bus.h"
#include "descriptors.h"
#include "i2c_dev.h"
#include "node_path.h"
#include "raw_io.h"

namespace gpaksim {

namespace {

struct Sim {
    Options options;
    Bus bus;
    Descriptors descriptors;
    std::vector<std::string> problems;
};

Sim* g_sim = nullptr;

// A problem goes to the trace, and unless it is only a remark on the
// program's habits, to standard error.
void Note(const std::string& problem, bool to_stderr) {
    Sim& sim = *g_sim;
    const raw::SavedErrno saved;
    sim.problems.push_back(problem);
    if (to_stderr) {
        raw::WriteAll(STDERR_FILENO, "gpak-sim: " + problem + "\n");
    }
    sim.bus.Trace().Write("# " + problem);
}

void Report(const std::string& problem) { Note(problem, true); }

// Many programs leave their descriptors for exit to close, which is no
// fault; the trace still says so, for the tool's own tests.
void CheckLeftOpen() {
    if (g_sim == nullptr) {
        return;
    }
    for (const int fd : g_sim->descriptors.OpenFds()) {
        Note("descriptor " + std::to_string(fd) + " of " + g_sim->options.node_path +
                 " left open at exit",
             false);
    }
}

void CloseAll(Sim& sim) {
    for (const int fd : sim.descriptors.OpenFds()) {
        raw::Close(sim.descriptors.Remove(fd).lock_fd);
        raw::Close(fd);
    }
    sim.descriptors.Clear();
}

void StartWith(const Options& options, const std::vector<std::string>& problems) {
    if (g_sim == nullptr) {
        g_sim = new Sim;  // lives as long as the process: overrides run until the very end
        std::atexit(CheckLeftOpen);
    }
    Sim& sim = *g_sim;
    CloseAll(sim);
    sim.problems.clear();
    sim.options = options;
    // Resolved once, so that every spelling of the node and every link to
    // it compares equal to it.
    const std::string node = ResolvePath(AT_FDCWD, options.node_path);
    if (!node.empty()) {
        sim.options.node_path = node;
    }
    sim.bus.Start(sim.options, Report);
    for (const std::string& problem : problems) {
        Report(problem);
    }
    if (options.code >= 0) {
        sim.bus.SetCode(static_cast<std::uint8_t>(options.code));
    }
}

Sim& Get() {
    if (g_sim == nullptr) {
        std::vector<std::string> problems;
        const Options options = OptionsFromEnvironment(problems);
        StartWith(options, problems);
    }
    return *g_sim;
}

// The node's path as configured, resolved once: it is needed on every
// open the program makes, before the simulator has to start.
const std::string& NodePath() {
    static const std::string path = [] {
        const char* bus = std::getenv("GPAK_SIM_BUS");
        const std::string configured =
            bus != nullptr && bus[0] != '\0' ? BusPath(bus) : std::string(kDefaultNode);
        const std::string resolved = ResolvePath(AT_FDCWD, configured);
        return resolved.empty() ? configured : resolved;
    }();
    return g_sim != nullptr ? g_sim->options.node_path : path;
}

int Fail(int error) {
    errno = error;
    return -1;
}

}  // namespace

void Start(const Options& options) { StartWith(options, {}); }

ChipState& Chip() { return Get().bus.Chip().Current().chip; }
const std::vector<TransferRecord>& Transfers() { return Get().bus.Records(); }
std::int64_t ElapsedNs() { return Get().bus.ElapsedNs(); }
int OpenDescriptors() { return Get().descriptors.OpenNow(); }
int OpenCount() { return Get().descriptors.Opens(); }
int CloseCount() { return Get().descriptors.Closes(); }
const std::vector<std::string>& Problems() { return Get().problems; }

bool IsNodePath(int dirfd, const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    const std::string& node = NodePath();
    if (node == path) {
        return true;
    }
    const raw::SavedErrno saved;
    if (g_sim != nullptr && g_sim->descriptors.NamesOne(path)) {
        return true;
    }
    return ResolvePath(dirfd, path) == node;
}

int Open(int flags) {
    Sim& sim = Get();
    if (sim.options.no_node) {
        return Fail(ENOENT);
    }
    const int mode = flags & O_ACCMODE;
    if (mode != O_RDWR && mode != O_RDONLY && mode != O_WRONLY) {
        return Fail(EINVAL);
    }
    if (!sim.bus.Usable()) {
        return Fail(EIO);  // said at the start: the chip's state cannot be used
    }
    // The descriptor stands for the node: the lowest free number, as the
    // kernel gives, and one on which nothing but the simulator's calls can
    // act (O_PATH): a call that escapes the simulator fails with EBADF.
    const int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, sim.bus.Chip().NodeFile().c_str(),
                                            O_PATH | (flags & O_CLOEXEC)));
    if (fd < 0) {
        return -1;
    }
    sim.descriptors.Add(fd);
    if (fd <= STDERR_FILENO) {
        // What the program prints there would go onto the bus of a real node.
        Note("descriptor " + std::to_string(fd) + " of " + sim.options.node_path +
                 " is a standard stream: the program opened it with that stream closed",
             false);
    }
    return fd;
}

bool Owns(int fd) { return g_sim != nullptr && g_sim->descriptors.Has(fd); }

int Ioctl(int fd, unsigned long request, void* arg) {
    Sim& sim = Get();
    NodeDescriptor* node = sim.descriptors.Find(fd);
    return node == nullptr ? Fail(EBADF) : NodeIoctl(sim.bus, *node, request, arg);
}

ssize_t Read(int fd, void* buf, std::size_t count) {
    Sim& sim = Get();
    const NodeDescriptor* node = sim.descriptors.Find(fd);
    return node == nullptr ? Fail(EBADF) : NodeRead(sim.bus, *node, buf, count);
}

ssize_t Write(int fd, const void* buf, std::size_t count) {
    Sim& sim = Get();
    const NodeDescriptor* node = sim.descriptors.Find(fd);
    return node == nullptr ? Fail(EBADF) : NodeWrite(sim.bus, *node, buf, count);
}

// flock(2) on a descriptor of the node locks the node for every process
// that shares the chip, as it locks the one device node on a real system.
int Flock(int fd, int operation) {
    Sim& sim = Get();
    NodeDescriptor* node = sim.descriptors.Find(fd);
    if (node == nullptr) {
        return Fail(EBADF);
    }
    if (node->lock_fd < 0) {
        node->lock_fd = sim.bus.Chip().OpenForLock();
        if (node->lock_fd < 0) {
            return -1;
        }
    }
    return static_cast<int>(syscall(SYS_flock, node->lock_fd, operation));
}

int Close(int fd) {
    Sim& sim = Get();
    raw::Close(sim.descriptors.Remove(fd).lock_fd);
    return static_cast<int>(syscall(SYS_close, fd));
}

bool ReportStaleUse(int fd, const char* call) {
    if (g_sim == nullptr || !g_sim->descriptors.WasClosed(fd)) {
        return false;
    }
    Report(std::string(call) + " on descriptor " + std::to_string(fd) + " of " +
           g_sim->options.node_path + " after it was closed");
    return true;
}

void ForgetClosed(int fd) {
    if (g_sim != nullptr) {
        g_sim->descriptors.Forget(fd);
    }
}

bool VirtualTime() { return Get().options.virtual_time; }

void AdvanceClock(std::int64_t ns) { Get().bus.Advance(ns); }

}  // namespace gpaksim
