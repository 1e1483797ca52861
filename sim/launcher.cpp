// gpak-sim: runs a command with the simulated chip answering /dev/i2c-1.
#include <getopt.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "program_file.h"
#include "sim.h"
#include "state_file.h"

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

constexpr int kExitUsage = 125;  // like env(1): the launcher itself failed
constexpr int kExitCannotRun = 126;
constexpr int kExitNotFound = 127;

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: gpak-sim [OPTION]... -- COMMAND [ARG]...\n"
        "Run COMMAND with a simulated GreenPAK chip answering /dev/i2c-1.\n"
        "\n"
        "  --state FILE       keep the chip's memories in FILE between runs\n"
        "                     (created on first write; default: a fresh chip per run)\n"
        "  --trace FILE       append a line per I2C transfer to FILE ('-': standard error)\n"
        "  --code N           set the chip's control code to N (0..15, or 0x0..0xf)\n"
        "  --nack ADDR[:REG]  NACK transfers to ADDR (only writes of register REG);\n"
        "                     may be repeated\n"
        "  --unacked-commands carry out erase and reset commands without acknowledging\n"
        "  --no-node          act as if /dev/i2c-1 did not exist\n"
        "  --absent           no chip on the bus: nothing acknowledges\n"
        "  --virtual-time     sleeps return at once and advance the simulator's clock\n"
        "  -h, --help         show this help\n"
        "  --version          show the version\n",
        out);
}

std::string Directory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool Exists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// The preload library sits beside the launcher in the build tree and in
// the private library directory once installed.
std::string FindLibrary() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return "";
    }
    self[n] = '\0';
    const std::string dir = Directory(self);
    for (const std::string& candidate :
         {dir + "/" GPAKSIM_LIBRARY_NAME, dir + "/" GPAKSIM_LIBRARY_DIR "/" GPAKSIM_LIBRARY_NAME}) {
        if (Exists(candidate)) {
            return candidate;
        }
    }
    return "";
}

bool ParseCode(const char* text, int& code) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || errno != 0 || value < 0 || value > 15) {
        return false;
    }
    code = static_cast<int>(value);
    return true;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "gpak-sim: %s\n", message.c_str());
    return kExitUsage;
}

}  // namespace

int main(int argc, char* argv[]) {
    enum { kState = 256, kTrace, kCode, kNack, kUnacked, kNoNode, kAbsent, kVirtual, kVersion };
    const option long_options[] = {
        {"state", required_argument, nullptr, kState},
        {"trace", required_argument, nullptr, kTrace},
        {"code", required_argument, nullptr, kCode},
        {"nack", required_argument, nullptr, kNack},
        {"unacked-commands", no_argument, nullptr, kUnacked},
        {"no-node", no_argument, nullptr, kNoNode},
        {"absent", no_argument, nullptr, kAbsent},
        {"virtual-time", no_argument, nullptr, kVirtual},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    std::string state;
    std::string trace;
    std::string nacks;
    int code = -1;
    bool virtual_time = false;
    bool unacked = false;
    bool no_node = false;
    bool absent = false;
    int opt = 0;
    // '+': the options end at COMMAND, whose own options are its business.
    while ((opt = getopt_long(argc, argv, "+h", long_options, nullptr)) != -1) {
        switch (opt) {
            case kState:
                state = optarg;
                break;
            case kTrace:
                trace = std::strcmp(optarg, "-") == 0 ? "/dev/stderr" : optarg;
                break;
            case kCode:
                if (!ParseCode(optarg, code)) {
                    return Fail(std::string("invalid control code '") + optarg + "' (0..15)");
                }
                break;
            case kNack: {
                gpaksim::Nack nack;
                if (!gpaksim::ParseNack(optarg, nack)) {
                    return Fail(std::string("invalid --nack '") + optarg + "' (ADDR[:REG])");
                }
                nacks += (nacks.empty() ? "" : ",") + std::string(optarg);
                break;
            }
            case kUnacked:
                unacked = true;
                break;
            case kNoNode:
                no_node = true;
                break;
            case kAbsent:
                absent = true;
                break;
            case kVirtual:
                virtual_time = true;
                break;
            case 'h':
                PrintUsage(stdout);
                return 0;
            case kVersion:
                std::printf("gpak-sim %s\n", GPAKCFG_VERSION);
                return 0;
            default:
                PrintUsage(stderr);
                return kExitUsage;
        }
    }
    if (optind >= argc) {
        PrintUsage(stderr);
        return kExitUsage;
    }

    const std::string library = FindLibrary();
    if (library.empty()) {
        return Fail("cannot find " GPAKSIM_LIBRARY_NAME);
    }

    // The preload reaches only programs the dynamic loader starts; any
    // other would quietly talk to the real bus, and a real chip.
    const std::string program = gpaksim::FindProgram(argv[optind]);
    const gpaksim::ProgramKind kind =
        program.empty() ? gpaksim::ProgramKind::kOther : gpaksim::InspectProgram(program, library);
    if (kind == gpaksim::ProgramKind::kStatic || kind == gpaksim::ProgramKind::kOtherMachine) {
        std::fprintf(stderr, "gpak-sim: cannot simulate the bus for %s: it is %s\n", argv[optind],
                     kind == gpaksim::ProgramKind::kStatic
                         ? "statically linked, so the simulator cannot be preloaded into it"
                         : "built for another machine or ABI than the simulator");
        return kExitCannotRun;
    }
    // Emulated, this process cannot exec a program of its own machine
    // without binfmt_misc, so it runs the emulator, which must not load the
    // preload itself but hand it to the program.
    std::vector<std::string> emulated;
    if (kind == gpaksim::ProgramKind::kDynamic) {
        emulated = gpaksim::Emulator();
    }

    // Without --state the chip still has to outlive each process of the
    // command (a script of i2ctransfer calls), so it lives in a temporary
    // directory for the length of the run.
    std::string temp_dir;
    if (state.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/gpak-sim.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            return Fail("cannot create a temporary directory: " +
                        std::string(std::strerror(errno)));
        }
        temp_dir = pattern;
        state = temp_dir + "/state";
    } else {
        gpaksim::ChipState chip = gpaksim::DefaultChip();
        std::int64_t clock = 0;
        std::string error;
        if (!gpaksim::LoadStateFile(state, chip, virtual_time, clock, error)) {
            return Fail(error);
        }
    }

    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long epoch = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    const char* preload = std::getenv("LD_PRELOAD");
    const std::string preloads =
        library + (preload != nullptr && preload[0] != '\0' ? " " + std::string(preload) : "");

    setenv("LD_PRELOAD", preloads.c_str(), 1);
    setenv(gpaksim::env::kState, state.c_str(), 1);
    setenv(gpaksim::env::kEpoch, std::to_string(epoch).c_str(), 1);
    auto set_or_clear = [](const char* name, const std::string& value) {
        if (value.empty()) {
            unsetenv(name);
        } else {
            setenv(name, value.c_str(), 1);
        }
    };
    set_or_clear(gpaksim::env::kTrace, trace);
    set_or_clear(gpaksim::env::kCode, code >= 0 ? std::to_string(code) : "");
    set_or_clear(gpaksim::env::kNack, nacks);
    set_or_clear(gpaksim::env::kUnackedCommands, unacked ? "1" : "");
    set_or_clear(gpaksim::env::kNoNode, no_node ? "1" : "");
    set_or_clear(gpaksim::env::kAbsent, absent ? "1" : "");
    set_or_clear(gpaksim::env::kVirtualTime, virtual_time ? "1" : "");

    std::vector<char*> command(argv + optind, argv + argc);
    if (!emulated.empty()) {
        emulated.insert(emulated.end(),
                        {"-0", argv[optind], "-E", "LD_PRELOAD=" + preloads, program});
        emulated.insert(emulated.end(), argv + optind + 1, argv + argc);
        command.clear();
        for (std::string& arg : emulated) {
            command.push_back(arg.data());
        }
    }
    command.push_back(nullptr);

    // Like system(3): the command alone answers Ctrl-C while it runs.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction old_int {};
    struct sigaction old_quit {};
    sigaction(SIGINT, &ignore, &old_int);
    sigaction(SIGQUIT, &ignore, &old_quit);

    const pid_t child = fork();
    if (child == 0) {
        sigaction(SIGINT, &old_int, nullptr);
        sigaction(SIGQUIT, &old_quit, nullptr);
        if (!emulated.empty()) {
            unsetenv("LD_PRELOAD");
        }
        execvp(command[0], command.data());
        std::fprintf(stderr, "gpak-sim: cannot run %s: %s\n", command[0], std::strerror(errno));
        _exit(errno == ENOENT ? kExitNotFound : kExitCannotRun);
    }
    int status = 0;
    int result = kExitUsage;
    if (child < 0) {
        std::fprintf(stderr, "gpak-sim: cannot fork: %s\n", std::strerror(errno));
    } else {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (!temp_dir.empty()) {
        std::remove(state.c_str());
        rmdir(temp_dir.c_str());
    }
    return result;
}
