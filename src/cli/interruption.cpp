#include "cli/interruption.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cli/output.h"
#include "cli/say.h"
#include "common/terminating_signals.h"

namespace cli {

namespace {

// Kept apart from the table: SIGRTMIN is a call, which a handler avoids.
const int kRealTimeMin = SIGRTMIN;
const int kRealTimeMax = SIGRTMAX;

sigset_t HeldSet() {
    sigset_t set;
    sigemptyset(&set);
    common::ForEachTerminatingSignal([&set](int number) { sigaddset(&set, number); });
    return set;
}

// A line put together without the heap or stdio, so that a signal handler
// may write it.
class Text {
public:
    void Add(const char* text) {
        while (*text != '\0' && used_ + 1 < sizeof buffer_) {
            buffer_[used_++] = *text++;
        }
        buffer_[used_] = '\0';
    }
    void AddNumber(unsigned number) {
        char digits[12];
        char* first = digits + sizeof digits;
        *--first = '\0';
        do {
            *--first = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number != 0);
        Add(first);
    }
    // SIGINT, SIGRTMIN+3, "signal 99".
    void AddSignalName(int number) {
        for (const common::NamedSignal& signal : common::kTerminatingSignals) {
            if (signal.number == number) {
                Add(signal.name);
                return;
            }
        }
        if (number >= kRealTimeMin && number <= kRealTimeMax) {
            Add("SIGRTMIN");
            if (number > kRealTimeMin) {
                Add("+");
                AddNumber(static_cast<unsigned>(number - kRealTimeMin));
            }
            return;
        }
        Add("signal ");
        AddNumber(static_cast<unsigned>(number));
    }
    [[nodiscard]] const char* Get() const { return buffer_; }
    [[nodiscard]] std::size_t Size() const { return used_; }

private:
    char buffer_[128]{};
    std::size_t used_ = 0;
};

volatile sig_atomic_t g_caught = 0;
volatile sig_atomic_t g_in_window = 0;
std::array<struct sigaction, NSIG> g_previous{};  // by signal number

// The kernel sends SIGXFSZ to a process whose write goes past its
// file-size limit as if the process had sent it to itself; that write then
// fails with EFBIG.
bool RaisedByOwnWrite(const siginfo_t* info) {
    return info != nullptr && info->si_code == SI_USER && info->si_pid == getpid();
}

bool Ignored(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

void OnSignal(int number, siginfo_t* info, void* /*context*/) {
    if (number == SIGXFSZ && RaisedByOwnWrite(info)) {
        return;
    }
    if (g_caught != 0) {
        // The chip is programmed: a second signal ends the run now, by its
        // usual action, as the handler returns (it is held until then).
        if (g_in_window == 0) {
            struct sigaction usual {};
            usual.sa_handler = SIG_DFL;
            sigemptyset(&usual.sa_mask);
            sigaction(number, &usual, nullptr);
            raise(number);
        }
        return;
    }
    g_caught = number;
    const int saved = errno;
    Text notice;
    notice.Add("gpakcfg: ");
    notice.AddSignalName(number);
    notice.Add(": the run stops as soon as the chip is programmed\n");
    // Straight to the kernel: nothing in between may be interrupted.
    syscall(SYS_write, STDERR_FILENO, notice.Get(), notice.Size());
    errno = saved;
}

void OnFileSizeSignal(int number, siginfo_t* info, void* /*context*/) {
    if (RaisedByOwnWrite(info)) {
        return;
    }
    // Sent by another process: its usual action, once this handler returns.
    struct sigaction usual {};
    usual.sa_handler = SIG_DFL;
    sigemptyset(&usual.sa_mask);
    sigaction(number, &usual, nullptr);
    raise(number);
}

}  // namespace

void TakeFileSizeLimitAsWriteError() {
    struct sigaction previous {};
    sigaction(SIGXFSZ, nullptr, &previous);
    if (Ignored(previous)) {
        return;  // the write fails with EFBIG all the same
    }
    struct sigaction action {};
    action.sa_sigaction = OnFileSizeSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGXFSZ, &action, nullptr);
}

int CaughtSignal() { return g_caught; }

std::string SignalName(int number) {
    Text name;
    name.AddSignalName(number);
    return name.Get();
}

ProgrammingWindow::ProgrammingWindow() {
    g_in_window = 1;
    struct sigaction action {};
    action.sa_sigaction = OnSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;  // transfers and writes go on; pauses are resumed
    action.sa_mask = HeldSet();
    common::ForEachTerminatingSignal([&action](int number) {
        sigaction(number, nullptr, &g_previous.at(static_cast<std::size_t>(number)));
        // One the run was started to ignore (nohup, a background job) stays ignored.
        if (!Ignored(g_previous.at(static_cast<std::size_t>(number)))) {
            sigaction(number, &action, nullptr);
        }
    });
}

// After a signal was caught the run still reads back and verifies, and
// ends by that signal: the others stay caught until then.
ProgrammingWindow::~ProgrammingWindow() {
    g_in_window = 0;
    if (g_caught != 0) {
        return;
    }
    common::ForEachTerminatingSignal([](int number) {
        sigaction(number, &g_previous.at(static_cast<std::size_t>(number)), nullptr);
    });
}

SignalsDeferred::SignalsDeferred() {
    const sigset_t held = HeldSet();
    sigprocmask(SIG_BLOCK, &held, &previous_);
}

SignalsDeferred::~SignalsDeferred() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void EndIfInterrupted(const char* outcome, int status) {
    const int number = g_caught;
    if (number == 0) {
        return;
    }
    Say("ended by %s: %s", SignalName(number).c_str(), outcome);
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
