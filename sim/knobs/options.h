// What a simulated run is set up with, and the one table of its knobs:
// each is a launcher option and the environment variable through which the
// launcher hands it to the simulator in every program it runs. A new knob
// is a field here and an entry in the table (options.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/adapters.h"
#include "model/board.h"
#include "model/chip_model.h"

namespace gpaksim {

// What a transfer that is not acknowledged fails with: the adapter's own
// errno, or EREMOTEIO (the Raspberry Pi's i2c-bcm2835) or ENXIO (many
// other adapters) whatever the adapter.
enum class NackError { kAdapter, kRemoteIo, kNoDevice };

constexpr char kDefaultNode[] = "/dev/i2c-1";

struct Options {
    std::string state_path;  // empty: the chip lives in this process only
    std::string trace_path;  // empty: no trace; "-": standard error
    std::string node_path = kDefaultNode;
    int code = -1;  // control code to set; -1 keeps the chip's
    // --chip, in order: chip N of the run is the Nth. Empty: the one chip
    // of the state file, on node_path.
    std::vector<ChipPlacement> chips;
    ChipKnobs knobs;
    NackError nack_error = NackError::kAdapter;
    const AdapterRow* adapter = &Adapters().front();  // the Raspberry Pi's
    long functionality = -1;                          // what I2C_FUNCS reports; -1: the adapter's
    // Addresses that a kernel driver owns: I2C_SLAVE fails there with EBUSY.
    std::vector<std::uint8_t> bound;
    bool no_node = false;  // the node is missing
    bool virtual_time = false;
    std::int64_t epoch_ns = 0;  // CLOCK_MONOTONIC at the launcher's start; 0: now
};

struct Knob {
    const char* option;    // the launcher's long option, without "--"; null: none
    const char* argument;  // its argument, as the help names it; null: a switch
    const char* env;       // the variable that carries it
    const char* help;      // one line for the launcher's help
    // Takes text (an option's argument, or the variable's value) into
    // options; false with error set when it is malformed. A switch takes
    // "1" to turn on and "" or "0" to turn off.
    bool (*parse)(Options& options, const std::string& text, std::string& error);
    // The variable's value for options; empty: the variable is unset.
    std::string (*format)(const Options& options);
};

const std::vector<Knob>& Knobs();

// The options of the GPAK_SIM_* variables; problems receives a line for
// each malformed one, which then keeps its default.
Options OptionsFromEnvironment(std::vector<std::string>& problems);

// Sets or unsets every GPAK_SIM_* variable for options.
void ExportOptions(const Options& options);

// The qemu-user command line that runs programs of this machine when this
// process itself runs under it (set by the tests of a cross build); empty
// when unset. Programs started from an emulated process are not emulated
// by themselves without binfmt_misc.
constexpr char kEmulatorVariable[] = "GPAK_SIM_EMULATOR";
std::vector<std::string> Emulator();

}  // namespace gpaksim
