// The rules that make a hex record file's image certain: which lines are
// records, where each record's data must load, and when the file is whole.
#pragma once

#include <string>
#include <string_view>

#include "chip/chip.h"
#include "config_file/hex_record.h"

namespace hexfile {

// Fills an image from the lines of one file, one line at a time. Each call
// returns what is wrong with the line (or the file), or "" when all is well.
class ImageRules {
public:
    explicit ImageRules(ConfigImage& image) : image_(image) {}

    // Blank lines and lines without ':' are skipped, but for one of hex
    // digits alone (a record that lost its ':'); a line that starts with
    // ':' must be a record, and is taken; a ':' anywhere else is wrong.
    std::string TakeLine(std::string_view line);

    // Data records fill the image one after another from 0x0000; address
    // records must leave the address at 0; one start address record at most.
    std::string Take(const Record& record);

    // The end record has been taken: what follows it is not read.
    [[nodiscard]] bool Ended() const { return ended_; }

    // After the last line: some data, and either the end record or all 256 bytes.
    [[nodiscard]] std::string Finish() const;

    [[nodiscard]] int DataRecords() const { return data_records_; }

private:
    std::string TakeData(const Record& record);
    static std::string TakeExtendedAddress(const Record& record);

    ConfigImage& image_;
    std::size_t end_ = 0;  // where the data so far ends
    int data_records_ = 0;
    bool start_address_ = false;
    bool ended_ = false;
};

}  // namespace hexfile
