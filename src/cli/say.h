// How gpakcfg speaks on standard error: one line that starts with
// "gpakcfg: " and names the thing at fault, as warnx(3) and warn(3) do.
// The texts fixed since the first release are in texts.h.
#pragma once

#include <string>

namespace cli {

// "gpakcfg: " and the formatted line, then a line feed.
[[gnu::format(printf, 1, 2)]] void Say(const char* format, ...);

// The same, then ": " and the text of error (an errno value).
[[gnu::format(printf, 2, 3)]] void SayErrno(int error, const char* format, ...);

// "gpakcfg: " and line, as Say writes it, for a line that tells of no
// fault (a wait for the bus): never the run's first fault.
void SayNotice(const std::string& line);

// The first line that Say or SayErrno wrote in this run, without its line
// feed (the log's "error"); empty while there is none.
const std::string& FirstFault();

}  // namespace cli
