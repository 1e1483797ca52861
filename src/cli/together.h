// Which options go together: one table of the combinations gpakcfg
// refuses, each with the line that says why. Every refusal of options
// together comes from it.
#pragma once

#include <string>

#include "cli/settings.h"

namespace cli {

// When a rule is checked.
enum class Stage {
    kCommandLine,  // as the command line is read, before the type check
    kFiles,        // after the type check: the files named, as they are
};

// The first rule of stage that settings break, as "gpakcfg: " says it;
// "" when they break none.
std::string Refusal(Stage stage, const Settings& settings);

}  // namespace cli
