// The option table, the functions that take each option's value, and the
// usage made from the table.
#include "cli/options.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "cli/texts.h"
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
    draft.settings.code_given = true;
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

std::string TakeByteSet(Draft& draft, const std::string& value) {
    return AddByteSet(draft.settings.set_bytes, value);
}

std::string Ignore(Draft& /*draft*/, const std::string& /*value*/) { return ""; }

// The value as a file name.
template <std::optional<std::string> Settings::*file>
std::string TakeFile(Draft& draft, const std::string& value) {
    draft.settings.*file = value;
    return "";
}

// An option without a value that sets what it names to to.
template <typename T, T Settings::*what, T to>
std::string Set(Draft& draft, const std::string& /*value*/) {
    draft.settings.*what = to;
    return "";
}

const Option kOptions[] = {
    {"-t", nullptr, "TYPE", texts::kUsageType, TakeType},
    {"-w", nullptr, "FILE", texts::kUsageWrite, TakeFile<&Settings::write_file>},
    {"-c", nullptr, "CODE", texts::kUsageCode, TakeCode},
    // Accepted for old scripts: its value is taken and has no effect.
    {"-f", nullptr, "ARG", nullptr, Ignore},
    {nullptr, "--no-verify", nullptr, "--no-verify skips comparing the memory with FILE after -w.",
     Set<bool, &Settings::verify, false>},
    {nullptr, "--verify", "FILE", "--verify FILE compares the memory with FILE, writing nothing.",
     TakeFile<&Settings::verify_file>},
    {nullptr, "--save", "FILE",
     "--save FILE writes the memory read back to FILE as a hex record file.",
     TakeFile<&Settings::save_file>},
    {nullptr, "--new-code", "N",
     "--new-code N gives the chip control code N (0..f) with -t nvm -w FILE.", TakeNewCode},
    {nullptr, "--bus", "N|PATH", "--bus N|PATH uses /dev/i2c-N or PATH instead of /dev/i2c-1.",
     TakeBus},
    {nullptr, "--scan", nullptr, "--scan lists the chips on the bus, writing nothing.",
     Set<Action, &Settings::action, Action::kScan>},
    {nullptr, "--list-buses", nullptr,
     "--list-buses lists the I2C buses, what they offer and whether they program.",
     Set<Action, &Settings::action, Action::kListBuses>},
    {nullptr, "--force", nullptr,
     "--force sends to the chip's addresses even where a kernel driver owns one.",
     Set<bool, &Settings::force, true>},
    {nullptr, "--set", "ADDR=HEX",
     "--set ADDR=HEX puts the bytes HEX into FILE from ADDR on (repeatable).", TakeByteSet},
    {nullptr, "--skip-identical", nullptr,
     "--skip-identical neither erases nor writes a memory that holds FILE.",
     Set<bool, &Settings::skip_identical, true>},
    {nullptr, "--log", "FILE", "--log FILE appends a line of JSON about the run to FILE.",
     TakeFile<&Settings::log_file>},
    // Looked for before the parse (GivenBeforeEnd), so that it holds for
    // a command line that is refused too.
    {"-q", "--quiet", nullptr, "-q, --quiet prints nothing on standard output.", Ignore},
    {"-h", "--help", nullptr, "-h, --help prints this usage; --version prints the version.",
     Set<Action, &Settings::action, Action::kUsage>},
    {nullptr, "--version", nullptr, nullptr, Set<Action, &Settings::action, Action::kVersion>},
};

}  // namespace

const std::vector<Option>& OptionTable() {
    // Built on first use, where a failure to allocate can be caught.
    static const std::vector<Option> options(std::begin(kOptions), std::end(kOptions));
    return options;
}

const Option* FindOption(std::string_view spelling) {
    for (const Option& option : kOptions) {
        if ((option.short_name != nullptr && spelling == option.short_name) ||
            (option.long_name != nullptr && spelling == option.long_name)) {
            return &option;
        }
    }
    return nullptr;
}

std::vector<std::string_view> Spellings() {
    std::vector<std::string_view> spellings;
    for (const Option& option : kOptions) {
        for (const char* name : {option.short_name, option.long_name}) {
            if (name != nullptr) {
                spellings.emplace_back(name);
            }
        }
    }
    return spellings;
}

bool GivenBeforeEnd(int argc, char* argv[], std::string_view spelling) {
    const Option* wanted = FindOption(spelling);
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (FindOption(argv[i]) == wanted) {
            return true;
        }
    }
    return false;
}

void PrintUsage(const char* program) {
    std::printf(texts::kSynopsis, program);
    for (const Option& option : kOptions) {
        if (option.usage != nullptr) {
            std::printf(" %s\n", option.usage);
        }
    }
}

}  // namespace cli
