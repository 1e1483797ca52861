// The memory as read back against the image that was sent to it.
#include "chip/chip.h"

ImageDifference VerifyConfigData(const ConfigImage& sent, const ConfigImage& read) {
    ImageDifference difference;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (sent[i] != read[i]) {
            difference.first = difference.count == 0 ? i : difference.first;
            ++difference.count;
        }
    }
    return difference;
}
