// The register read and write, the node they open, and the run's choice of
// transfer shape.
#include "i2c/i2c.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/unique_fd.h"
#include "i2c/shapes.h"

namespace {

using common::UniqueFd;
using i2c::TransferResult;
using i2c::TransferStatus;

std::string& Device() {
    static std::string path = kDefaultDevice;
    return path;
}

// What the run's adapter offers, asked at its first transfer, and the first
// shape that the run may use.
struct RunAdapter {
    bool known = false;
    unsigned long funcs = 0;
    std::size_t first_shape = 0;
};

RunAdapter& Run() {
    static RunAdapter run;
    return run;
}

// A node that does not say what it offers is taken at its word as plain
// I2C: its transfers then fail as they would have.
const RunAdapter& Adapter(int fd) {
    RunAdapter& run = Run();
    if (!run.known) {
        unsigned long funcs = 0;
        run.funcs = ioctl(fd, I2C_FUNCS, &funcs) == 0 ? funcs : I2C_FUNC_I2C;
        run.known = true;
    }
    return run;
}

bool Offers(unsigned long funcs, unsigned long needs) {
    return needs != 0 && (funcs & needs) == needs;
}

// The index of the first shape from first on whose reads (or writes) funcs
// offers; Shapes().size() when none.
std::size_t Pick(unsigned long funcs, std::size_t first, bool write) {
    const auto& rows = i2c::Shapes();
    std::size_t i = first;
    while (i < rows.size() &&
           !(write ? rows[i].write != nullptr && Offers(funcs, rows[i].write_needs)
                   : Offers(funcs, rows[i].read_needs))) {
        ++i;
    }
    return i;
}

// Makes the transfer in the run's shape (call is given the row), moving
// the run on from plain I2C when the adapter refuses a plain transfer.
template <typename Call>
TransferResult InRunShape(int fd, bool write, Call call) {
    RunAdapter& run = Run();
    const unsigned long funcs = Adapter(fd).funcs;
    const auto& rows = i2c::Shapes();
    std::size_t row = Pick(funcs, run.first_shape, write);
    if (row == rows.size()) {
        return {TransferStatus::kRefused, EOPNOTSUPP};
    }
    TransferResult result = call(rows[row]);
    if (rows[row].shape == i2c::Shape::kPlain && result.status == TransferStatus::kFailed &&
        result.error_number == EOPNOTSUPP) {
        const std::size_t next = Pick(funcs, row + 1, write);
        if (next < rows.size()) {
            run.first_shape = row + 1;
            result = call(rows[next]);
        }
    }
    return result;
}

// Each transfer opens the node for itself and closes it before returning:
// nothing is cached between calls.
UniqueFd OpenDevice(TransferResult& result) {
    UniqueFd fd(open(Device().c_str(), O_RDWR));
    if (!fd.IsOpen()) {
        result = {TransferStatus::kOpenFailed, errno};
        std::fprintf(stderr, "Device open error: %s\n", std::strerror(result.error_number));
    }
    return fd;
}

}  // namespace

void SetDevicePath(const std::string& path) {
    Device() = path;
    i2c::ForgetShape();
}
const std::string& DevicePath() { return Device(); }

namespace i2c {

bool TransferResult::NotAcknowledged() const {
    switch (status == TransferStatus::kFailed ? error_number : 0) {
        case ENXIO:
        case EREMOTEIO:
        case ETIMEDOUT:
        case ENODEV:
        case EIO:
            return true;
        default:
            return false;
    }
}

Offer OfferOf(unsigned long funcs) {
    const auto& rows = Shapes();
    Offer offer;
    const std::size_t read = Pick(funcs, 0, false);
    const std::size_t write = Pick(funcs, 0, true);
    if (read < rows.size()) {
        offer.reads = rows[read].shape;
    }
    if (write < rows.size()) {
        offer.writes = rows[write].shape;
    }
    return offer;
}

std::vector<Lack> WriteLacks(unsigned long funcs) {
    std::vector<Lack> lacks;
    for (const ShapeRow& row : Shapes()) {
        if (row.write != nullptr) {
            lacks.push_back({row.shape, row.write_needs & ~funcs});
        }
    }
    return lacks;
}

void ForgetShape() { Run() = RunAdapter{}; }

TransferResult RegisterRead(std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len) {
    if (buf == nullptr || len < 0 || len > 0xFFFF) {
        return {TransferStatus::kRefused, 0};
    }
    TransferResult result;
    const UniqueFd fd = OpenDevice(result);
    if (!fd.IsOpen()) {
        return result;
    }
    return InRunShape(fd.Get(), false,
                      [&](const ShapeRow& row) { return row.read(fd.Get(), addr, reg, buf, len); });
}

TransferResult RegisterWrite(std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data,
                             int len) {
    // The message length field is 16 bits and carries the register byte too.
    if ((data == nullptr && len > 0) || len < 0 || len > 0xFFFE) {
        return {TransferStatus::kRefused, 0};
    }
    TransferResult result;
    UniqueFd fd = OpenDevice(result);
    if (!fd.IsOpen()) {
        return result;
    }
    result = InRunShape(fd.Get(), true, [&](const ShapeRow& row) {
        return row.write(fd.Get(), addr, reg, data, len);
    });
    fd.Reset();  // each shape gives its buffer back before this
    return result;
}

}  // namespace i2c

int ReadI2C(std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf, int len) {
    return i2c::RegisterRead(addr, reg, buf, len).Ok() ? 1 : 0;
}

int WriteI2C(std::uint8_t addr, std::uint8_t reg, const std::uint8_t* data, int len) {
    return i2c::RegisterWrite(addr, reg, data, len).Ok() ? 0 : -1;
}
