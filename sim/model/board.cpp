#include "model/board.h"

#include <algorithm>

namespace gpaksim {

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
