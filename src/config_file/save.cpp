#include "config_file/save.h"

#include <sys/stat.h>
#include <unistd.h>

#include "config_file/config_file.h"
#include "config_file/hex_record.h"

namespace hexfile {

std::string FormatConfigFile(const ConfigImage& image) {
    std::string text;
    for (int page = 0; page < kPageCount; ++page) {
        Record record;
        record.address = static_cast<std::uint16_t>(PageOffset(page));
        const std::uint8_t* first = &image[PageOffset(page)];
        record.data.assign(first, first + kPageSize);
        text += FormatRecord(record) + "\n";
    }
    return text + FormatRecord(Record{RecordType::kEndOfFile, 0, {}}) + "\n";
}

ReplaceResult SaveConfigFile(const std::string& path, const ConfigImage& image) {
    return ReplaceFile(path, FormatConfigFile(image));
}

bool SameFile(const std::string& save_path, const std::string& input_path) {
    struct stat save {};
    struct stat input {};
    const int input_found = input_path == kStandardInput ? fstat(STDIN_FILENO, &input)
                                                         : stat(input_path.c_str(), &input);
    return stat(save_path.c_str(), &save) == 0 && input_found == 0 && save.st_dev == input.st_dev &&
           save.st_ino == input.st_ino;
}

}  // namespace hexfile
