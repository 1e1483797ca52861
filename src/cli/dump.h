// The hex table of an image and the section headings of a run.
#pragma once

#include "chip/chip.h"

namespace cli {

// Prints image as a 16 x 16 hex table, one row per page.
void DumpData(const ConfigImage& image);

// Prints a section heading and the rule line under it.
void PrintHeading(const char* heading);

}  // namespace cli
