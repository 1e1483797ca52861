// The run's standard streams: descriptors 0 to 2 always open, standard
// output line-buffered and its write errors counted, or (-q, --quiet)
// going nowhere, for scripts that keep the exit status, standard error
// and the --log line. The only place that replaces stdout. What every run
// prints on it: the section headings and the hex table of an image.
#pragma once

#include <cstdio>

#include "chip/chip.h"

namespace cli {

// Before anything else: opens /dev/null, read-only, on each of descriptors
// 0, 1 and 2 that is closed (else the first file the run opens, the bus
// node among them, would take its place and receive the run's output; and
// a write there still fails, as to a closed descriptor), makes standard
// output line-buffered, remembering why a write to it failed, and takes a
// write past the file-size limit for a write error.
void PrepareStandardStreams();

// At the end of a run: flushes standard output and, when writing it
// failed, says "gpakcfg: write error: ..." on standard error. Returns the
// run's status, 1 in place of 0 after a write error.
int FinishOutput(int status);

// While it lives, when quiet, standard output goes nowhere: every line of
// the run, the chip operations' page lines among them, is dropped before
// it reaches descriptor 1, which is never written, so there is nothing to
// fail either. Standard output is the stream it was before again after.
class QuietOutput {
public:
    explicit QuietOutput(bool quiet);
    ~QuietOutput();
    QuietOutput(const QuietOutput&) = delete;
    QuietOutput& operator=(const QuietOutput&) = delete;

private:
    std::FILE* saved_ = nullptr;  // standard output while quiet; nullptr: not quiet
};

// Prints image as a 16 x 16 hex table, one row per page.
void DumpData(const ConfigImage& image);

// Prints a section heading and the rule line under it.
void PrintHeading(const char* heading);

}  // namespace cli
