// Replays fuzz inputs (files, or directories of files) through the fuzz
// target without libFuzzer, so that every build tests the corpus.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int Replay(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    if (S_ISDIR(st.st_mode)) {
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr) {
            return 1;
        }
        int count = 0;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                count += Replay(path + "/" + name) == 0 ? 1 : 0;
            }
        }
        closedir(dir);
        std::printf("%s: %d inputs\n", path.c_str(), count);
        return 0;
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        failures += Replay(argv[i]);
    }
    return failures == 0 ? 0 : 1;
}
