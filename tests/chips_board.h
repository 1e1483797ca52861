// Test support for the end-to-end tests of chips on one bus: boards of
// simulated chips on the one fixture, their memories, and what --scan and
// the reads before an erase look like.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "config_file/save.h"
#include "sim_bench.h"

namespace gpaktest {

constexpr char kScanHead[] =
    "Chips on /dev/i2c-1.\n---------------------------------------\n"
    "code registers nvm  eeprom next-code\n";
constexpr char kCodeZero[] = " (code 0: where a chip with an erased NVM answers)";

class ChipsOnTheBus : public BenchTest {
protected:
    // The chips of board put into the state file, as the launcher puts them
    // (for a run that sends nothing).
    void MakeBoard(const Strings& board) {
        std::remove(bench.StatePath().c_str());
        ASSERT_EQ(bench.Gpakcfg({"--version"}, board).status, 0);
    }
    // The memories of every chip of the board, as the state file holds them.
    std::vector<gpaksim::ChipState> Chips() const {
        const gpaksim::ParsedState parsed = bench.LoadState();
        EXPECT_TRUE(parsed.ok) << parsed.error;
        std::vector<gpaksim::ChipState> chips;
        for (std::size_t i = 0; i < parsed.state.ChipCount(); ++i) {
            chips.push_back(parsed.state.ChipAt(i));
        }
        return chips;
    }
    // The example with byte 0xCA asking for control code code.
    std::string FileAskingFor(int code) const {
        return bench.Write("code" + std::to_string(code) + ".hex",
                           hexfile::FormatConfigFile(FileImage(kExample, code)));
    }
    // The --scan section of a run's output, from its heading on.
    static std::string Scanned(const RunResult& run) {
        const std::size_t at = run.out.find("Chips on");
        return at == std::string::npos ? run.out : run.out.substr(at);
    }
};

inline testing::AssertionResult SameMemories(const std::vector<gpaksim::ChipState>& a,
                                             const std::vector<gpaksim::ChipState>& b) {
    if (a.size() != b.size()) {
        return testing::AssertionFailure() << a.size() << " chips, not " << b.size();
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].registers != b[i].registers || a[i].nvm != b[i].nvm ||
            a[i].eeprom != b[i].eeprom) {
            return testing::AssertionFailure() << "chip #" << i + 1 << " changed";
        }
    }
    return testing::AssertionSuccess();
}

// Whether run sent one-byte reads and nothing else: a register byte, then
// one byte read or no acknowledgement.
inline testing::AssertionResult OneByteReadsOnly(const RunResult& run) {
    const std::regex read(R"(0x[0-9A-F]{2} W [0-9a-f]{2}(; 0x[0-9A-F]{2} R 1 ACK.*| NACK))");
    for (const TraceLine& transfer : run.transfers) {
        if (!std::regex_match(transfer.text, read)) {
            return testing::AssertionFailure() << transfer.text;
        }
    }
    return testing::AssertionSuccess();
}

inline Strings Texts(const RunResult& run) {
    Strings texts;
    for (const TraceLine& transfer : run.transfers) {
        texts.push_back(transfer.text);
    }
    return texts;
}

}  // namespace gpaktest
