// gpakcfg's exit statuses.
#pragma once

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // the chip did not end as asked, or the run could not reach it
constexpr int kExitUsage = 255;  // unusable command line or configuration file

}  // namespace cli
