#include "launcher/run_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>

#include "bus/shared_chip.h"
#include "bus/trace.h"
#include "launcher/launch_options.h"
#include "model/board.h"
#include "node/node_path.h"

namespace gpaksim::launcher {

namespace {

// What kind of file path is when it is not a regular one; empty when it
// is, or when it is not there.
std::string NotRegular(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) {
        return "";
    }
    return S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "it is a device node"
           : S_ISDIR(st.st_mode)                      ? "it is a directory"
                                                      : "it is not a regular file";
}

// Opens the state file of sim, which checks it, and makes change to it
// when there is one.
void ChangeState(const Options& sim, const std::function<void(gpaksim::SimState&)>& change) {
    gpaksim::SharedChip chip;
    std::string error;
    if (!chip.Attach(sim.state_path, sim.virtual_time, error) ||
        (change && !chip.Update(change, error))) {
        Fail("state file " + sim.state_path + ": " + error);
    }
}

}  // namespace

std::string Directory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        Fail(std::string("cannot tell the working directory: ") + std::strerror(errno));
    }
    return std::string(cwd) + "/" + path;
}

// The chip's file: the one of --state, a regular file in a directory that
// exists, or one of this run; made and checked now, with --code applied
// once for all the programs of the run. Anything but a regular file is
// refused before it is opened: opening a device can act on it, and reading
// an I2C node is a transfer on its bus.
void PrepareState(Options& sim, RunDirectory& run) {
    if (sim.state_path.empty()) {
        sim.state_path = run.File("state");
    } else {
        sim.state_path = Absolute(sim.state_path);
        struct stat st {};
        const std::string dir = Directory(sim.state_path);
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            Fail("--state " + sim.state_path + ": no such directory " + dir);
        }
        const std::string refusal = NotRegular(sim.state_path);
        if (!refusal.empty()) {
            Fail("--state " + sim.state_path + ": " + refusal +
                 "; a chip is kept in a regular file");
        }
    }
    if (sim.code < 0) {
        ChangeState(sim, nullptr);
        return;
    }
    const auto code = static_cast<std::uint8_t>(sim.code);
    ChangeState(sim, [code](gpaksim::SimState& s) { gpaksim::SetControlCode(s.chip, code); });
    sim.code = -1;
}

void PrepareChips(const Options& sim) {
    if (sim.chips.empty()) {
        return;
    }
    // Under the names the programs resolve them to, as each of them puts
    // the chips there again when it starts.
    Options resolved = gpaksim::WithNodesResolved(sim);
    for (gpaksim::ChipPlacement& chip : resolved.chips) {
        chip.bus = chip.bus.empty() ? resolved.node_path : chip.bus;
    }
    ChangeState(resolved,
                [&resolved](gpaksim::SimState& s) { gpaksim::PlaceChips(s, resolved.chips); });
}

void PrepareTrace(Options& sim) {
    if (sim.trace_path.empty() || sim.trace_path == "-") {
        return;
    }
    const std::string refusal = gpaksim::TraceRefusal(sim.trace_path);
    if (!refusal.empty()) {
        Fail("--trace " + sim.trace_path + ": " + refusal +
             "; a trace goes to a file, a pipe, a terminal or '-'");
    }
    sim.trace_path = Absolute(sim.trace_path);
    // The programs of COMMAND write it; tried now, so that a trace that
    // cannot be written stops the run instead of going missing. A FIFO is
    // not opened: its reader would take that for the end of the trace.
    struct stat st {};
    const bool fifo = stat(sim.trace_path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    std::string error;
    gpaksim::TraceFile trace;
    if (fifo ? access(sim.trace_path.c_str(), W_OK) != 0 : !trace.Open(sim.trace_path, error)) {
        Fail("--trace " + sim.trace_path + ": " + (fifo ? std::strerror(errno) : error));
    }
}

}  // namespace gpaksim::launcher
