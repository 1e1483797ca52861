#include "sim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "bus/bus.h"
#include "node/descriptors.h"
#include "node/i2c_dev.h"
#include "node/machine_files.h"
#include "node/node_path.h"
#include "raw/raw_io.h"

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

// The node of one of the program's descriptors, for what is said of it.
const std::string& NodeOf(const Sim& sim, const NodeDescriptor& node) {
    return sim.bus.Nodes().at(node.bus);
}

// Many programs leave their descriptors for exit to close, which is no
// fault; the trace still says so, for the tool's own tests.
void CheckLeftOpen() {
    if (g_sim == nullptr) {
        return;
    }
    for (const int fd : g_sim->descriptors.OpenFds()) {
        Note("descriptor " + std::to_string(fd) + " of " +
                 NodeOf(*g_sim, *g_sim->descriptors.Find(fd)) + " left open at exit",
             false);
    }
}

void CloseAll(Sim& sim) {
    for (const int fd : sim.descriptors.OpenFds()) {
        NodeDescriptor entry = sim.descriptors.Remove(fd);
        SharedChip::CloseLock(entry.lock);
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
    sim.options = WithNodesResolved(options);
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

// The nodes as configured, resolved once: they are needed on every open
// the program makes, before the simulator has to start.
const std::vector<std::string>& NodePaths() {
    static const std::vector<std::string> configured = [] {
        std::vector<std::string> ignored;  // reported when the simulator starts
        const Options options = WithNodesResolved(OptionsFromEnvironment(ignored));
        return RunNodes(options.chips, options.node_path);
    }();
    return g_sim != nullptr ? g_sim->bus.Nodes() : configured;
}

std::optional<std::size_t> IndexOf(const std::vector<std::string>& nodes, const std::string& path) {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i] == path) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

void Start(const Options& options) { StartWith(options, {}); }

ChipState& Chip(std::size_t number) { return State().ChipAt(number - 1); }
SimState& State() { return Get().bus.Chip().Current(); }
const std::vector<TransferRecord>& Transfers() { return Get().bus.Records(); }
std::int64_t ElapsedNs() { return Get().bus.ElapsedNs(); }
int OpenDescriptors() { return Get().descriptors.OpenNow(); }
int OpenCount() { return Get().descriptors.Opens(); }
int CloseCount() { return Get().descriptors.Closes(); }
const std::vector<std::string>& Problems() { return Get().problems; }

std::optional<std::size_t> NodeNamed(int dirfd, const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return std::nullopt;
    }
    const std::vector<std::string>& nodes = NodePaths();
    if (const auto node = IndexOf(nodes, path)) {
        return node;
    }
    const raw::SavedErrno saved;
    const int fd = g_sim != nullptr ? g_sim->descriptors.NamedFd(path) : -1;
    if (fd >= 0) {
        return g_sim->descriptors.Find(fd)->bus;
    }
    return IndexOf(nodes, ResolvePath(dirfd, path));
}

int Open(std::size_t node, int flags) {
    Sim& sim = Get();
    if (sim.options.no_node) {
        return raw::Fail(ENOENT);
    }
    const int mode = flags & O_ACCMODE;
    if (mode != O_RDWR && mode != O_RDONLY && mode != O_WRONLY) {
        return raw::Fail(EINVAL);
    }
    if (!sim.bus.Usable()) {
        return raw::Fail(EIO);  // said at the start: the chip's state cannot be used
    }
    // The descriptor stands for the node: the lowest free number, as the
    // kernel gives, and one on which nothing but the simulator's calls can
    // act (O_PATH): a call that escapes the simulator fails with EBADF.
    // It is of a character device, as the node is, so that fstat(2) tells
    // a program what it opened (a file reader refuses it unread).
    const int fd =
        static_cast<int>(syscall(SYS_openat, AT_FDCWD, "/dev/null", O_PATH | (flags & O_CLOEXEC)));
    if (fd < 0) {
        return -1;
    }
    sim.descriptors.Add(fd);
    NodeDescriptor& opened = *sim.descriptors.Find(fd);
    opened.bus = node < sim.bus.Nodes().size() ? node : 0;
    if (fd <= STDERR_FILENO) {
        // What the program prints there would go onto the bus of a real node.
        Note("descriptor " + std::to_string(fd) + " of " + NodeOf(sim, opened) +
                 " is a standard stream: the program opened it with that stream closed",
             false);
    }
    return fd;
}

int OpenMachineFile(const char* path, int flags, bool& handled) {
    handled = false;
    // Other paths never start the simulator: it takes descriptors.
    if (path == nullptr || !MayBeMachineFile(path)) {
        return -1;
    }
    const raw::SavedErrno saved;
    Sim& sim = Get();
    std::string content;
    bool missing = false;
    if (!MachineFile(sim.options, sim.bus.Nodes(), path, content, missing)) {
        return -1;
    }
    handled = true;
    if (missing) {
        return raw::Fail(ENOENT);
    }
    const int fd = static_cast<int>(
        syscall(SYS_memfd_create, "gpak-sim", (flags & O_CLOEXEC) != 0 ? MFD_CLOEXEC : 0U));
    if (fd < 0 || !raw::WriteAll(fd, content) || lseek(fd, 0, SEEK_SET) != 0) {
        if (fd >= 0) {
            raw::Close(fd);
        }
        return raw::Fail(EIO);
    }
    return fd;
}

bool Owns(int fd) { return g_sim != nullptr && g_sim->descriptors.Has(fd); }

int Ioctl(int fd, unsigned long request, void* arg) {
    Sim& sim = Get();
    NodeDescriptor* node = sim.descriptors.Find(fd);
    return node == nullptr ? raw::Fail(EBADF) : NodeIoctl(sim.bus, *node, request, arg);
}

ssize_t Read(int fd, void* buf, std::size_t count) {
    Sim& sim = Get();
    const NodeDescriptor* node = sim.descriptors.Find(fd);
    return node == nullptr ? raw::Fail(EBADF) : NodeRead(sim.bus, *node, buf, count);
}

ssize_t Write(int fd, const void* buf, std::size_t count) {
    Sim& sim = Get();
    const NodeDescriptor* node = sim.descriptors.Find(fd);
    return node == nullptr ? raw::Fail(EBADF) : NodeWrite(sim.bus, *node, buf, count);
}

// flock(2) on a descriptor of a node locks that node for every process
// that shares the chips, as it locks the device node on a real system;
// the other nodes stay free.
int Flock(int fd, int operation) {
    Sim& sim = Get();
    NodeDescriptor* node = sim.descriptors.Find(fd);
    if (node == nullptr) {
        return raw::Fail(EBADF);
    }
    return sim.bus.Flock(node->lock, node->bus, operation);
}

int Close(int fd) {
    Sim& sim = Get();
    NodeDescriptor entry = sim.descriptors.Remove(fd);
    SharedChip::CloseLock(entry.lock);
    return static_cast<int>(syscall(SYS_close, fd));
}

bool ReportStaleUse(int fd, const char* call) {
    if (g_sim == nullptr || !g_sim->descriptors.WasClosed(fd)) {
        return false;
    }
    const std::vector<std::string>& nodes = g_sim->bus.Nodes();
    Report(std::string(call) + " on descriptor " + std::to_string(fd) + " of " +
           (nodes.size() == 1 ? nodes[0] : "a simulated node") + " after it was closed");
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
