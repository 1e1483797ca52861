#include "config_file/save.h"

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

}  // namespace hexfile
