#include "cli/settings.h"

#include <cstring>
#include <string_view>

#include "common/hex_digit.h"
#include "i2c/i2c.h"

namespace cli {

namespace {

enum class Takes { kNothing, kValue };

struct KnownOption {
    const char* name;  // "-t", "--save"
    Takes takes;
    const char* value;  // what the value is, for messages
};

constexpr KnownOption kOptions[] = {
    {"-t", Takes::kValue, "TYPE"},           {"-w", Takes::kValue, "FILE"},
    {"-c", Takes::kValue, "CODE"},           {"-f", Takes::kValue, "ARG"},
    {"-h", Takes::kNothing, nullptr},        {"--help", Takes::kNothing, nullptr},
    {"--version", Takes::kNothing, nullptr}, {"--no-verify", Takes::kNothing, nullptr},
    {"--verify", Takes::kValue, "FILE"},     {"--save", Takes::kValue, "FILE"},
    {"--bus", Takes::kValue, "N|PATH"},
};

const KnownOption* Find(std::string_view name) {
    for (const KnownOption& known : kOptions) {
        if (name == known.name) {
            return &known;
        }
    }
    return nullptr;
}

std::optional<ConfigType> TypeOf(const std::string& value) {
    switch (value.empty() ? '\0' : value[0]) {
        case 'r':
        case 'R':
            return kConfigReg;
        case 'n':
        case 'N':
            return kConfigNvm;
        case 'e':
        case 'E':
            return kConfigEeprom;
        default:
            return std::nullopt;
    }
}

// One hex digit, 0x before it allowed: "c", "C", "0xC".
std::optional<std::uint8_t> CodeOf(const std::string& value) {
    std::string_view digit = value;
    if (digit.size() == 3 && digit[0] == '0' && (digit[1] == 'x' || digit[1] == 'X')) {
        digit.remove_prefix(2);
    }
    if (digit.size() != 1) {
        return std::nullopt;
    }
    const int digit_value = gpakcfg::HexDigitValue(digit[0]);
    return digit_value < 0 ? std::nullopt : std::optional<std::uint8_t>(digit_value);
}

// N is /dev/i2c-N; anything with a slash is a path.
std::optional<std::string> BusOf(const std::string& value) {
    if (!value.empty() && value.size() <= 6 &&
        value.find_first_not_of("0123456789") == std::string::npos) {
        return "/dev/i2c-" + std::to_string(std::stoul(value));
    }
    if (value.find('/') != std::string::npos) {
        return value;
    }
    return std::nullopt;
}

bool AsksForHelp(int argc, char* argv[]) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            return true;
        }
    }
    return false;
}

// The parse of one command line, argument by argument.
class Parser {
public:
    Parser(int argc, char* argv[]) : argc_(argc), argv_(argv) {}

    ParsedSettings Run() {
        for (index_ = 1; index_ < argc_ && result_.error.empty(); ++index_) {
            Take(argv_[index_]);
        }
        if (result_.error.empty()) {
            CheckTogether();
        }
        return result_;
    }

private:
    void Take(const std::string& arg) {
        if (arg == "--") {
            ended_ = true;
            return;
        }
        if (ended_ || arg.size() < 2 || arg[0] != '-') {
            Refuse(arg + ": not an option (a file to program goes after -w)");
            return;
        }
        const bool is_long = arg[1] == '-';
        const std::size_t equals = is_long ? arg.find('=') : std::string::npos;
        const std::string name = is_long ? arg.substr(0, equals) : arg.substr(0, 2);
        const KnownOption* known = Find(name);
        if (known == nullptr) {
            Refuse(arg + ": unknown option (gpakcfg -h lists them)");
            return;
        }
        std::optional<std::string> value;
        if (is_long && equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (!is_long && arg.size() > 2) {
            value = arg.substr(2);
        }
        if (known->takes == Takes::kNothing) {
            if (value) {
                Refuse(name + ": takes no value");
            } else {
                Apply(*known, "");
            }
            return;
        }
        if (!value) {
            // An option in the place of the value is a missing value.
            if (index_ + 1 >= argc_ || Find(argv_[index_ + 1]) != nullptr) {
                Refuse(name + ": " + known->value + " is missing");
                return;
            }
            value = argv_[++index_];
        }
        Apply(*known, *value);
    }

    void Apply(const KnownOption& known, const std::string& value) {
        Settings& s = result_.settings;
        const std::string_view name = known.name;
        if (name == "-t") {
            if (const auto type = TypeOf(value)) {
                s.type = *type;
            } else if (bad_type_.empty()) {
                bad_type_ = value.empty() ? "''" : value;
            }
        } else if (name == "-c") {
            const auto code = CodeOf(value);
            if (!code) {
                Refuse("-c " + value + ": CODE is one hex digit, 0 to f");
                return;
            }
            s.code = *code;
        } else if (name == "-w") {
            s.write_file = value;
        } else if (name == "--verify") {
            s.verify_file = value;
        } else if (name == "--save") {
            s.save_file = value;
        } else if (name == "--no-verify") {
            s.verify = false;
        } else if (name == "--bus") {
            const auto bus = BusOf(value);
            if (!bus) {
                Refuse("--bus " + value + ": a bus number (/dev/i2c-N) or a path");
                return;
            }
            s.bus = *bus;
        } else if (name == "--version") {
            version_ = true;
        }  // -f: its argument is taken and has no effect
    }

    void CheckTogether() {
        Settings& s = result_.settings;
        if (!bad_type_.empty() && s.type != kConfigUnset) {
            Refuse("-t " + bad_type_ + ": TYPE is reg, nvm or eeprom");
        } else if (s.write_file && s.verify_file) {
            Refuse("--verify: not with -w, whose run compares by itself");
        } else if (s.verify_file && !s.verify) {
            Refuse("--no-verify: not with --verify");
        } else if (s.verify_file && s.type == kConfigReg) {
            Refuse("--verify: the registers hold live bits, so they are never compared");
        } else if (version_) {
            s.action = Action::kVersion;
        }
    }

    void Refuse(const std::string& error) {
        if (result_.error.empty()) {
            result_.error = error;
        }
    }

    int argc_;
    char** argv_;
    int index_ = 1;
    bool ended_ = false;  // after "--"
    bool version_ = false;
    std::string bad_type_;  // the first -t of another letter
    ParsedSettings result_;
};

}  // namespace

ParsedSettings ParseSettings(int argc, char* argv[]) {
    if (argc <= 1 || AsksForHelp(argc, argv)) {
        ParsedSettings usage;
        usage.settings.action = Action::kUsage;
        return usage;
    }
    ParsedSettings parsed = Parser(argc, argv).Run();
    if (parsed.settings.bus.empty()) {
        parsed.settings.bus = kDefaultDevice;
    }
    return parsed;
}

}  // namespace cli
