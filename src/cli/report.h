// The words for what the lower layers return: the bus that cannot be had
// (with a hint for the common causes), a transfer that failed or was not
// sent (the page, the device address and the cause), a memory that differs
// from what was sent. Every line goes to standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "chip/chip.h"
#include "i2c/bus_lock.h"

namespace cli {

// How long a run waits for another one to finish with the bus.
constexpr std::chrono::seconds kBusWaitLimit{10};

// The run's hold on node: says once that it waits for another run, and
// what stood in the way when the bus cannot be had.
i2c::BusLock TakeBus(const std::string& node, std::chrono::milliseconds wait_limit = kBusWaitLimit);

// The line of a read-back that ended at a page: where, why, and that the
// table shows zeros from there.
void ReportReadError(const PagesResult& read);

// The line of a read-back that sent nothing (the bus could not be had).
void ReportNothingRead(std::uint8_t addr);

// When a page write failed: the line that names the page, the device
// address and the cause.
void ReportPageWrite(const PagesResult& written);

// True when the erase went through to its end; else says which command
// could not be sent and what the chip was left with.
bool ReportErase(const PagesResult& erased);

// True when read holds what was sent to the memory at addr; else says
// how many bytes differ and the first of them.
bool ReportVerified(std::uint8_t addr, const ConfigImage& sent, const ConfigImage& read);

}  // namespace cli
