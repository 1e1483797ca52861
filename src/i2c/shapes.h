// The transfer shapes: the ways a register read and a register write can
// be put to an adapter, one row each, in the order they are preferred. A
// row names the functionality bits (I2C_FUNCS) its reads and its writes
// need and the two functions that make one transfer on a descriptor the
// caller opened. A new shape is a row and its two functions in shapes.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "i2c/i2c.h"

namespace i2c {

using ShapeRead = TransferResult (*)(int fd, std::uint8_t addr, std::uint8_t reg, std::uint8_t* buf,
                                     int len);
using ShapeWrite = TransferResult (*)(int fd, std::uint8_t addr, std::uint8_t reg,
                                      const std::uint8_t* data, int len);

struct ShapeRow {
    Shape shape;
    unsigned long read_needs;   // what its reads need of the adapter
    unsigned long write_needs;  // what its writes need
    ShapeRead read;
    ShapeWrite write;  // null: the shape only reads
};

// Every shape, the preferred first.
const std::vector<ShapeRow>& Shapes();

}  // namespace i2c
