// Test support: a fresh simulated chip in virtual time for each test, and
// the bus traffic as lines without their times.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim.h"

namespace gpaktest {

// The transfers seen so far, as "0x0A W 00; 0x0A R 16 ACK".
std::vector<std::string> BusLines();

// Times of the transfers seen so far, in ms since the start of the test.
std::vector<double> BusTimesMs();

// "0x02 W 30 <16 bytes of image page 3> ACK": one page write as traced.
std::string PageWriteLine(unsigned addr, const std::array<std::uint8_t, 256>& image, int page);

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { Restart(); }
    void TearDown() override { EXPECT_EQ(gpaksim::OpenDescriptors(), 0); }
    // Starts the simulator again with the options changed by the caller.
    void Restart() {
        options.virtual_time = true;
        gpaksim::Start(options);
    }
    gpaksim::Options options;
};

}  // namespace gpaktest
