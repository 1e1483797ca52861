#include "cli/runs/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/say.h"

namespace cli::runs {

namespace {

// "failed" when the transfer reached the bus, else "not sent".
const char* Fate(const i2c::TransferResult& transfer) {
    return transfer.Sent() ? "failed" : "not sent";
}

}  // namespace

std::string HexDigit(unsigned code) {
    char digit[4];
    std::snprintf(digit, sizeof digit, "%x", code);
    return digit;
}

// Why a transfer did not go through: a NACK in words, then errno's text.
std::string TransferCause(const i2c::TransferResult& transfer) {
    const std::string in_brackets = std::string(" (") + std::strerror(transfer.error_number) + ")";
    switch (transfer.status) {
        case i2c::TransferStatus::kDone:
            break;
        case i2c::TransferStatus::kFailed:
            if (transfer.NotAcknowledged()) {
                return "the chip did not acknowledge" + in_brackets;
            }
            return std::strerror(transfer.error_number);
        case i2c::TransferStatus::kOpenFailed:
            return "the node could not be opened" + in_brackets;
        case i2c::TransferStatus::kNoMemory:
            return "no memory for the message" + in_brackets;
        case i2c::TransferStatus::kRefused:
            return "no I2C message can carry it";
    }
    return "done";
}

// A blank chip reads as zeros too: say that these zeros were not read.
void ReportReadError(const std::string& node, const PagesResult& read) {
    Say("%s: page 0x%02X read from 0x%02X %s: %s; the table shows zeros from row 0x%02X",
        node.c_str(), read.failed_page, read.addr, Fate(read.transfer),
        TransferCause(read.transfer).c_str(), read.failed_page);
}

void ReportNothingRead(const std::string& node, std::uint8_t addr) {
    Say("%s: nothing was read from 0x%02X; the table shows zeros", node.c_str(), addr);
}

void ReportPageWrite(const std::string& node, const PagesResult& written) {
    if (!written.Ok()) {
        Say("%s: page 0x%02X write to 0x%02X %s: %s", node.c_str(), written.failed_page,
            written.addr, Fate(written.transfer), TransferCause(written.transfer).c_str());
    }
}

// A command the chip NACKs while it erases is no failure of the erase (the
// comparison after the write shows whether it took effect); one that could
// not be sent stops the run.
bool ReportErase(const std::string& node, const PagesResult& erased) {
    if (erased.Ok() || erased.transfer.Sent()) {
        return true;
    }
    const char* name = node.c_str();
    const std::string cause = TransferCause(erased.transfer);
    const int page = erased.failed_page;
    if (page == kPageCount) {
        Say("%s: reset command to 0x%02X not sent: %s; the run stops here: every erase command "
            "was sent, nothing is written; program the chip again",
            name, erased.addr, cause.c_str());
    } else if (page == 0) {
        Say("%s: erase command for page 0x00 to 0x%02X not sent: %s; the run stops here, before "
            "anything reached the chip",
            name, erased.addr, cause.c_str());
    } else {
        Say("%s: erase command for page 0x%02X to 0x%02X not sent: %s; the run stops here: those "
            "for pages 0x00 to 0x%02X were sent, nothing is written; program the chip again",
            name, page, erased.addr, cause.c_str(), page - 1);
    }
    return false;
}

bool ReportVerified(std::uint8_t addr, const ConfigImage& sent, const ConfigImage& read) {
    const ImageDifference difference = VerifyConfigData(sent, read);
    if (difference.Same()) {
        return true;
    }
    const std::size_t first = difference.first;
    Say("0x%02X: the memory differs from what was sent: %d of 256 bytes, the first at 0x%02zX "
        "(sent 0x%02x, read 0x%02x)",
        addr, difference.count, first, sent[first], read[first]);
    return false;
}

}  // namespace cli::runs
