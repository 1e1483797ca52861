// Runs the command and waits for it, passing on the signals meant for it.
#pragma once

#include <string>
#include <vector>

namespace gpaksim::launcher {

// Starts argv (execvp), forwards SIGINT, SIGTERM, SIGHUP and SIGQUIT sent
// to the launcher to it, and waits for it to end. A signal that the
// terminal sends to the whole process group reaches the command by itself
// and is not sent again. Returns the command's wait status, or -1 when it
// could not be started (fork failed); a failed exec ends the child with
// 126 or 127, as env(1).
int Supervise(const std::vector<std::string>& argv);

// Ends the launcher as the command ended: with its exit status, or by the
// same signal (without a core dump of the launcher's own).
[[noreturn]] void ExitLike(int wait_status);

}  // namespace gpaksim::launcher
