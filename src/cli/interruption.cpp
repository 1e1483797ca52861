#include "cli/interruption.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/output.h"

namespace cli {

namespace {

struct Caught {
    int number;
    const char* name;
    const char* notice;  // written from the handler, so made beforehand
};

#define GPAKCFG_CAUGHT(sig) \
    { sig, #sig, "gpakcfg: " #sig ": the run stops as soon as the chip is programmed\n" }
constexpr Caught kSignals[] = {
    GPAKCFG_CAUGHT(SIGINT),  GPAKCFG_CAUGHT(SIGTERM), GPAKCFG_CAUGHT(SIGHUP),
    GPAKCFG_CAUGHT(SIGQUIT), GPAKCFG_CAUGHT(SIGPIPE),
};
#undef GPAKCFG_CAUGHT
constexpr std::size_t kCount = sizeof kSignals / sizeof kSignals[0];

volatile sig_atomic_t g_caught = 0;
struct sigaction g_previous[kCount];

void OnSignal(int number) {
    if (g_caught != 0) {
        return;
    }
    g_caught = number;
    for (const Caught& caught : kSignals) {
        if (caught.number == number) {
            // Straight to the kernel: nothing in between may be interrupted.
            syscall(SYS_write, STDERR_FILENO, caught.notice, std::strlen(caught.notice));
        }
    }
}

const char* Name(int number) {
    for (const Caught& caught : kSignals) {
        if (caught.number == number) {
            return caught.name;
        }
    }
    return "a signal";
}

}  // namespace

int CaughtSignal() { return g_caught; }

const char* SignalName(int number) { return Name(number); }

ProgrammingWindow::ProgrammingWindow() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;  // transfers and writes go on; pauses are resumed
    sigemptyset(&action.sa_mask);
    for (const Caught& caught : kSignals) {
        sigaddset(&action.sa_mask, caught.number);
    }
    for (std::size_t i = 0; i < kCount; ++i) {
        sigaction(kSignals[i].number, nullptr, &g_previous[i]);
        // One the run was started to ignore (nohup, a background job) stays ignored.
        if (g_previous[i].sa_handler != SIG_IGN) {
            sigaction(kSignals[i].number, &action, nullptr);
        }
    }
}

// After a signal was caught the run still reads back and verifies, and
// ends by that signal: the others stay caught until then.
ProgrammingWindow::~ProgrammingWindow() {
    if (g_caught != 0) {
        return;
    }
    for (std::size_t i = 0; i < kCount; ++i) {
        sigaction(kSignals[i].number, &g_previous[i], nullptr);
    }
}

void EndIfInterrupted(const char* outcome, int status) {
    const int number = g_caught;
    if (number == 0) {
        return;
    }
    std::fprintf(stderr, "gpakcfg: ended by %s: %s\n", Name(number), outcome);
    FinishOutput(status);
    std::fflush(nullptr);
    std::signal(number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(number);
    std::_Exit(128 + number);  // should the signal be ignored after all
}

}  // namespace cli
