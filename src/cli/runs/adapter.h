// The words for what the run's adapter offers and who else holds the
// chip's addresses: a bus that cannot program, an address a kernel driver
// owns, a bus that does not exist (with the hint of this machine), and
// --list-buses. Every line of its own goes to standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/settings.h"
#include "i2c/bus_lock.h"

namespace cli::runs {

// True when the adapter of bus has a transfer shape that writes; else
// says what it lacks for each shape.
bool CanProgramThrough(const std::string& node, const i2c::BusLock& bus);

// True when no kernel driver owns any of addrs on bus, or force; else
// says which address, whose it is and how to go on.
bool AddressesFree(const std::string& node, const i2c::BusLock& bus,
                   const std::vector<std::uint8_t>& addrs, bool force);

// The hint for a node that does not exist: raspi-config on a Raspberry
// Pi (as its device tree's model says), i2c-dev and --list-buses elsewhere.
void SayNoSuchBus(const std::string& node);

// The addresses a run on settings' memory sends to: the three blocks of
// its control code and, where it programs the NVM, the block it is
// written at.
std::vector<std::uint8_t> ChipAddresses(const Settings& settings, bool programs);

// --list-buses: every /dev/i2c-N with what it offers and its adapter's
// name, on out. kExitOk when one is listed.
int ListBusesRun(std::FILE* out);

}  // namespace cli::runs
