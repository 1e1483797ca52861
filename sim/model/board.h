// The chips of a simulated run on their buses: where --chip puts them, how
// the state takes them, which chips answer on a node, and a message
// on a bus where several chips may answer one address. The bus is open
// drain: each chip that acknowledges takes every write, a read returns the
// bitwise AND of their bytes, and the bus acknowledges when any chip does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/chip_model.h"
#include "model/state_file.h"

namespace gpaksim {

// One --chip: a chip on the node bus (empty: the node of --bus) that has
// control code code when it is made.
struct ChipPlacement {
    std::string bus;
    std::uint8_t code = 1;
};

// The nodes a run answers, each once, in the order of its chips: the buses
// of chips, or default_node alone when there are none. A chip without a
// bus is on default_node.
std::vector<std::string> RunNodes(const std::vector<ChipPlacement>& chips,
                                  const std::string& default_node);

// Gives state the chips of placements, whose buses are absolute paths:
// chip N is the Nth placement. A chip the state lacks is made fresh with
// the placement's code; a chip it has keeps its memories and its control
// code, as a chip on a board does, and is put on the placement's bus. The
// chip of a one-chip state (never placed on a bus) takes the code of the
// first placement. Chips beyond the placements are left as they are.
void PlaceChips(SimState& state, const std::vector<ChipPlacement>& placements);

// The indexes of the chips that answer on node: of the first run_chips
// chips of state, those placed on node, and a chip placed on no bus when
// node is default_node.
std::vector<std::size_t> ChipsOn(const SimState& state, std::size_t run_chips,
                                 const std::string& node, const std::string& default_node);

// One message to addr on a bus with the chips of state at indexes chips.
// For a write, bytes holds the bytes sent; for a read, bytes is filled with
// len bytes. Sets took[i] for each chip i (of chips) that acknowledged.
// Returns whether any acknowledged.
bool WiredMessage(SimState& state, const std::vector<std::size_t>& chips, const ChipKnobs& knobs,
                  std::uint16_t addr, bool read, std::vector<std::uint8_t>& bytes, std::size_t len,
                  std::int64_t now, std::vector<bool>& took);

}  // namespace gpaksim
