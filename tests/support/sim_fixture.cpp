#include "sim_fixture.h"

#include <cstdio>

#include "cli/gpakcfg.h"

namespace gpaktest {

std::vector<std::string> BusLines() {
    std::vector<std::string> lines;
    for (const auto& transfer : gpaksim::Transfers()) {
        const std::string line = gpaksim::FormatTransfer(transfer);
        lines.push_back(line.substr(line.find("0x")));  // drop the time
    }
    return lines;
}

std::vector<double> BusTimesMs() {
    std::vector<double> times;
    for (const auto& transfer : gpaksim::Transfers()) {
        times.push_back(static_cast<double>(transfer.time_ns) / 1e6);
    }
    return times;
}

std::string PageWriteLine(unsigned addr, const std::array<std::uint8_t, 256>& image, int page) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X W", addr);
    std::string line = text;
    std::snprintf(text, sizeof text, " %02x", page << 4);
    line += text;
    for (int i = 0; i < 16; ++i) {
        std::snprintf(text, sizeof text, " %02x", image[static_cast<std::size_t>(page * 16 + i)]);
        line += text;
    }
    return line + " ACK";
}

InProcessRun SimTest::Gpakcfg(const Strings& args, const std::string& program) {
    Strings words = args;
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    InProcessRun run;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run.status = RunGpakcfg(static_cast<int>(words.size()), argv.data());
    run.out = testing::internal::GetCapturedStdout();
    run.err = testing::internal::GetCapturedStderr();
    run.tables = DumpTables(run.out);
    return run;
}

}  // namespace gpaktest
