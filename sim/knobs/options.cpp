#include "knobs/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "knobs/knob_text.h"

namespace gpaksim {

namespace {

// Each Take* takes a knob's text into options, as Knob::parse.
bool TakeName(std::string& name, const std::string& text, std::string& error) {
    name = text;
    if (text.empty()) {
        error = "an empty name";
    }
    return !text.empty();
}

// A switch takes "1" to turn on and "" or "0" to turn off.
bool TakeSwitch(bool& on, const std::string& text) {
    on = !text.empty() && text != "0";
    return true;
}

std::string SwitchText(bool on) { return on ? "1" : ""; }

// --code sets the code of the one chip; each --chip has its own.
bool NotWithChips(const Options& options, const char* other, std::string& error) {
    if (options.code >= 0 && !options.chips.empty()) {
        error = std::string("not with --") + other + " (each --chip gives its chip a code)";
        return false;
    }
    return true;
}

bool TakeCode(Options& o, const std::string& t, std::string& error) {
    long code = 0;
    if (!ParseNumber(t, 0, 15, code)) {
        error = "invalid control code '" + t + "' (0..15)";
        return false;
    }
    o.code = static_cast<int>(code);
    return NotWithChips(o, "chip", error);
}

bool TakeChips(Options& o, const std::string& t, std::string& error) {
    return ParseChips(t, o.chips, error) && NotWithChips(o, "code", error);
}

bool TakeErrno(Options& o, const std::string& t, std::string& error) {
    if (t == "eremoteio" || t == "EREMOTEIO") {
        o.nack_error = NackError::kRemoteIo;
    } else if (t == "enxio" || t == "ENXIO") {
        o.nack_error = NackError::kNoDevice;
    } else {
        error = "invalid errno '" + t + "' (eremoteio or enxio)";
        return false;
    }
    return true;
}

bool TakeAdapter(Options& o, const std::string& t, std::string& error) {
    const AdapterRow* adapter = FindAdapter(t);
    if (adapter == nullptr) {
        error = "unknown adapter '" + t + "' (" + AdapterNames() + ")";
        return false;
    }
    o.adapter = adapter;
    return true;
}

bool TakeFunctionality(Options& o, const std::string& t, std::string& error) {
    if (!ParseNumber(t, 0, 0xFFFFFFFL, o.functionality)) {
        error = "invalid functionality '" + t + "' (0x0..0xfffffff)";
        return false;
    }
    return true;
}

// Comma-separated addresses, added to those already bound.
bool TakeBound(Options& o, const std::string& t, std::string& error) {
    std::stringstream items(t);
    std::string item;
    while (std::getline(items, item, ',')) {
        long addr = 0;
        if (!ParseNumber(item, 0, 0x7F, addr)) {
            error = "invalid address '" + item + "' (0x00..0x7f)";
            return false;
        }
        o.bound.push_back(static_cast<std::uint8_t>(addr));
    }
    return true;
}

std::string BoundText(const Options& o) {
    std::string text;
    for (const std::uint8_t addr : o.bound) {
        char item[8];
        std::snprintf(item, sizeof item, "0x%02x", addr);
        text += (text.empty() ? "" : ",") + std::string(item);
    }
    return text;
}

bool TakeEpoch(Options& o, const std::string& t, std::string& error) {
    char* end = nullptr;
    errno = 0;
    const long long epoch = std::strtoll(t.c_str(), &end, 10);
    if (end == t.c_str() || *end != '\0' || errno != 0 || epoch < 0) {
        error = "invalid epoch '" + t + "'";
        return false;
    }
    o.epoch_ns = epoch;
    return true;
}

using Text = const std::string&;

// Built on first use, where a failure to allocate can be caught.
const std::vector<Knob>& KnobTable() {
    static const std::vector<Knob> knobs = {
        {"state", "FILE", "GPAK_SIM_STATE", "keep the chip in FILE, shared by all who use it",
         [](Options& o, Text t, std::string& e) { return TakeName(o.state_path, t, e); },
         [](const Options& o) { return o.state_path; }},
        {"trace", "FILE", "GPAK_SIM_TRACE", "append a line per transfer to FILE ('-': stderr)",
         [](Options& o, Text t, std::string& e) { return TakeName(o.trace_path, t, e); },
         [](const Options& o) { return o.trace_path; }},
        {"bus", "N|PATH", "GPAK_SIM_BUS", "answer /dev/i2c-N (or PATH) instead of /dev/i2c-1",
         [](Options& o, Text t, std::string& e) { return TakeName(o.node_path, BusPath(t), e); },
         [](const Options& o) { return o.node_path == kDefaultNode ? "" : o.node_path; }},
        {"code", "N", "GPAK_SIM_CODE", "set the chip's control code to N (0..15, 0x0..0xf)",
         TakeCode, [](const Options& o) { return o.code < 0 ? "" : std::to_string(o.code); }},
        {"chip", "[BUS:]CODE", "GPAK_SIM_CHIPS",
         "a chip at code CODE on BUS (default: --bus); repeatable", TakeChips,
         [](const Options& o) { return FormatChips(o.chips); }},
        {"nack", "ADDR[:REG]", "GPAK_SIM_NACK",
         "NACK transfers to ADDR (writes of REG only); repeatable",
         [](Options& o, Text t, std::string& e) { return ParseNacks(t, o.knobs.nacks, e); },
         [](const Options& o) { return FormatNacks(o.knobs.nacks); }},
        {"errno", "NAME", "GPAK_SIM_ERRNO",
         "a NACK fails with eremoteio or enxio, whatever the adapter", TakeErrno,
         [](const Options& o) {
             return std::string(o.nack_error == NackError::kNoDevice   ? "enxio"
                                : o.nack_error == NackError::kRemoteIo ? "eremoteio"
                                                                       : "");
         }},
        {"adapter", "NAME", "GPAK_SIM_ADAPTER",
         "answer as the Linux adapter NAME does (bcm2835, the default; see the manual)",
         TakeAdapter,
         [](const Options& o) {
             return o.adapter == &Adapters().front() ? std::string() : o.adapter->name;
         }},
        {"functionality", "BITS", "GPAK_SIM_FUNCTIONALITY",
         "report BITS for I2C_FUNCS instead of the adapter's", TakeFunctionality,
         [](const Options& o) {
             char bits[16];
             std::snprintf(bits, sizeof bits, "0x%lx", o.functionality);
             return o.functionality < 0 ? std::string() : std::string(bits);
         }},
        {"bound", "ADDR", "GPAK_SIM_BOUND",
         "a kernel driver owns ADDR (I2C_SLAVE: EBUSY); repeatable", TakeBound, BoundText},
        {"unacked-commands", nullptr, "GPAK_SIM_UNACKED_COMMANDS",
         "carry out erase and reset commands, NACK them",
         [](Options& o, Text t, std::string&) { return TakeSwitch(o.knobs.unacked_commands, t); },
         [](const Options& o) { return SwitchText(o.knobs.unacked_commands); }},
        {"no-node", nullptr, "GPAK_SIM_NO_NODE", "act as if the node did not exist",
         [](Options& o, Text t, std::string&) { return TakeSwitch(o.no_node, t); },
         [](const Options& o) { return SwitchText(o.no_node); }},
        {"absent", nullptr, "GPAK_SIM_ABSENT", "no chip on the bus: nothing acknowledges",
         [](Options& o, Text t, std::string&) { return TakeSwitch(o.knobs.absent, t); },
         [](const Options& o) { return SwitchText(o.knobs.absent); }},
        {"virtual-time", nullptr, "GPAK_SIM_VIRTUAL_TIME",
         "sleeps return at once, advancing the clock",
         [](Options& o, Text t, std::string&) { return TakeSwitch(o.virtual_time, t); },
         [](const Options& o) { return SwitchText(o.virtual_time); }},
        {nullptr, nullptr, "GPAK_SIM_EPOCH", nullptr, TakeEpoch,
         [](const Options& o) { return o.epoch_ns > 0 ? std::to_string(o.epoch_ns) : ""; }},
    };
    return knobs;
}

}  // namespace

const std::vector<Knob>& Knobs() { return KnobTable(); }

Options OptionsFromEnvironment(std::vector<std::string>& problems) {
    Options options;
    for (const Knob& knob : Knobs()) {
        const char* value = std::getenv(knob.env);
        if (value == nullptr || value[0] == '\0') {
            continue;
        }
        std::string error;
        Options parsed = options;
        if (knob.parse(parsed, value, error)) {
            options = parsed;
        } else {
            problems.push_back("ignoring " + std::string(knob.env) + ": " + error);
        }
    }
    return options;
}

void ExportOptions(const Options& options) {
    for (const Knob& knob : Knobs()) {
        const std::string value = knob.format(options);
        if (value.empty()) {
            unsetenv(knob.env);
        } else {
            setenv(knob.env, value.c_str(), 1);
        }
    }
}

std::vector<std::string> Emulator() {
    std::vector<std::string> words;
    if (const char* value = std::getenv(kEmulatorVariable)) {
        std::istringstream in(value);
        std::string word;
        while (in >> word) {
            words.push_back(word);
        }
    }
    return words;
}

}  // namespace gpaksim
