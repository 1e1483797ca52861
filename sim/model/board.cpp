#include "model/board.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "knobs/options.h"
#include "model/state_file.h"
#include "node/node_path.h"

namespace gpaksim {

namespace {

bool ParseCode(const std::string& text, std::uint8_t& code) {
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(s, &end, 0);
    if (end == s || *end != '\0' || errno != 0 || value < 0 || value > 15) {
        return false;
    }
    code = static_cast<std::uint8_t>(value);
    return true;
}

// A bus as the programs of the run see it wherever they run: absolute.
bool AbsoluteBus(const std::string& text, std::string& bus, std::string& error) {
    bus = BusPath(text);
    if (bus.find_first_of(", \t\n") != std::string::npos) {
        error = "a bus with a comma or a blank: '" + text + "'";
        return false;
    }
    if (bus[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) {
            error = "cannot tell the working directory for '" + text + "'";
            return false;
        }
        bus = std::string(cwd) + "/" + bus;
    }
    return true;
}

bool ParseChip(const std::string& text, ChipPlacement& chip, std::string& error) {
    const std::size_t colon = text.rfind(':');
    const std::string code = colon == std::string::npos ? text : text.substr(colon + 1);
    if (!ParseCode(code, chip.code)) {
        error = "invalid control code '" + code + "' in '" + text + "' ([BUS:]CODE, CODE 0..15)";
        return false;
    }
    if (colon == std::string::npos) {
        return true;
    }
    if (colon == 0) {
        error = "an empty bus in '" + text + "' ([BUS:]CODE)";
        return false;
    }
    return AbsoluteBus(text.substr(0, colon), chip.bus, error);
}

}  // namespace

bool ParseChips(const std::string& text, std::vector<ChipPlacement>& chips, std::string& error) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        ChipPlacement chip;
        if (!ParseChip(text.substr(start, comma - start), chip, error)) {
            return false;
        }
        if (chips.size() == kMaxChips) {
            error = "more than " + std::to_string(kMaxChips) + " chips";
            return false;
        }
        chips.push_back(chip);
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

std::string FormatChips(const std::vector<ChipPlacement>& chips) {
    std::string text;
    for (const ChipPlacement& chip : chips) {
        text += text.empty() ? "" : ",";
        text += chip.bus.empty() ? "" : chip.bus + ":";
        text += std::to_string(chip.code);
    }
    return text;
}

std::vector<std::string> RunNodes(const std::vector<ChipPlacement>& chips,
                                  const std::string& default_node) {
    std::vector<std::string> nodes;
    for (const ChipPlacement& chip : chips) {
        const std::string& node = chip.bus.empty() ? default_node : chip.bus;
        if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) {
            nodes.push_back(node);
        }
    }
    if (nodes.empty()) {
        nodes.push_back(default_node);
    }
    return nodes;
}

Options WithNodesResolved(const Options& options) {
    Options resolved = options;
    const std::string node = ResolvePath(AT_FDCWD, options.node_path);
    resolved.node_path = node.empty() ? options.node_path : node;
    for (ChipPlacement& chip : resolved.chips) {
        const std::string bus = chip.bus.empty() ? std::string() : ResolvePath(AT_FDCWD, chip.bus);
        chip.bus = bus.empty() ? chip.bus : bus;
    }
    return resolved;
}

std::vector<std::string> NodesFromEnvironment() {
    Options options;
    const char* bus = std::getenv("GPAK_SIM_BUS");
    if (bus != nullptr && bus[0] != '\0') {
        options.node_path = BusPath(bus);
    }
    const char* chips = std::getenv("GPAK_SIM_CHIPS");
    std::string error;
    if (chips != nullptr && chips[0] != '\0' && !ParseChips(chips, options.chips, error)) {
        options.chips.clear();
    }
    options = WithNodesResolved(options);
    return RunNodes(options.chips, options.node_path);
}

void PlaceChips(SimState& state, const std::vector<ChipPlacement>& placements) {
    for (std::size_t i = 0; i < placements.size() && i < kMaxChips; ++i) {
        if (i == state.ChipCount()) {
            state.more_chips.push_back(DefaultChip());
            SetControlCode(state.more_chips.back(), placements[i].code);
        } else if (state.ChipAt(i).bus.empty()) {
            SetControlCode(state.ChipAt(i), placements[i].code);
        }
        state.ChipAt(i).bus = placements[i].bus;
    }
}

std::vector<std::size_t> ChipsOn(const SimState& state, std::size_t run_chips,
                                 const std::string& node, const std::string& default_node) {
    std::vector<std::size_t> chips;
    for (std::size_t i = 0; i < run_chips && i < state.ChipCount(); ++i) {
        const std::string& bus = state.ChipAt(i).bus;
        if (bus.empty() ? node == default_node : bus == node) {
            chips.push_back(i);
        }
    }
    return chips;
}

bool WiredMessage(SimState& state, const std::vector<std::size_t>& chips, const ChipKnobs& knobs,
                  std::uint16_t addr, bool read, std::vector<std::uint8_t>& bytes, std::size_t len,
                  std::int64_t now, std::vector<bool>& took) {
    if (chips.size() == 1) {  // the common case, without copies
        const bool ack =
            ChipModel(state.ChipAt(chips[0]), knobs).Message(addr, read, bytes, len, now);
        took[0] = took[0] || ack;
        return ack;
    }
    bool ack = false;
    std::vector<std::uint8_t> wired(read ? len : 0, 0xFF);  // released lines read as ones
    std::vector<std::uint8_t> own;
    for (std::size_t i = 0; i < chips.size(); ++i) {
        ChipModel model(state.ChipAt(chips[i]), knobs);
        // A write leaves bytes as it is; a read fills a buffer of the chip's own.
        if (!model.Message(addr, read, read ? own : bytes, len, now)) {
            continue;
        }
        ack = true;
        took[i] = true;
        for (std::size_t j = 0; read && j < len; ++j) {
            wired[j] &= own[j];
        }
    }
    if (read && ack) {
        bytes = std::move(wired);
    }
    return ack;
}

}  // namespace gpaksim
