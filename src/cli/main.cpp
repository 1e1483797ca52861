#include "cli/cli.h"

int main(int argc, char* argv[]) { return RunGpakcfg(argc, argv); }
