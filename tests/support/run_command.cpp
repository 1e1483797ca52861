#include "run_command.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "options.h"
#include "program_file.h"

namespace gpaktest {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DumpRow(const std::string& out, int row) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "\n0x%02X | ", row);
    const std::size_t at = out.rfind(prefix);
    return at == std::string::npos ? "" : out.substr(at + 8, 32);
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
    const std::string command = "rm -rf '" + dir_ + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "could not remove %s\n", dir_.c_str());
    }
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

CommandResult RunCommand(const std::vector<std::string>& argv) {
    TempDir dir;
    const std::string out_path = dir.Path("out");
    const std::string err_path = dir.Path("err");
    // Under an emulator, a program of the test's own machine has to be
    // run by it (see gpaksim::Emulator); the system's programs run as they are.
    using gpaksim::ProgramKind;
    std::vector<std::string> command = gpaksim::Emulator();
    const ProgramKind kind =
        argv.empty() ? ProgramKind::kOther : gpaksim::InspectProgram(argv[0], "/proc/self/exe");
    const bool emulated =
        !command.empty() && (kind == ProgramKind::kDynamic || kind == ProgramKind::kStatic);
    if (!emulated) {
        command.clear();
    }
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (const std::string& arg : command) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(126);
        }
        if (emulated) {
            execvp(args[0], args.data());
        } else {
            execv(args[0], args.data());
        }
        _exit(127);
    }
    CommandResult result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    result.out = ReadFile(out_path);
    result.err = ReadFile(err_path);
    return result;
}

}  // namespace gpaktest
