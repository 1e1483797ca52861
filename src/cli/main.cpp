#include "cli/gpakcfg.h"
#include "cli/output.h"

int main(int argc, char* argv[]) {
    cli::PrepareStandardStreams();
    return RunGpakcfg(argc, argv);
}
