// gpak-sim: runs a command with the simulated chip answering the I2C node,
// where no real I2C node can be reached.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "launcher/launch_options.h"
#include "launcher/program_file.h"
#include "launcher/run_dir.h"
#include "launcher/run_files.h"
#include "launcher/sandbox.h"
#include "launcher/supervise.h"

#ifndef GPAKSIM_LIBRARY_NAME
#define GPAKSIM_LIBRARY_NAME "libgpaksim.so"
#endif
#ifndef GPAKSIM_LIBRARY_DIR
#define GPAKSIM_LIBRARY_DIR "../lib/gpakcfg"  // relative to the launcher's directory
#endif
#ifndef GPAKCFG_VERSION
#define GPAKCFG_VERSION "unknown"
#endif

namespace {

using namespace gpaksim::launcher;

// The preload library sits beside the launcher in the build tree and in
// the private library directory once installed.
std::string FindLibrary() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        const std::string dir = Directory(self);
        for (const std::string& candidate :
             {dir + "/" GPAKSIM_LIBRARY_NAME,
              dir + "/" GPAKSIM_LIBRARY_DIR "/" GPAKSIM_LIBRARY_NAME}) {
            if (access(candidate.c_str(), R_OK) == 0) {
                return candidate;
            }
        }
    }
    Fail("cannot find " GPAKSIM_LIBRARY_NAME);
}

// What a file of this mode is, when it is no program file: opening it may
// be an operation of a device (a real bus), or wait for ever (a FIFO).
const char* NotAProgram(mode_t mode) {
    if (S_ISREG(mode)) {
        return nullptr;
    }
    return S_ISCHR(mode)    ? "a character device"
           : S_ISBLK(mode)  ? "a block device"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISDIR(mode)  ? "a directory"
           : S_ISSOCK(mode) ? "a socket"
                            : "no regular file";
}

// The preload reaches only programs the dynamic loader starts; any other
// is not run. Returns the emulator command line to run it with, if any.
// Nothing outside the sandbox is opened that is no regular file.
std::vector<std::string> CheckProgram(const std::string& name, const std::string& library,
                                      std::string& program) {
    program = gpaksim::FindProgram(name);
    struct stat st {};
    const char* other =
        program.empty() || stat(program.c_str(), &st) != 0 ? nullptr : NotAProgram(st.st_mode);
    if (other != nullptr) {
        Fail("cannot run " + name + ": " + other + ", not a program file; nothing was opened");
    }
    const auto kind =
        program.empty() ? gpaksim::ProgramKind::kOther : gpaksim::InspectProgram(program, library);
    if (kind == gpaksim::ProgramKind::kStatic) {
        Fail("cannot simulate the bus for " + name +
                 ": it is statically linked, so the simulator cannot be preloaded into it",
             kExitCannotRun);
    }
    if (kind == gpaksim::ProgramKind::kOtherMachine) {
        Fail("cannot simulate the bus for " + name +
                 ": it is built for another machine or ABI than the simulator",
             kExitCannotRun);
    }
    return kind == gpaksim::ProgramKind::kDynamic ? gpaksim::Emulator()
                                                  : std::vector<std::string>{};
}

// Where the real nodes cannot be put out of reach, nothing runs while there
// are any: a program that escaped the preload would program a real chip.
// The simulated nodes get an entry in the command's /dev as the real ones
// do, so that a program that lists /dev finds them.
void KeepRealNodesAway(const gpaksim::Options& sim) {
    const std::vector<std::string> nodes = RealNodes();
    std::vector<std::string> entries = gpaksim::RunNodes(sim.chips, sim.node_path);
    entries.insert(entries.end(), nodes.begin(), nodes.end());
    const Isolation isolation = Isolate(entries);
    if (isolation.ok || (nodes.empty() && !isolation.refuse)) {
        return;
    }
    if (nodes.empty()) {
        Fail("refusing to run: " + isolation.error);
    }
    std::string list;
    for (const std::string& node : nodes) {
        list += (list.empty() ? "" : ", ") + node;
    }
    Fail("refusing to run: this machine has real I2C nodes (" + list +
         ") and they cannot be put out of the command's reach: " + isolation.error);
}

int Launch(LaunchSettings& settings) {
    RunDirectory run;
    std::string error;
    if (!run.Create(error)) {
        Fail(error);
    }
    gpaksim::Options& sim = settings.sim;
    PrepareState(sim, run);
    PrepareTrace(sim);
    const std::string library = FindLibrary();
    std::string program;
    std::vector<std::string> emulator = CheckProgram(settings.command[0], library, program);
    sim.node_path = Absolute(sim.node_path);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    sim.epoch_ns = static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;

    const std::string preload = run.LibraryAlias(library, error);
    if (preload.empty()) {
        Fail(error);
    }
    const char* others = std::getenv("LD_PRELOAD");
    const std::string preloads =
        preload + (others != nullptr && others[0] != '\0' ? " " + std::string(others) : "");
    gpaksim::ExportOptions(sim);
    KeepRealNodesAway(sim);
    PrepareChips(sim);

    std::vector<std::string> command = settings.command;
    if (emulator.empty()) {
        setenv("LD_PRELOAD", preloads.c_str(), 1);
    } else {
        // Emulated, this process cannot exec a program of its own machine
        // without binfmt_misc, so it runs the emulator, which must not load
        // the preload itself but hand it to the program.
        unsetenv("LD_PRELOAD");
        emulator.insert(emulator.end(),
                        {"-0", command[0], "-E", "LD_PRELOAD=" + preloads, program});
        emulator.insert(emulator.end(), command.begin() + 1, command.end());
        command = emulator;
    }
    const int status = Supervise(command);
    return status < 0 ? kExitLauncherFailed << 8 : status;
}

}  // namespace

int main(int argc, char* argv[]) {
    ParsedLaunch parsed = ParseLaunchOptions(argc, argv);
    if (!parsed.ok) {
        std::fprintf(stderr, "gpak-sim: %s\nTry 'gpak-sim --help' for more information.\n",
                     parsed.error.c_str());
        return kExitLauncherFailed;
    }
    if (parsed.settings.help) {
        PrintUsage(stdout);
        return 0;
    }
    if (parsed.settings.version) {
        std::printf("gpak-sim %s\n", GPAKCFG_VERSION);
        return 0;
    }
    int status = 0;
    try {
        status = Launch(parsed.settings);
    } catch (const LaunchError& error) {
        std::fprintf(stderr, "gpak-sim: %s\n", error.message.c_str());
        return error.status;
    }
    ExitLike(status);
}
