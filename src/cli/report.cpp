// The front end's words for the results of the bus lock and the chip
// operations.
#include "cli/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/adapter.h"
#include "i2c/i2c.h"

namespace cli {

namespace {

// What usually stands behind a node that cannot be opened, and what to do.
void PrintOpenHint(const std::string& node, int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            std::fprintf(stderr,
                         "gpakcfg: %s: not permitted: add yourself to the i2c group "
                         "(sudo usermod -aG i2c \"$USER\") and log in again; never make "
                         "gpakcfg setuid\n",
                         node.c_str());
            break;
        case ENOENT:
            SayNoSuchBus(node);
            break;
        default:
            std::fprintf(stderr, "gpakcfg: %s: cannot be opened; nothing was sent to the chip\n",
                         node.c_str());
            break;
    }
}

void ReportBus(const std::string& node, const i2c::BusLock& bus) {
    const char* cause = std::strerror(bus.ErrorNumber());
    switch (bus.Status()) {
        case i2c::BusStatus::kReady:
            break;
        case i2c::BusStatus::kCannotOpen:
            std::fprintf(stderr, "Device open error: %s\n", cause);
            PrintOpenHint(node, bus.ErrorNumber());
            break;
        case i2c::BusStatus::kNotI2c:
            std::fprintf(stderr, "gpakcfg: %s is not an I2C adapter (I2C_FUNCS: %s)\n",
                         node.c_str(), cause);
            break;
        case i2c::BusStatus::kNoShape:
            std::fprintf(stderr,
                         "gpakcfg: %s offers neither plain I2C transfers (I2C_FUNC_I2C) nor SMBus "
                         "byte-data reads (I2C_FUNC_SMBUS_READ_BYTE_DATA); nothing was sent to "
                         "the chip\n",
                         node.c_str());
            break;
        case i2c::BusStatus::kCannotLock:
            std::fprintf(stderr, "gpakcfg: cannot lock %s: %s; nothing was sent to the chip\n",
                         node.c_str(), cause);
            break;
        case i2c::BusStatus::kBusy:
            std::fprintf(stderr, "gpakcfg: %s is still in use; nothing was sent to the chip\n",
                         node.c_str());
            break;
    }
}

// Why a transfer did not go through: a NACK in words, then errno's text.
std::string Cause(const i2c::TransferResult& transfer) {
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

// "failed" when the transfer reached the bus, else "not sent".
const char* Fate(const i2c::TransferResult& transfer) {
    return transfer.Sent() ? "failed" : "not sent";
}

}  // namespace

i2c::BusLock TakeBus(const std::string& node, std::chrono::milliseconds wait_limit) {
    const auto say_waiting = [&node, wait_limit] {
        std::fprintf(stderr, "gpakcfg: %s is in use by another gpakcfg run; waiting up to %lld s\n",
                     node.c_str(), static_cast<long long>((wait_limit.count() + 999) / 1000));
    };
    i2c::BusLock bus = i2c::BusLock::Acquire(node, wait_limit, say_waiting);
    ReportBus(node, bus);
    return bus;
}

// A blank chip reads as zeros too: say that these zeros were not read.
void ReportReadError(const PagesResult& read) {
    std::fprintf(stderr,
                 "gpakcfg: %s: page 0x%02X read from 0x%02X %s: %s; the table shows zeros from "
                 "row 0x%02X\n",
                 DevicePath().c_str(), read.failed_page, read.addr, Fate(read.transfer),
                 Cause(read.transfer).c_str(), read.failed_page);
}

void ReportNothingRead(std::uint8_t addr) {
    std::fprintf(stderr, "gpakcfg: %s: nothing was read from 0x%02X; the table shows zeros\n",
                 DevicePath().c_str(), addr);
}

void ReportPageWrite(const PagesResult& written) {
    if (written.Ok()) {
        return;
    }
    std::fprintf(stderr, "gpakcfg: %s: page 0x%02X write to 0x%02X %s: %s\n", DevicePath().c_str(),
                 written.failed_page, written.addr, Fate(written.transfer),
                 Cause(written.transfer).c_str());
}

// A command the chip NACKs while it erases is no failure of the erase (the
// comparison after the write shows whether it took effect); one that could
// not be sent stops the run.
bool ReportErase(const PagesResult& erased) {
    if (erased.Ok() || erased.transfer.Sent()) {
        return true;
    }
    const char* node = DevicePath().c_str();
    const std::string cause = Cause(erased.transfer);
    const int page = erased.failed_page;
    if (page == kPageCount) {
        std::fprintf(stderr,
                     "gpakcfg: %s: reset command to 0x%02X not sent: %s; the run stops here: "
                     "every erase command was sent, nothing is written; program the chip again\n",
                     node, erased.addr, cause.c_str());
    } else if (page == 0) {
        std::fprintf(stderr,
                     "gpakcfg: %s: erase command for page 0x00 to 0x%02X not sent: %s; the run "
                     "stops here, before anything reached the chip\n",
                     node, erased.addr, cause.c_str());
    } else {
        std::fprintf(stderr,
                     "gpakcfg: %s: erase command for page 0x%02X to 0x%02X not sent: %s; the run "
                     "stops here: those for pages 0x00 to 0x%02X were sent, nothing is written; "
                     "program the chip again\n",
                     node, page, erased.addr, cause.c_str(), page - 1);
    }
    return false;
}

std::string TransferCause(const i2c::TransferResult& transfer) { return Cause(transfer); }

bool ReportVerified(std::uint8_t addr, const ConfigImage& sent, const ConfigImage& read) {
    const ImageDifference difference = VerifyConfigData(sent, read);
    if (difference.Same()) {
        return true;
    }
    const std::size_t first = difference.first;
    std::fprintf(stderr,
                 "gpakcfg: 0x%02X: the memory differs from what was sent: %d of 256 bytes, "
                 "the first at 0x%02zX (sent 0x%02x, read 0x%02x)\n",
                 addr, difference.count, first, sent[first], read[first]);
    return false;
}

}  // namespace cli
