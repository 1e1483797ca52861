// How gpakcfg speaks on standard error: one line that starts with
// "gpakcfg: " and names the thing at fault, as warnx(3) and warn(3) do.
// The texts fixed since the first release are in texts.h.
#pragma once

namespace cli {

// "gpakcfg: " and the formatted line, then a line feed.
[[gnu::format(printf, 1, 2)]] void Say(const char* format, ...);

// The same, then ": " and the text of error (an errno value).
[[gnu::format(printf, 2, 3)]] void SayErrno(int error, const char* format, ...);

}  // namespace cli
