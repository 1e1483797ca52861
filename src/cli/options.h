// The one table of gpakcfg's options: each row gives an option's
// spellings, its value, its line in the usage and the function that takes
// its value into the settings. The parser (settings.cpp), the usage and
// the test that holds gpakcfg(1) against the table all read it, so a new
// option is one row here, its entry in the manual page and, when it does
// not go with some others, a row in together.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/settings.h"

namespace cli {

// What the command line has said so far.
struct Draft {
    Settings settings;
    std::string bad_type;  // the first -t of another letter, checked at the end
};

struct Option {
    const char* short_name;  // "-t"; nullptr: none
    const char* long_name;   // "--save"; nullptr: none
    const char* value;       // what its value is ("FILE"); nullptr: it takes none
    // Its line in the usage, without the leading blank; nullptr: none of
    // its own (-f is not listed; --version shares the line of --help).
    const char* usage;
    // Takes value ("" for an option without one) into draft. Returns why
    // the value is refused (the caller names the option and the value
    // before it), or "" when it is taken.
    std::string (*take)(Draft& draft, const std::string& value);
};

// Every option, in the order of the usage.
const std::vector<Option>& OptionTable();

// The option spelt exactly so ("-t", "--save"), or nullptr.
const Option* FindOption(std::string_view spelling);

// Whether the option spelt so (in any of its spellings) stands anywhere
// before "--": -h and -q are looked for so, and hold for a command line
// that is refused too.
bool GivenBeforeEnd(int argc, char* argv[], std::string_view spelling);

// The usage: the synopsis with program, then each option's line.
void PrintUsage(const char* program);

}  // namespace cli
