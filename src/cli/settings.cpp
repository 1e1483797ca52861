// The command line read into the settings of a run, option by option as
// the option table (options.cpp) says, then the rules of options together
// (together.cpp).
#include "cli/settings.h"

#include <optional>

#include "cli/options.h"
#include "cli/together.h"
#include "i2c/i2c.h"

namespace cli {

namespace {

// The parse of one command line, argument by argument.
class Parser {
public:
    Parser(int argc, char* argv[]) : argc_(argc), argv_(argv) {}

    ParsedSettings Run() {
        for (index_ = 1; index_ < argc_ && error_.empty(); ++index_) {
            Take(argv_[index_]);
        }
        if (error_.empty()) {
            CheckTogether();
        }
        return {draft_.settings, error_};
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
        // --name=VALUE or --name; -xVALUE or -x.
        const bool is_long = arg[1] == '-';
        const std::size_t equals = is_long ? arg.find('=') : std::string::npos;
        const std::string name = is_long ? arg.substr(0, equals) : arg.substr(0, 2);
        const Option* option = FindOption(name);
        if (option == nullptr) {
            Refuse(arg + ": unknown option (gpakcfg -h lists them)");
            return;
        }
        std::optional<std::string> value;
        if (is_long && equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (!is_long && arg.size() > 2) {
            value = arg.substr(2);
        }
        if (option->value == nullptr) {
            if (value) {
                Refuse(name + ": takes no value");
            } else {
                Apply(*option, name, "");
            }
            return;
        }
        if (!value) {
            // An option in the place of the value is a missing value.
            if (index_ + 1 >= argc_ || FindOption(argv_[index_ + 1]) != nullptr) {
                Refuse(name + ": " + option->value + " is missing");
                return;
            }
            value = argv_[++index_];
        }
        Apply(*option, name, *value);
    }

    // Of an option given twice the last value counts: each one taken
    // replaces the one before.
    void Apply(const Option& option, const std::string& name, const std::string& value) {
        const std::string refusal = option.take(draft_, value);
        if (!refusal.empty()) {
            Refuse(name + " " + value + ": " + refusal);
        }
    }

    void CheckTogether() {
        const Settings& s = draft_.settings;
        if (!draft_.bad_type.empty() && s.type != kConfigUnset) {
            Refuse("-t " + draft_.bad_type + ": TYPE is reg, nvm or eeprom");
        }
        Refuse(Refusal(Stage::kCommandLine, s));
    }

    // The first refusal is the one said.
    void Refuse(const std::string& error) {
        if (error_.empty() && !error.empty()) {
            error_ = error;
        }
    }

    int argc_;
    char** argv_;
    int index_ = 1;
    bool ended_ = false;  // after "--"
    Draft draft_;
    std::string error_;
};

}  // namespace

ParsedSettings ParseSettings(int argc, char* argv[]) {
    if (argc <= 1 || GivenBeforeEnd(argc, argv, "--help")) {
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
