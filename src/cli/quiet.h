// -q, --quiet: nothing on standard output, for scripts that keep the exit
// status, standard error and the --log line.
#pragma once

#include <cstdio>

namespace cli {

// -q or --quiet given anywhere before "--", as -h is looked for: it holds
// for a command line that is refused too.
bool AsksForQuiet(int argc, char* argv[]);

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

}  // namespace cli
