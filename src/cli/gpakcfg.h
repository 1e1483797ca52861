// One gpakcfg command from the banner to its exit status.
#pragma once

// Runs one command: banner, usage or settings, type check, the checks of
// the files named, then a read, verify, write or scan run. Returns the
// exit status.
int RunGpakcfg(int argc, char* argv[]);
