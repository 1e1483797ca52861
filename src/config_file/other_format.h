// Files in a format other than Intel HEX text that a user may hand over by
// mistake (S-records, a raw memory image, UTF-16 text), recognised in a
// refused file so that the refusal names the conversion that makes it
// usable.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hexfile {

struct OtherFormat {
    int line = 1;         // the line that shows the format, from 1
    std::string message;  // what the file is and the command that converts it
};

// What the file at path looks like when none of its lines starts as an
// Intel HEX record does (':' and ten hex digits): such a file holds no
// record, damaged or not. Judged from text up to read_to, the end of the
// line the file was refused at, so that nothing after its fault plays a part:
//   - a UTF-16 byte-order mark before a character of plain text: UTF-16;
//   - a line that is a whole S-record (S0 to S9, hex digits only, the byte
//     count and checksum right): Motorola S-records;
//   - a byte no text file holds (NUL, a control character other than tab,
//     vertical tab, form feed and the line breaks, a byte that is no part
//     of UTF-8): raw binary, a memory image.
// Nothing for a file that looks like none of them. The command converts
// path to a name beside it; it is a filter, standard input to standard
// output, when path is no regular file (a pipe) or is reached through
// /dev or /proc (as /dev/stdin is).
std::optional<OtherFormat> RecogniseOtherFormat(std::string_view text, std::size_t read_to,
                                                const std::string& path, bool regular_file);

}  // namespace hexfile
