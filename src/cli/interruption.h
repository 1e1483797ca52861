// Programming that a signal does not cut short. From the first erase
// command (the first page write for the registers) to the end of the
// closing reset's pause, SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE
// neither stop the run nor shorten a pause: the first says on standard
// error that the run stops as soon as the chip is programmed, and the run
// ends by it once it has read the chip back.
#pragma once

namespace cli {

// The window: the signals are caught while it lives, and act as usual
// again after it, unless one was caught: then they stay caught until the
// run ends by the first.
class ProgrammingWindow {
public:
    ProgrammingWindow();
    ~ProgrammingWindow();
    ProgrammingWindow(const ProgrammingWindow&) = delete;
    ProgrammingWindow& operator=(const ProgrammingWindow&) = delete;
};

// The first signal caught in the window; 0 when none was.
int CaughtSignal();

// The name of a signal the window catches ("SIGINT"), "a signal" for others.
const char* SignalName(int number);

// When a signal was caught: says on standard error how the run ended
// (outcome), finishes the output and ends the process by the signal's
// default action, so that the shell sees the interruption. Else returns.
void EndIfInterrupted(const char* outcome, int status);

}  // namespace cli
