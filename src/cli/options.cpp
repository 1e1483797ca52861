// The option table, the functions that take each option's value, and the
// usage made from the table.
#include "cli/options.h"

#include <cstdio>
#include <optional>

#include "common/hex_digit.h"

namespace cli {

namespace {

// Only the first letter counts, in either case.
std::string TakeType(Draft& draft, const std::string& value) {
    switch (value.empty() ? '\0' : value[0]) {
        case 'r':
        case 'R':
            draft.settings.type = kConfigReg;
            break;
        case 'n':
        case 'N':
            draft.settings.type = kConfigNvm;
            break;
        case 'e':
        case 'E':
            draft.settings.type = kConfigEeprom;
            break;
        default:
            // Refused at the end, and only when another -t is valid: alone
            // it leaves the type unset.
            if (draft.bad_type.empty()) {
                draft.bad_type = value.empty() ? "''" : value;
            }
            break;
    }
    return "";
}

// A control code: one hex digit, 0x before it allowed ("c", "C", "0xC").
std::optional<std::uint8_t> ControlCode(std::string_view digit) {
    if (digit.size() == 3 && digit[0] == '0' && (digit[1] == 'x' || digit[1] == 'X')) {
        digit.remove_prefix(2);
    }
    const int digit_value = digit.size() == 1 ? common::HexDigitValue(digit[0]) : -1;
    if (digit_value < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(digit_value);
}

std::string TakeCode(Draft& draft, const std::string& value) {
    const std::optional<std::uint8_t> code = ControlCode(value);
    if (!code) {
        return "CODE is one hex digit, 0 to f";
    }
    draft.settings.code = *code;
    draft.code_given = true;
    return "";
}

std::string TakeNewCode(Draft& draft, const std::string& value) {
    draft.settings.new_code = ControlCode(value);
    return draft.settings.new_code ? "" : "N is one hex digit, 0 to f, as for -c";
}

// N is /dev/i2c-N; anything with a slash is a path.
std::string TakeBus(Draft& draft, const std::string& value) {
    if (!value.empty() && value.size() <= 6 &&
        value.find_first_not_of("0123456789") == std::string::npos) {
        draft.settings.bus = "/dev/i2c-" + std::to_string(std::stoul(value));
    } else if (value.find('/') != std::string::npos) {
        draft.settings.bus = value;
    } else {
        return "a bus number (/dev/i2c-N) or a path";
    }
    return "";
}

std::string TakeUsage(Draft& draft, const std::string& /*value*/) {
    draft.settings.action = Action::kUsage;
    return "";
}

// Built on first use, where a failure to allocate can be caught.
const std::vector<Option>& Table() {
    static const std::vector<Option> options = {
        {"-t", nullptr, "TYPE", "-t is config type, TYPE is {reg|nvm|eeprom}.", TakeType},
        {"-w", nullptr, "FILE", "-w is write operation, FILE is configration file path..",
         [](Draft& d, const std::string& v) {
             d.settings.write_file = v;
             return std::string();
         }},
        {"-c", nullptr, "CODE", "-c control code, CODE is {0..f}. Default is 1.", TakeCode},
        // Accepted for old scripts: its value is taken and has no effect.
        {"-f", nullptr, "ARG", nullptr, [](Draft&, const std::string&) { return std::string(); }},
        {nullptr, "--no-verify", nullptr,
         "--no-verify skips comparing the memory with FILE after -w.",
         [](Draft& d, const std::string&) {
             d.settings.verify = false;
             return std::string();
         }},
        {nullptr, "--verify", "FILE",
         "--verify FILE compares the memory with FILE, writing nothing.",
         [](Draft& d, const std::string& v) {
             d.settings.verify_file = v;
             return std::string();
         }},
        {nullptr, "--save", "FILE",
         "--save FILE writes the memory read back to FILE as a hex record file.",
         [](Draft& d, const std::string& v) {
             d.settings.save_file = v;
             return std::string();
         }},
        {nullptr, "--new-code", "N",
         "--new-code N gives the chip control code N (0..f) with -t nvm -w FILE.", TakeNewCode},
        {nullptr, "--bus", "N|PATH", "--bus N|PATH uses /dev/i2c-N or PATH instead of /dev/i2c-1.",
         TakeBus},
        {nullptr, "--scan", nullptr, "--scan lists the chips on the bus, writing nothing.",
         [](Draft& d, const std::string&) {
             d.settings.action = Action::kScan;
             return std::string();
         }},
        {nullptr, "--list-buses", nullptr,
         "--list-buses lists the I2C buses, what they offer and whether they program.",
         [](Draft& d, const std::string&) {
             d.settings.action = Action::kListBuses;
             return std::string();
         }},
        {nullptr, "--force", nullptr,
         "--force sends to the chip's addresses even where a kernel driver owns one.",
         [](Draft& d, const std::string&) {
             d.settings.force = true;
             return std::string();
         }},
        {nullptr, "--set", "ADDR=HEX",
         "--set ADDR=HEX puts the bytes HEX into FILE from ADDR on (repeatable).",
         [](Draft& d, const std::string& v) { return AddByteSet(d.settings.set_bytes, v); }},
        {nullptr, "--skip-identical", nullptr,
         "--skip-identical neither erases nor writes a memory that holds FILE.",
         [](Draft& d, const std::string&) {
             d.settings.skip_identical = true;
             return std::string();
         }},
        {nullptr, "--log", "FILE", "--log FILE appends a line of JSON about the run to FILE.",
         [](Draft& d, const std::string& v) {
             d.settings.log_file = v;
             return std::string();
         }},
        // Looked for before the parse (quiet.cpp), so that it holds for a
        // command line that is refused too.
        {"-q", "--quiet", nullptr, "-q, --quiet prints nothing on standard output.",
         [](Draft&, const std::string&) { return std::string(); }},
        {"-h", "--help", nullptr, "-h, --help prints this usage; --version prints the version.",
         TakeUsage},
        {nullptr, "--version", nullptr, nullptr,
         [](Draft& d, const std::string&) {
             d.settings.action = Action::kVersion;
             return std::string();
         }},
    };
    return options;
}

}  // namespace

const std::vector<Option>& OptionTable() { return Table(); }

const Option* FindOption(std::string_view spelling) {
    for (const Option& option : Table()) {
        if ((option.short_name != nullptr && spelling == option.short_name) ||
            (option.long_name != nullptr && spelling == option.long_name)) {
            return &option;
        }
    }
    return nullptr;
}

bool AsksForUsage(const Option& option) { return option.take == TakeUsage; }

void PrintUsage(const char* program) {
    std::printf("Usage: %s [-t TYPE] [-w FILE] [-c CODE] \n", program);
    for (const Option& option : Table()) {
        if (option.usage != nullptr) {
            std::printf(" %s\n", option.usage);
        }
    }
}

}  // namespace cli
