// Fuzz target for the hex record reader: any file content must read
// without a fault, fill at most 16 records and leave the rest zero.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config_file/config_file.h"

namespace {

const std::string& InputPath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/gpakcfg-fuzz.XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) {
            std::abort();
        }
        close(fd);
        return pattern;
    }();
    return path;
}

void RemoveInput() { std::remove(InputPath().c_str()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = (std::atexit(RemoveInput), true);
    (void)registered;
    std::FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) ||
        std::fclose(file) != 0) {
        std::abort();
    }
    ConfigImage image{};
    image.fill(0xEE);
    int records = -1;
    if (ReadConfigFile(InputPath().c_str(), image, records) != 1 || records < 0 || records > 16) {
        std::abort();
    }
    for (std::size_t i = static_cast<std::size_t>(records) * 16; i < image.size(); ++i) {
        if (image[i] != 0) {
            std::abort();  // bytes no record filled must be zero
        }
    }
    return 0;
}
