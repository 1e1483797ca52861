#include "cli/dump.h"

#include <cstdio>

#include "cli/texts.h"

namespace cli {

void PrintHeading(const char* heading) { std::printf("%s\n%s\n", heading, texts::kRule); }

void DumpData(const ConfigImage& image) {
    std::printf("Page |  0 1 2 3 4 5 6 7 8 9 A B C D E F\n");
    std::printf("-----+---------------------------------\n");
    for (int row = 0; row < kPageCount; ++row) {
        std::printf("0x%02X | ", row);
        for (std::size_t col = 0; col < kPageSize; ++col) {
            std::printf("%02x", image[PageOffset(row) + col]);
        }
        std::printf("\n");
    }
}

}  // namespace cli
