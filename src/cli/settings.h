// The settings of one run and the parse of the command line into them;
// the options themselves are rows of the option table (options.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "chip/chip.h"
#include "cli/set_bytes.h"

namespace cli {

enum class Action {
    kRun,
    kUsage,      // no arguments, -h or --help: the usage, and nothing else
    kVersion,    // --version: the banner, and nothing else
    kScan,       // --scan: the chips that answer on the bus, writing nothing
    kListBuses,  // --list-buses: the machine's buses and what they offer
};

struct Settings {
    Action action = Action::kRun;
    ConfigType type = kConfigUnset;
    std::uint8_t code = 1;
    bool code_given = false;                 // -c was given (--scan refuses it)
    std::optional<std::string> write_file;   // -w: program the memory from it
    std::optional<std::string> verify_file;  // --verify: compare the memory with it
    std::optional<std::string> save_file;    // --save: write the read-back to it
    bool verify = true;                      // --no-verify: a write run does not compare
    std::string bus;                         // --bus: the node; /dev/i2c-1 by default
    std::optional<std::uint8_t> new_code;    // --new-code: the code an NVM run gives the chip
    std::vector<ByteSet> set_bytes;          // --set: bytes in place of the file's
    bool skip_identical = false;             // --skip-identical: no erase where it holds the file
    std::optional<std::string> log_file;     // --log: a JSON line of the run appended to it
    bool force = false;                      // --force: past a kernel driver at an address
};

struct ParsedSettings {
    Settings settings;
    // Why the command line is refused, naming the argument at fault;
    // empty when it is usable.
    std::string error;
    std::string bad_type;  // the first -t of another letter; empty: none
};

// Reads the command line. Options count wherever they stand; -t takes the
// first letter of its value (either case) and -c one hex digit, 0x before
// it allowed; of an option given twice the last counts; -f takes an
// argument and has no effect. Anything else is refused: an unknown option,
// an option without its argument, an argument that is not an option, a -t
// of another letter while another -t is valid, a -c that is not one hex
// digit. No -t at all (or only -t of other letters) leaves the type unset.
ParsedSettings ParseSettings(int argc, char* argv[]);

}  // namespace cli
