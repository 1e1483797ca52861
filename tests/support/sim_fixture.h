// Test support: a fresh simulated chip in virtual time for each test, the
// bus traffic as lines without their times, and gpakcfg's own code run
// against that chip in this process, as a SimBench runs the built one.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_command.h"
#include "run_output.h"
#include "sim.h"

namespace gpaktest {

// The transfers seen so far, as "0x0A W 00; 0x0A R 16 ACK".
std::vector<std::string> BusLines();

// Times of the transfers seen so far, in ms since the start of the test.
std::vector<double> BusTimesMs();

// "0x02 W 30 <16 bytes of image page 3> ACK": one page write as traced.
std::string PageWriteLine(unsigned addr, const std::array<std::uint8_t, 256>& image, int page);

// What one in-process run of gpakcfg left, in the words of a SimBench run:
// its status, output and the hex tables it printed. The bus and the chip
// are the simulator's: BusLines(), gpaksim::Chip().
struct InProcessRun : CommandResult {
    std::vector<Image> tables;
};

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { Restart(); }
    void TearDown() override { EXPECT_EQ(gpaksim::OpenDescriptors(), 0); }
    // Starts the simulator again with the options changed by the caller.
    void Restart() {
        options.virtual_time = true;
        gpaksim::Start(options);
    }
    // gpakcfg ARGS, started as program, its standard streams captured.
    static InProcessRun Gpakcfg(const Strings& args, const std::string& program = "gpakcfg");
    gpaksim::Options options;
};

}  // namespace gpaktest
