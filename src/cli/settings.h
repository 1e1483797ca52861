// The command line, read into the settings of one run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "chip/chip.h"

namespace cli {

struct Settings {
    bool usage = false;  // print the usage and do nothing else
    ConfigType type = kConfigUnset;
    std::uint8_t code = 1;
    std::optional<std::string> write_file;  // -w: program the memory from it
    std::optional<std::string> save_file;   // --save: write the read-back to it
};

// Reads the command line leniently: options count wherever they stand;
// other arguments, unknown options and options without their argument are
// skipped; -t and -c take the first character of their value and keep the
// earlier value when it is not valid; the last valid value counts. No
// arguments, or -h as the first one, ask for the usage.
Settings ParseSettings(int argc, char* argv[]);

}  // namespace cli
