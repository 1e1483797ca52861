// One gpakcfg command from the banner to its exit status.
//
// src/cli/ is the front end, every message a user reads: main.cpp and this
// command; options (the table, the usage) and settings (its one parse),
// set_bytes (--set values); together (the rules of which options go
// together, every refusal of a combination); output (the standard
// streams, -q, DumpData and the headings); interruption (the signal
// window); say (the gpakcfg: lines) and texts (the texts fixed since the
// first release); status (the exit statuses). The runs are in runs/, the
// --log line in log/.
#pragma once

// Runs one command: banner, usage or settings, type check, the checks of
// the files named, then a read, verify, write or scan run. Returns the
// exit status.
int RunGpakcfg(int argc, char* argv[]);
