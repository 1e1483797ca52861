#include "launcher/supervise.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/terminating_signals.h"
#include "launcher/launch_options.h"

namespace gpaksim::launcher {

namespace {

sigset_t ForwardedSet() {
    sigset_t set;
    sigemptyset(&set);
    common::ForEachTerminatingSignal([&set](int signal) { sigaddset(&set, signal); });
    return set;
}

volatile sig_atomic_t g_child = 0;
// This process, and whether it is the terminal's controlling process (it
// called setsid): known before a handler may need them.
pid_t g_self = 0;
bool g_controlling_process = false;

bool SentByAProcess(const siginfo_t& info) {
    return info.si_code == SI_USER || info.si_code == SI_QUEUE || info.si_code == SI_TKILL;
}

// Whether signal reached the command by itself, or is none of its
// business. The terminal sends SIGINT and SIGQUIT to its foreground
// process group, which the command shares with the launcher, and SIGHUP
// to a whole group too unless to the controlling process alone, for a
// hangup.
// The command's own signals are not sent back to it, and the kernel sends
// SIGPIPE and SIGXFSZ for a write of the launcher's own as if the launcher
// had sent them to itself; that write then fails instead.
bool NotToForward(int signal, const siginfo_t& info, pid_t child) {
    if (SentByAProcess(info)) {
        return info.si_pid == child || info.si_pid == g_self;
    }
    const bool from_terminal = info.si_code == SI_KERNEL;
    return from_terminal &&
           (signal == SIGINT || signal == SIGQUIT || (signal == SIGHUP && !g_controlling_process));
}

void Forward(int signal, siginfo_t* info, void* /*context*/) {
    const pid_t child = g_child;
    if (child <= 0 || info == nullptr || NotToForward(signal, *info, child)) {
        return;
    }
    const int saved = errno;
    if (info->si_code == SI_QUEUE) {
        sigqueue(child, signal, info->si_value);  // with the value it carried
    } else {
        kill(child, signal);
    }
    errno = saved;
}

// Forward for each of the signals, but those the launcher was started to
// ignore (nohup, a background job): the command inherits that, too.
void ForwardSignals() {
    g_self = getpid();
    g_controlling_process = getsid(0) == g_self;
    struct sigaction forward {};
    forward.sa_sigaction = Forward;
    forward.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&forward.sa_mask);
    common::ForEachTerminatingSignal([&forward](int signal) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 &&
            ((previous.sa_flags & SA_SIGINFO) != 0 || previous.sa_handler != SIG_IGN)) {
            sigaction(signal, &forward, nullptr);
        }
    });
}

// Waits for child to end, and only then reaps it: until then no forwarded
// signal can reach another process that was given its number.
int WaitFor(pid_t child) {
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR) {
            return kExitLauncherFailed << 8;
        }
    }
    g_child = 0;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return kExitLauncherFailed << 8;
        }
    }
    return status;
}

}  // namespace

int Supervise(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    // Held until the handlers are in place: one sent meanwhile is
    // forwarded then.
    const sigset_t forwarded = ForwardedSet();
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
    ForwardSignals();
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    return WaitFor(child);
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
