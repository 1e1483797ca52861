// --verify FILE: the memory compared with what -w FILE would have sent.
#pragma once

#include "cli/runs/context.h"

namespace cli::runs {

// Returns the exit status: 0 when the memory holds it.
int VerifyRun(const Context& run);

}  // namespace cli::runs
