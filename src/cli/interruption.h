// Programming that a signal does not cut short. From the first erase
// command (the first page write for the registers) to the end of the
// closing reset's pause, no catchable signal whose default action ends the
// process (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1,
// SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT
// where the machine has them, and the real-time signals) stops the run or
// shortens a pause: the first says on standard error that the run stops as
// soon as the chip is programmed, and the run ends by it once it has read
// the chip back. The signals that report a fault of the program itself
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT) are left as
// they are: a handler that returns would only meet the fault again.
#pragma once

#include <csignal>
#include <string>

namespace cli {

// For the whole run: a write past the file-size limit (ulimit -f) fails with
// EFBIG, a write error like a full disk, instead of ending the run by
// SIGXFSZ. A SIGXFSZ that another process sends acts as usual (outside the
// window below). Left alone when the run was started with SIGXFSZ ignored.
void TakeFileSizeLimitAsWriteError();

// The window: the signals are caught while it lives, and act as usual
// again after it, unless one was caught: then the run ends by the first
// once it has read the chip back and logged, or at once by a second one
// that comes after the window (a run that hangs is never unstoppable).
class ProgrammingWindow {
public:
    ProgrammingWindow();
    ~ProgrammingWindow();
    ProgrammingWindow(const ProgrammingWindow&) = delete;
    ProgrammingWindow& operator=(const ProgrammingWindow&) = delete;
};

// The same signals held back while it lives (a file being replaced is not
// left half-done): one that arrives meanwhile acts when it goes.
class SignalsDeferred {
public:
    SignalsDeferred();
    ~SignalsDeferred();
    SignalsDeferred(const SignalsDeferred&) = delete;
    SignalsDeferred& operator=(const SignalsDeferred&) = delete;

private:
    sigset_t previous_{};
};

// The first signal caught in the window; 0 when none was.
int CaughtSignal();

// The name of a signal: "SIGINT", "SIGRTMIN+3", "signal 99".
std::string SignalName(int number);

// When a signal was caught: says on standard error how the run ended
// (outcome), finishes the output and ends the process by the signal's
// default action, so that the shell sees the interruption. Else returns.
void EndIfInterrupted(const char* outcome, int status);

}  // namespace cli
