// Fuzz target for the hex record reader: any file content must read
// without a fault, and a file it takes must give the image that a second,
// independent decoding of the file's records gives.
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

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

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// The file's records as a plain Intel HEX reader sees them: the lines that
// start with ':' up to the end record (a ':' anywhere else is malformed),
// each field read on its own, every data byte put at its full address
// (segment or linear base + load address).
struct Decoded {
    bool well_formed = true;  // every record before the end is well formed
    bool ended = false;
    bool overlap = false;
    std::map<unsigned long, unsigned> bytes;
};

unsigned Hex(const std::string& line, std::size_t at) {
    return static_cast<unsigned>(std::strtoul(line.substr(at, 2).c_str(), nullptr, 16));
}

bool DecodeLine(std::string line, unsigned long& base, Decoded& out) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    if (line.empty() || line[0] != ':') {
        return line.find(':') == std::string::npos;  // a comment, or a record out of place
    }
    if (line.size() < 11 || line.size() % 2 != 1) {
        return false;
    }
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (std::isxdigit(static_cast<unsigned char>(line[i])) == 0) {
            return false;
        }
    }
    const unsigned count = Hex(line, 1);
    const unsigned address = Hex(line, 3) << 8 | Hex(line, 5);
    const unsigned type = Hex(line, 7);
    if (line.size() != 11 + 2 * count) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < line.size(); i += 2) {
        sum += Hex(line, i);
    }
    if (sum % 256 != 0) {
        return false;
    }
    const unsigned value = count >= 2 ? Hex(line, 9) << 8 | Hex(line, 11) : 0;
    switch (type) {
        case 0:
            for (unsigned i = 0; i < count; ++i) {
                const unsigned long at = base + address + i;
                out.overlap = out.overlap || out.bytes.count(at) != 0;
                out.bytes[at] = Hex(line, 9 + 2 * i);
            }
            return true;
        case 1:
            out.ended = true;
            return count == 0;
        case 2:
            base = static_cast<unsigned long>(value) << 4;
            return count == 2;
        case 4:
            base = static_cast<unsigned long>(value) << 16;
            return count == 2;
        case 3:
        case 5:
            return count == 4;
        default:
            return false;
    }
}

Decoded Decode(const std::string& text) {
    Decoded out;
    unsigned long base = 0;
    std::size_t pos = 0;
    while (pos < text.size() && !out.ended) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (!DecodeLine(text.substr(pos, end - pos), base, out)) {
            out.well_formed = false;
            return out;
        }
        pos = end + 1;
    }
    return out;
}

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
    const ConfigFileResult result = ReadConfigFile(InputPath(), image);
    const Decoded decoded = Decode(std::string(reinterpret_cast<const char*>(data), size));
    if (result.status == ConfigFileStatus::kRefused) {
        Check(result.refusal.rfind(InputPath() + ":", 0) == 0, "a refusal names the file");
        Check(image == ConfigImage{}, "a refused file leaves the image all zero");
        return 0;
    }
    Check(result.status == ConfigFileStatus::kRead, "the file is read or refused");
    Check(decoded.well_formed, "a file taken has only well-formed records");
    Check(!decoded.overlap, "a file taken has no byte twice");
    const std::size_t n = decoded.bytes.size();
    Check(n >= 1 && n <= image.size(), "a file taken has 1 to 256 data bytes");
    Check(decoded.bytes.rbegin()->first == n - 1, "a file taken fills the image from 0 on");
    Check(decoded.ended || n == image.size(), "a file taken has its end record or 256 bytes");
    for (std::size_t i = 0; i < image.size(); ++i) {
        Check(image[i] == (i < n ? decoded.bytes.at(i) : 0), "the image is the file's data");
    }
    return 0;
}
