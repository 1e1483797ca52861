// Runs the command and waits for it, passing on the signals meant for it.
#pragma once

#include <string>
#include <vector>

namespace gpaksim::launcher {

// Starts argv (execvp), forwards to it every signal sent to the launcher
// that would end a process and may come from outside it (SIGTERM, SIGINT,
// SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ,
// SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT, the real-time signals),
// and waits for it to end. A signal that the terminal sends to the whole
// process group reaches the command by itself and is not sent again; one
// the launcher was started to ignore stays ignored. Returns the command's
// wait status, or -1 when it could not be started (fork failed); a failed
// exec ends the child with 126 or 127, as env(1).
int Supervise(const std::vector<std::string>& argv);

// Ends the launcher as the command ended: with its exit status, or by the
// same signal (without a core dump of the launcher's own).
[[noreturn]] void ExitLike(int wait_status);

}  // namespace gpaksim::launcher
