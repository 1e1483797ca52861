// The words for what the chip operations return: a transfer that failed or
// was not sent (the node, the page, the device address and the cause), a
// memory that differs from what was sent. Every line goes to standard error.
#pragma once

#include <cstdint>
#include <string>

#include "chip/chip.h"
#include "i2c/i2c.h"

namespace cli::runs {

// A control code as -c takes it: "a".
std::string HexDigit(unsigned code);

// Why a transfer did not go through: a NACK in words, then errno's text.
std::string TransferCause(const i2c::TransferResult& transfer);

// The line of a read-back that ended at a page: where, why, and that the
// table shows zeros from there.
void ReportReadError(const std::string& node, const PagesResult& read);

// The line of a read-back that sent nothing (the bus could not be had).
void ReportNothingRead(const std::string& node, std::uint8_t addr);

// When a page write failed: the line that names the page, the device
// address and the cause.
void ReportPageWrite(const std::string& node, const PagesResult& written);

// True when the erase went through to its end; else says which command
// could not be sent and what the chip was left with.
bool ReportErase(const std::string& node, const PagesResult& erased);

// True when read holds what was sent to the memory at addr; else says
// how many bytes differ and the first of them.
bool ReportVerified(std::uint8_t addr, const ConfigImage& sent, const ConfigImage& read);

}  // namespace cli::runs
