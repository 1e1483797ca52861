#include "supervise.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launch_options.h"

namespace gpaksim::launcher {

namespace {

constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t g_child = 0;

void Forward(int signal, siginfo_t* info, void* /*context*/) {
    const pid_t child = g_child;
    // From a process (kill, timeout, a supervisor), not from the terminal,
    // and not from the command itself.
    const bool sent = info != nullptr && (info->si_code == SI_USER || info->si_code == SI_QUEUE ||
                                          info->si_code == SI_TKILL);
    if (child > 0 && sent && info->si_pid != child) {
        const int saved = errno;
        kill(child, signal);
        errno = saved;
    }
}

}  // namespace

int Supervise(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    sigset_t forwarded;
    sigemptyset(&forwarded);
    for (const int sig : kForwarded) {
        sigaddset(&forwarded, sig);
    }
    sigset_t old_mask;
    sigprocmask(SIG_BLOCK, &forwarded, &old_mask);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &old_mask, nullptr);
        execvp(args[0], args.data());
        const int error = errno;
        std::fprintf(stderr, "gpak-sim: cannot run %s: %s\n", args[0], std::strerror(error));
        _exit(error == ENOENT ? kExitNotFound : kExitCannotRun);
    }
    if (child < 0) {
        std::fprintf(stderr, "gpak-sim: cannot start %s: %s\n", args[0], std::strerror(errno));
        sigprocmask(SIG_SETMASK, &old_mask, nullptr);
        return -1;
    }
    g_child = child;
    struct sigaction forward {};
    forward.sa_sigaction = Forward;
    forward.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&forward.sa_mask);
    for (const int sig : kForwarded) {
        sigaction(sig, &forward, nullptr);
    }
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            status = kExitLauncherFailed << 8;
            break;
        }
    }
    g_child = 0;
    return status;
}

void ExitLike(int wait_status) {
    if (WIFSIGNALED(wait_status)) {
        const int sig = WTERMSIG(wait_status);
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        std::fflush(nullptr);
        signal(sig, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        sigprocmask(SIG_UNBLOCK, &set, nullptr);
        raise(sig);
        std::_Exit(128 + sig);  // a signal whose default is not to end the process
    }
    std::exit(WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : kExitLauncherFailed);
}

}  // namespace gpaksim::launcher
