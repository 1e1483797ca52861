#include "launcher/launch_options.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace gpaksim::launcher {

namespace {

constexpr int kHelp = 'h';
constexpr int kVersion = 1000;
constexpr int kFirstKnob = 1001;

// Whether the command-line element of a long option spells its whole name:
// getopt_long also takes any unambiguous prefix, which a later option
// could make ambiguous or change the meaning of in a saved command line.
bool SpelledOut(const char* element, const char* name) {
    const std::string given(element);
    return given.compare(2, given.find('=') - 2, name) == 0;
}

}  // namespace

void Fail(const std::string& message, int status) { throw LaunchError{status, message}; }

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: gpak-sim [OPTION]... -- COMMAND [ARG]...\n"
        "Run COMMAND with simulated GreenPAK chips on simulated I2C buses, where no\n"
        "real I2C node can be reached: one chip on /dev/i2c-1 (or the node of --bus),\n"
        "or the chips of --chip, several on one bus or on several buses.\n\n",
        out);
    for (const Knob& knob : Knobs()) {
        if (knob.option == nullptr) {
            continue;
        }
        std::string name = std::string("--") + knob.option;
        if (knob.argument != nullptr) {
            name += std::string(" ") + knob.argument;
        }
        std::fprintf(out, "  %-21s %s\n", name.c_str(), knob.help);
    }
    std::fputs(
        "  -h, --help            show this help\n"
        "  --version             show the version\n",
        out);
}

ParsedLaunch ParseLaunchOptions(int argc, char* argv[]) {
    ParsedLaunch parsed;
    std::vector<option> long_options;
    const std::vector<Knob>& knobs = Knobs();
    for (std::size_t i = 0; i < knobs.size(); ++i) {
        if (knobs[i].option != nullptr) {
            long_options.push_back({knobs[i].option,
                                    knobs[i].argument != nullptr ? required_argument : no_argument,
                                    nullptr, kFirstKnob + static_cast<int>(i)});
        }
    }
    long_options.push_back({"help", no_argument, nullptr, kHelp});
    long_options.push_back({"version", no_argument, nullptr, kVersion});
    long_options.push_back({nullptr, 0, nullptr, 0});

    opterr = 0;
    optind = 0;
    // '+': the options end at COMMAND, whose own options are its business.
    for (;;) {
        const int element = optind == 0 ? 1 : optind;
        int index = -1;
        const int opt = getopt_long(argc, argv, "+:h", long_options.data(), &index);
        if (opt == -1) {
            break;
        }
        if (index >= 0 && !SpelledOut(argv[element], long_options[index].name)) {
            parsed.error = "unknown option '" + std::string(argv[element]) + "'";
            return parsed;
        }
        if (opt == kHelp) {
            parsed.settings.help = true;
        } else if (opt == kVersion) {
            parsed.settings.version = true;
        } else if (opt >= kFirstKnob) {
            const Knob& knob = knobs[static_cast<std::size_t>(opt - kFirstKnob)];
            std::string error;
            if (!knob.parse(parsed.settings.sim, optarg != nullptr ? optarg : "1", error)) {
                parsed.error = "--" + std::string(knob.option) + ": " + error;
                return parsed;
            }
        } else {
            const std::string given = argv[optind - 1] != nullptr ? argv[optind - 1] : "";
            parsed.error = opt == ':' ? "option '" + given + "' needs an argument"
                                      : "unknown option '" + given + "'";
            return parsed;
        }
    }
    if (parsed.settings.help || parsed.settings.version) {
        parsed.ok = true;
        return parsed;
    }
    parsed.settings.command.assign(argv + optind, argv + argc);
    if (parsed.settings.command.empty()) {
        parsed.error = "no COMMAND to run";
        return parsed;
    }
    parsed.ok = true;
    return parsed;
}

}  // namespace gpaksim::launcher
