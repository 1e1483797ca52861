#include "run_command.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "knobs/options.h"
#include "launcher/program_file.h"

namespace gpaktest {

namespace {

// The command line that runs argv: under the emulator of a cross build for
// a program built for the test's own machine.
Strings Command(const Strings& argv) {
    using gpaksim::ProgramKind;
    Strings command = gpaksim::Emulator();
    const ProgramKind kind =
        argv.empty() ? ProgramKind::kOther : gpaksim::InspectProgram(argv[0], "/proc/self/exe");
    if (kind != ProgramKind::kDynamic && kind != ProgramKind::kStatic) {
        command.clear();
    }
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

// In the child: as in a user's shell, every signal at its default and
// none blocked, whatever the test runner ignores or blocks, and no core
// files of the runs that end by SIGQUIT.
void AsInAShell(const Streams& streams, const Strings& env) {
    for (int sig = 1; sig < NSIG; ++sig) {
        std::signal(sig, SIG_DFL);  // (refused for SIGKILL and SIGSTOP)
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    const int in = open("/dev/null", O_RDONLY);
    const int out = streams.out_fd >= 0
                        ? streams.out_fd
                        : open(streams.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(streams.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
        _exit(126);
    }
    for (const std::string& assignment : env) {
        putenv(const_cast<char*>(assignment.c_str()));
    }
}

}  // namespace

pid_t StartCommand(const Strings& argv, const Streams& streams, const Strings& env) {
    const Strings command = Command(argv);
    std::vector<char*> args;
    for (const std::string& arg : command) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        AsInAShell(streams, env);
        execvp(args[0], args.data());  // the emulator from PATH; a program by its path
        _exit(127);
    }
    return pid;
}

Ending WaitCommand(pid_t pid) {
    Ending ending;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        ending.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        ending.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + ending.signal;
    }
    return ending;
}

CommandResult RunCommand(const Strings& argv) {
    const TempDir dir;
    const Streams streams{dir.Path("out"), dir.Path("err")};
    CommandResult result;
    static_cast<Ending&>(result) = WaitCommand(StartCommand(argv, streams));
    result.out = ReadFile(streams.out_path);
    result.err = ReadFile(streams.err_path);
    return result;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Strings Lines(const std::string& text) {
    Strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/gpakcfg-test.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
}

TempDir::~TempDir() {
    const auto remove_entry = [](const char* path, const struct stat*, int, FTW*) {
        return std::remove(path);
    };
    if (nftw(dir_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS) != 0) {
        std::fprintf(stderr, "could not remove %s\n", dir_.c_str());
    }
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

}  // namespace gpaktest
