// Reading a hex record file (Intel HEX layout, 16 data bytes per record)
// into a chip memory image.
#pragma once

#include "chip/chip.h"

// Fills image with the data bytes of the file's records, in file order;
// bytes that no record fills are 0x00. Load addresses, record types, byte
// counts and checksums are not used. Reading ends at end of file, at the
// first line shorter than a record, or after 16 records.
//
// Returns 1 when the file was read, 0 when it could not be opened and -1
// when reading it failed; errno then holds the cause. records receives the
// number of records stored.
int ReadConfigFile(const char* path, ConfigImage& image, int& records);
