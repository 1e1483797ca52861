// --log FILE: one line of JSON for every run that reached the bus,
// appended to FILE with one write, so that runs on several buses can share
// one log. The runs fill the run's record, lent to them, as they go; LogRun
// writes it.
//
// src/cli/log/ holds --log: record (the run's record and its line), json
// (the JSON text) and log_file (what the file may not be, the append).
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "chip/chip.h"
#include "cli/settings.h"

namespace cli::log {

// What a run did beyond its settings, as the log line says it.
struct RunRecord {
    std::chrono::system_clock::time_point started;
    std::chrono::steady_clock::time_point clock;
    // "read", "write", "verify" (or "scan"), set as the run turns to the
    // bus; nullptr: it never did, and nothing is logged.
    const char* action = nullptr;
    std::optional<long long> new_code;  // the code the chip is given, when not -c
    std::optional<ConfigImage> sent;    // written, or what -w would write
    std::optional<ConfigImage> read;    // as read back, the pages not read as zeros
    bool read_complete = false;         // all 16 pages read
    bool compared = false;              // read compared with sent
    bool skipped = false;               // --skip-identical found sent there

    // A fresh record: the run's clock starts.
    static RunRecord Start();
    // The read-back's bytes; complete: all 16 pages were read.
    void SetReadBack(const ConfigImage& bytes, bool complete);
    // What was sent (or would be), and whether the read-back was compared with it.
    void SetSent(const ConfigImage& bytes, bool compared_with_read);
};

// Appends the record's line to settings.log_file when the run reached the
// bus; signal: the one that ends the run, 0 for none. Returns the run's
// status: status, or kExitFailed when the line could not be written (said
// on standard error).
int LogRun(const Settings& settings, const RunRecord& record, int status, int signal = 0);

// Before a run ends by the signal caught while programming: its line.
void LogIfInterrupted(const Settings& settings, const RunRecord& record, int status);

}  // namespace cli::log
