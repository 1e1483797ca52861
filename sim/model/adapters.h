// The Linux I2C adapters that a simulated node answers as, one row each:
// what its driver reports for I2C_FUNCS, the transfers it refuses (with
// EOPNOTSUPP, as the kernel's adapter quirks and the drivers' own checks
// do), the addresses it can reach, and the errno of a transfer that
// nothing acknowledged. A new adapter is a row in adapters.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gpaksim {

struct AdapterRow {
    const char* name;   // as --adapter takes it
    const char* title;  // what its driver names the adapter
    unsigned long funcs;
    int nack_errno;
    // Limits; 0 is none. A combined transfer is a write then a read.
    std::uint16_t max_write_len = 0;
    std::uint16_t max_comb_first_len = 0;  // of a combined transfer's write
    unsigned max_msgs = 0;
    bool no_combined = false;        // a combined transfer refused
    bool one_address = false;        // a combined transfer at one address only
    bool read_last_only = false;     // a read message only as the last
    bool no_zero_len = false;        // no message of 0 bytes
    bool no_zero_len_read = false;   // no read of 0 bytes
    std::uint8_t first_addr = 0x00;  // the addresses a chip can answer at
    std::uint8_t last_addr = 0x7F;
};

const std::vector<AdapterRow>& Adapters();

// The row named name; null when there is none.
const AdapterRow* FindAdapter(const std::string& name);

// The names of the rows, comma-separated, for messages.
std::string AdapterNames();

}  // namespace gpaksim
