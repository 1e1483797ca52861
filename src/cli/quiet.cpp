#include "cli/quiet.h"

#include <cstring>

#include "cli/options.h"

namespace cli {

namespace {

ssize_t Drop(void* /*cookie*/, const char* /*buf*/, std::size_t size) {
    return static_cast<ssize_t>(size);
}

}  // namespace

bool AsksForQuiet(int argc, char* argv[]) {
    const Option* quiet = FindOption("--quiet");
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (FindOption(argv[i]) == quiet) {
            return true;
        }
    }
    return false;
}

QuietOutput::QuietOutput(bool quiet) {
    if (!quiet) {
        return;
    }
    cookie_io_functions_t functions{};
    functions.write = Drop;
    std::FILE* nowhere = fopencookie(nullptr, "w", functions);
    if (nowhere == nullptr) {
        return;  // out of memory: the run is as loud as without -q
    }
    std::fflush(stdout);
    saved_ = stdout;
    stdout = nowhere;  // a plain variable in the GNU C library
}

QuietOutput::~QuietOutput() {
    if (saved_ != nullptr) {
        std::fclose(stdout);
        stdout = saved_;
    }
}

}  // namespace cli
