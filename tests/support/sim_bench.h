// Test support: the one end-to-end fixture. A SimBench is a temporary
// directory with a simulated chip's state file, on which a test runs the
// built programs under the gpak-sim launcher as a user runs them; each run
// gives back its ending, its output, its bus trace, the hex tables it
// printed and the chip as the state file then holds it. Only sim_bench.cpp
// knows the launcher's command line, and the state file is read by the
// simulator's own reader.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "model/state_file.h"
#include "run_command.h"
#include "run_output.h"

namespace gpaktest {

extern const std::string kGpakcfg;  // the built gpakcfg
extern const std::string kExample;  // the example configuration file

// Skips a test whose processes would run under a cross build's user-mode
// emulator, which runs threads of its own and takes the signals itself.
#define GPAKTEST_SKIP_WHEN_EMULATED()                                    \
    if (gpaktest::Emulated()) {                                          \
        GTEST_SKIP() << "processes run under a user-mode emulator here"; \
    }
bool Emulated();

// What one run is started with: a command under the launcher, and how.
//   bench.Run(Launch({"/bin/sh", "-c", script}).Sim({"--bus", "3"}).RealTime())
struct Launch {
    // COMMAND [ARG]... under the launcher; none: the launcher's options alone.
    explicit Launch(Strings command = {}) : command(std::move(command)) {}
    static Launch Gpakcfg(const Strings& args);  // the built gpakcfg with args
    Launch& Sim(const Strings& options) {
        sim.insert(sim.end(), options.begin(), options.end());
        return *this;
    }
    Launch& RealTime() {
        virtual_time = false;
        return *this;
    }

    Strings command;
    Strings sim;               // more launcher options
    bool virtual_time = true;  // false: the chip's pauses taken as they come
    Strings env;               // NAME=VALUE for the launcher and all it runs
    Strings wrapper;           // WRAPPER... gpak-sim ...: started by another program
    std::string launcher;      // another copy of gpak-sim; empty: the built one
    int stdout_fd = -1;        // standard output there, not into the result
};

struct RunResult : CommandResult {
    std::vector<TraceLine> transfers;  // this run's transfers, in the bus's order
    Strings notes;                     // its other trace lines: the simulator's remarks
    std::vector<Image> tables;         // the hex tables on standard output, in order
    gpaksim::SimState state;           // the state file after the run: the chips, the clock
    std::string state_error;           // why the state file could not be read; empty: read
    double seconds = 0;                // how long it took, in real time

    // The chip after the run: the first, or the one of that index (in the
    // order of the launcher's chips). A failure, and the first, when none.
    [[nodiscard]] const gpaksim::ChipState& Chip(std::size_t index = 0) const;
    // The last table printed: the read-back. A failure, and zeros, when none.
    [[nodiscard]] const Image& ReadBack() const;
    [[nodiscard]] bool AllAcked() const {
        return std::all_of(transfers.begin(), transfers.end(), [](auto& t) { return t.Acked(); });
    }
};

// A run going on in the background.
class Background {
public:
    [[nodiscard]] pid_t Pid() const { return pid_; }
    [[nodiscard]] std::string Err() const;  // its standard error so far
    // Wait (up to 5 s) until its standard error holds text, or until the
    // bus has seen count of its transfers; a failure if never.
    void WaitForErr(const std::string& text) const;
    void WaitForTransfers(std::size_t count) const;
    RunResult Wait();  // waits for its end and collects the run

private:
    friend class SimBench;
    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point started_;
    Streams streams_;
    std::string trace_;
    std::string state_;
    bool virtual_time_ = true;
};

// Something runs on a bench wait for, held until reset or gone.
using Hold = common::UniqueFd;

class SimBench {
public:
    SimBench();

    // gpakcfg ARGS under the launcher with the launcher's options sim, in
    // virtual time.
    RunResult Gpakcfg(const Strings& args, const Strings& sim = {});
    RunResult Run(const Launch& launch);
    Background Start(const Launch& launch);

    [[nodiscard]] std::string Path(const std::string& name) const { return dir_.Path(name); }
    std::string Write(const std::string& name, const std::string& content) const {
        return dir_.Write(name, content);
    }
    [[nodiscard]] const std::string& StatePath() const { return state_; }
    // The state file as the simulator reads it (a missing file: a fresh chip).
    [[nodiscard]] gpaksim::ParsedState LoadState(bool virtual_time = true) const;
    // A chip as the state file holds it now (see RunResult::Chip); a
    // failure when the file is unreadable.
    [[nodiscard]] gpaksim::ChipState Chip(std::size_t index = 0) const;

    // The lock every gpakcfg run takes on its bus, held here for every bus
    // of the bench at once (the simulator takes it through the state
    // file): a run waits for it, then gives up.
    [[nodiscard]] Hold HoldBus() const;
    // Starts a run while the bus is held, and returns once it says that it
    // waits for it.
    Background StartWaitingForTheBus(const Launch& launch);
    // The chip itself: every transfer waits while this is held.
    [[nodiscard]] Hold HoldTransfers() const;
    // Returns once a run's transfer waits for that hold (up to 5 s).
    void WaitForAWaitingTransfer() const;

private:
    TempDir dir_;
    std::string state_;
    std::atomic<int> runs_{0};
};

// An NVM run at control code 1: its transfers all acknowledged but the
// one-byte read at 0x00 before the erase, where no chip answers.
testing::AssertionResult AllAckedButAtControlCode0(const RunResult& run);

// The launcher with the options sim runs nothing: status 125, one or two
// lines on standard error from "gpak-sim: " on that hold why, and its
// command never started.
testing::AssertionResult LaunchRefused(SimBench& bench, const Strings& sim,
                                       const std::string& why = "");

// A test with a bench of its own.
class BenchTest : public testing::Test {
protected:
    SimBench bench;
};

}  // namespace gpaktest
