#include "sim_bench.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "knobs/options.h"

namespace gpaktest {

const std::string kGpakcfg = GPAKCFG_BIN;
const std::string kExample = std::string(GPAKCFG_EXAMPLES) + "/demo-config.hex";

namespace {

// The launcher's command line for launch, with the bench's state file and
// the run's own trace.
Strings LauncherCommand(const Launch& launch, const std::string& state, const std::string& trace) {
    Strings argv = launch.wrapper;
    argv.push_back(launch.launcher.empty() ? GPAKSIM_BIN : launch.launcher);
    argv.insert(argv.end(), {"--state", state, "--trace", trace});
    if (launch.virtual_time) {
        argv.push_back("--virtual-time");
    }
    argv.insert(argv.end(), launch.sim.begin(), launch.sim.end());
    if (!launch.command.empty()) {
        argv.push_back("--");
        argv.insert(argv.end(), launch.command.begin(), launch.command.end());
    }
    return argv;
}

// The one place that knows how the state file holds its chips.
const gpaksim::ChipState& ChipOf(const gpaksim::SimState& state, std::size_t index) {
    if (index >= state.ChipCount()) {
        ADD_FAILURE() << "the state file holds " << state.ChipCount() << " chips, no chip #"
                      << index + 1;
        return state.chip;
    }
    return state.ChipAt(index);
}

// Whether ready() turns true within 5 s.
bool Eventually(const std::function<bool()>& ready) {
    for (int i = 0; i < 500; ++i) {
        if (ready()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ready();
}

}  // namespace

bool Emulated() { return !gpaksim::Emulator().empty(); }

Launch Launch::Gpakcfg(const Strings& args) {
    Launch launch({kGpakcfg});
    launch.command.insert(launch.command.end(), args.begin(), args.end());
    return launch;
}

const gpaksim::ChipState& RunResult::Chip(std::size_t index) const {
    EXPECT_EQ(state_error, "");
    return ChipOf(state, index);
}

const Image& RunResult::ReadBack() const {
    static const Image kNone{};
    if (tables.empty()) {
        ADD_FAILURE() << "no table on standard output:\n" << out;
        return kNone;
    }
    return tables.back();
}

std::string Background::Err() const { return ReadFile(streams_.err_path); }

void Background::WaitForErr(const std::string& text) const {
    EXPECT_TRUE(Eventually([&] { return Contains(Err(), text); })) << "never said: " << text;
}

void Background::WaitForTransfers(std::size_t count) const {
    EXPECT_TRUE(Eventually([&] { return ParseTrace(ReadFile(trace_)).transfers.size() >= count; }))
        << count << " transfers never came";
}

RunResult Background::Wait() {
    RunResult run;
    static_cast<Ending&>(run) = WaitCommand(pid_);
    run.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    pid_ = -1;
    run.out = streams_.out_fd < 0 ? ReadFile(streams_.out_path) : "";
    run.err = ReadFile(streams_.err_path);
    Trace trace = ParseTrace(ReadFile(trace_));
    run.transfers = std::move(trace.transfers);
    run.notes = std::move(trace.notes);
    run.tables = DumpTables(run.out);
    const gpaksim::ParsedState parsed = gpaksim::LoadStateFile(state_, virtual_time_);
    run.state = parsed.state;
    run.state_error = parsed.ok ? "" : parsed.error;
    return run;
}

SimBench::SimBench() : state_(dir_.Path("chip.state")) {}

RunResult SimBench::Gpakcfg(const Strings& args, const Strings& sim) {
    return Run(Launch::Gpakcfg(args).Sim(sim));
}

RunResult SimBench::Run(const Launch& launch) { return Start(launch).Wait(); }

Background SimBench::Start(const Launch& launch) {
    const std::string run = "run" + std::to_string(++runs_);
    Background started;
    started.streams_ = {dir_.Path(run + ".out"), dir_.Path(run + ".err"), launch.stdout_fd};
    started.trace_ = dir_.Path(run + ".trace");
    started.state_ = state_;
    started.virtual_time_ = launch.virtual_time;
    started.started_ = std::chrono::steady_clock::now();
    started.pid_ =
        StartCommand(LauncherCommand(launch, state_, started.trace_), started.streams_, launch.env);
    return started;
}

gpaksim::ParsedState SimBench::LoadState(bool virtual_time) const {
    return gpaksim::LoadStateFile(state_, virtual_time);
}

gpaksim::ChipState SimBench::Chip(std::size_t index) const {
    const gpaksim::ParsedState parsed = LoadState();
    EXPECT_TRUE(parsed.ok) << state_ << ": " << parsed.error;
    return ChipOf(parsed.state, index);
}

// Close-on-exec: a run started meanwhile must not hold the lock too.
Hold SimBench::HoldBus() const {
    Hold fd(open(state_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    EXPECT_EQ(flock(fd.Get(), LOCK_EX), 0);
    return fd;
}

Background SimBench::StartWaitingForTheBus(const Launch& launch) {
    Background run = Start(launch);
    run.WaitForErr("is in use by another gpakcfg run; waiting up to 10 s\n");
    return run;
}

// The simulator's lock of the state file for each change (an open file
// description lock of its first byte), taken here on the whole file.
Hold SimBench::HoldTransfers() const {
    Hold fd(open(state_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    EXPECT_EQ(fcntl(fd.Get(), F_OFD_SETLKW, &lock), 0);
    return fd;
}

testing::AssertionResult AllAckedButAtControlCode0(const RunResult& run) {
    for (std::size_t i = 0; i < run.transfers.size(); ++i) {
        const TraceLine& transfer = run.transfers[i];
        if (transfer.Acked() == (i == 1)) {
            return testing::AssertionFailure() << i << ": " << transfer.text;
        }
    }
    if (run.transfers.size() < 2 || run.transfers[1].text != "0x00 W 00 NACK") {
        return testing::AssertionFailure() << "no one-byte read at 0x00 second";
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult LaunchRefused(SimBench& bench, const Strings& sim,
                                       const std::string& why) {
    const std::string marker = bench.Path("ran");
    const RunResult run = bench.Run(Launch({"/bin/touch", marker}).Sim(sim));
    const bool ran = access(marker.c_str(), F_OK) == 0;
    if (run.status == 125 && !ran && run.err.rfind("gpak-sim: ", 0) == 0 &&
        Occurrences(run.err, "\n") <= 2 && Contains(run.err, why)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
           << "gpak-sim " << testing::PrintToString(sim) << ": status " << run.status
           << (ran ? ", the command ran" : "") << ", standard error:\n"
           << run.err;
}

// A lock that a process waits for shows in /proc/locks, with "->", as
// DEVICE:INODE of its file.
void SimBench::WaitForAWaitingTransfer() const {
    struct stat st {};
    ASSERT_EQ(stat(state_.c_str(), &st), 0);
    const std::string inode = ":" + std::to_string(st.st_ino) + " ";
    EXPECT_TRUE(Eventually([&] {
        for (const std::string& line : Lines(ReadFile("/proc/locks"))) {
            if (Contains(line, "-> OFDLCK") && Contains(line, inode)) {
                return true;
            }
        }
        return false;
    })) << "no transfer waits for the chip";
}

}  // namespace gpaktest
