// The files the hex record reader refuses, as rows of its table of rules:
// each with the line and the reason it names.
#include <gtest/gtest.h>

#include "hex_records.h"

namespace {

using namespace gpaktest;
using namespace std::string_literals;

FileRow MalformedRecords() {
    const std::string good = Data(0, 16);  // :10000000000102030405060708090A0B0C0D0E0F78
    const std::pair<std::string, std::string> records[] = {
        {good.substr(0, 12) + "ZZ" + good.substr(14), "'Z' at column 13 is not a hex digit"},
        {good.substr(0, 20) + "\x01" + good.substr(21),
         "byte 0x01 at column 21 is not a hex digit"},
        {good.substr(0, 20) + " " + good.substr(21), "byte 0x20 at column 21 is not a hex digit"},
        {good.substr(0, 42), "the record has an odd number of hex digits (41)"},
        {good.substr(0, 41), "the byte count says 16 data bytes, the record holds 15"},
        {":08" + Rec(0, 0, Counting(0, 9)).substr(3),
         "the byte count says 8 data bytes, the record holds 9"},
        {":", "the record is too short: 0 hex digits, at least 10 are needed"},
        {":00000001", "the record is too short: 8 hex digits, at least 10 are needed"},
        {good.substr(0, 41) + "79", "checksum is 0x78, the record says 0x79"},
        {":10000000000102030405060708090a0b0c0d0e0f00", "checksum is 0x78, the record says 0x00"},
        {Rec(6, 0, {}), "unknown record type 0x06"},
        {Rec(1, 0, {0}), "an end record has the byte count 00, this one 01"},
        {Rec(4, 0, {0}), "an extended linear address record has the byte count 02, this one 01"},
        {Rec(2, 0x10, {0, 0}),
         "an extended segment address record has the address field 0000, this one 0010"},
        {Rec(5, 0, {0, 0}), "a start linear address record has the byte count 04, this one 02"},
        {Rec(3, 1, {0, 0, 0, 0}),
         "a start segment address record has the address field 0000, this one 0001"},
    };
    FileRow row{"MalformedRecordsAreRefusedWithTheirLineAndWhatIsWrong", {}};
    for (const auto& [record, message] : records) {
        // At line 3, after a record and a comment, with and without CR LF.
        for (const std::string eol : {"\n", "\r\n"}) {
            row.files.push_back(Refused(Join({good, "# c", record, kEndRecord}, eol), 3, message));
        }
    }
    return row;
}

FileRow NulBytes() {
    std::string second = Data(16, 16);
    second[20] = '\0';
    std::string first = Data(0, 16);
    first[20] = '\0';
    const std::string message = "a NUL byte at column 21: this is not a text file";
    return {"ANulByteIsRefusedAnywhereBeforeTheEnd",
            {
                Refused(Data(0, 16) + "\n" + second + "\n", 2, message),
                Refused(Data(0, 16) + "\n# a\0b\n"s, 2,
                        "a NUL byte at column 4: this is not a text file"),
                // In the first record too: a hex record file however damaged is no binary.
                Refused("# first\n" + first + "\n", 2, message),
            }};
}

FileRow LoadAddresses() {
    const std::string rule =
        ": records must follow one another from 0x0000, without gaps or overlaps";
    Strings swapped = CountingLines(16);
    std::swap(swapped[4], swapped[5]);
    Strings gap = CountingLines(16);
    gap.erase(gap.begin() + 3);
    Strings twice = CountingLines(32);
    twice.insert(twice.begin() + 2, twice[1]);
    return {"RecordsMustLoadOneAfterAnotherFromZero",
            {
                Refused(Join(swapped), 5,
                        "the record loads at 0x0050, but the data before it ends at 0x0040" + rule),
                Refused(Join(gap), 4,
                        "the record loads at 0x0040, but the data before it ends at 0x0030" + rule),
                Refused(Join(twice), 3,
                        "the record loads at 0x0020, but the data before it ends at 0x0040" + rule),
                Refused("# first\n" + Data(16, 16) + "\n", 2,
                        "the first data record loads at 0x0010, not at 0x0000"),
            }};
}

FileRow TooLarge() {
    const std::string rule =
        " reach past byte 0x00FF: more than the 256 bytes of a chip memory (the file is for "
        "another memory or another chip)";
    return {"MoreThan256BytesAreRefused",
            {
                Refused(Join(CountingLines(16, 272)), 17, "the record's 16 bytes at 0x0100" + rule),
                Refused(Data(0, 255) + "\n" + Data(255, 2) + "\n", 2,
                        "the record's 2 bytes at 0x00FF" + rule),
            }};
}

FileRow OtherAddresses() {
    const std::string start = Rec(5, 0, {0, 0, 0, 0});
    return {"AddressesOtherThanZeroAndASecondStartAddressAreRefused",
            {
                Refused(Rec(4, 0, {0, 1}) + "\n" + Join(CountingLines(16)), 1,
                        "extended linear address 0x0001 puts the data at 0x00010000, outside the "
                        "memory at 0x0000 to 0x00FF"),
                Refused(Join(CountingLines(16)) + Rec(2, 0, {0x10, 0}) + "\n" + kEndRecord, 17,
                        "extended segment address 0x1000 puts the data at 0x10000, outside the "
                        "memory at 0x0000 to 0x00FF"),
                Refused(start + "\n" + Join(CountingLines(16)) + start + "\n", 18,
                        "a second start address record"),
            }};
}

FileRow CutShort() {
    const std::string message =
        " of 256 data bytes without the end record :00000001FF, so it may be cut short; if "
        "the rest is meant to be 0x00, end it with that record";
    const std::string whole = Join(CountingLines(16)) + kEndRecord + "\n";
    return {"AFileThatMayBeCutShortIsRefused",
            {
                Refused(Join(CountingLines(16, 128)), 8, "the file ends after 128" + message),
                Refused(Join(CountingLines(32, 224)) + "# the last one is missing\n", 8,
                        "the file ends after 224" + message),
                // Cut in the middle of a record: that record is malformed.
                Refused(whole.substr(0, 44 * 15 + 21), 16,
                        "the byte count says 16 data bytes, the record holds 5"),
            }};
}

// Blanks and a byte-order mark before the record were refused before; any
// other character before a ':', seen or unseen, is now refused too.
FileRow ColonNotAtTheStart() {
    const std::string rule =
        ": a record starts at the first character of its line, and a comment holds no ':'";
    const std::string blanks =
        "blanks stand before the record: a record starts at the start of its line";
    const std::pair<std::string, std::string> befores[] = {
        {"  ", blanks},
        {"\t", blanks},
        {"\f", "a form feed at column 1 stands before the ':' at column 2" + rule},
        {"\v", "a vertical tab at column 1 stands before the ':' at column 2" + rule},
        {"\xC2\xA0",
         "a no-break space (C2 A0) at column 1 stands before the ':' at column 3" + rule},
        {"\xE2\x80\x8B",
         "a zero-width space (E2 80 8B) at column 1 stands before the ':' at column 4" + rule},
        {" \xE2\x81\xA0",
         "a word joiner (E2 81 A0) at column 2 stands before the ':' at column 5" + rule},
        {"\xEF\xBB\xBF ",
         "a byte-order mark (EF BB BF) at column 1 stands before the ':' at column 5" + rule},
        {"x", "'x' at column 1 stands before the ':' at column 2" + rule},
        {"\t\x1B", "byte 0x1B at column 2 stands before the ':' at column 3" + rule},
        {"\xE3\x80\x80", "byte 0xE3 at column 1 stands before the ':' at column 4" + rule},
    };
    FileRow row{"AColonAnywhereButAtTheStartOfALineIsRefused", {}};
    for (const auto& [before, message] : befores) {
        // The last data record, with the end record after it: once skipped,
        // the rest of the image was 0x00.
        row.files.push_back(Refused(
            Join(CountingLines(16, 240)) + before + Data(240, 16) + "\n" + kEndRecord + "\n", 16,
            message));
    }
    // A comment line that holds a ':' was skipped before.
    row.files.push_back(
        Refused(Data(0, 16) + "\n# page 4 and on: the second half\n" + kEndRecord + "\n", 2,
                "'#' at column 1 stands before the ':' at column 16" + rule));
    row.files.push_back(
        Refused("\xEF\xBB\xBF" + Join(CountingLines(16)), 1,
                "a byte-order mark stands before the record: save the file as plain text"));
    return row;
}

// Once skipped as a comment, the page of a record that lost its ':' was
// programmed as zeros; a comment line of other text stays a comment.
FileRow RecordWithoutColon() {
    const std::string last = Data(240, 16).substr(1);
    FileRow row{"ARecordThatLostItsColonIsNowRefusedNotSkipped", {}};
    for (const std::string& line : {last, " \t" + last + " ", last.substr(0, 10)}) {
        row.files.push_back(Refused(Join(CountingLines(16, 240)) + line + "\n" + kEndRecord + "\n",
                                    16, "a record without its ':'"));
    }
    return row;
}

std::vector<FileRow> Rows() {
    std::string non_hex = Data(0, 16);
    non_hex[10] = 'G';
    return {
        MalformedRecords(),
        {"ANonHexDigitIsRefused",
         {Refused(non_hex + "\n", 1, "'G' at column 11 is not a hex digit")}},
        NulBytes(),
        LoadAddresses(),
        TooLarge(),
        OtherAddresses(),
        CutShort(),
        ColonNotAtTheStart(),
        RecordWithoutColon(),
        {"FilesWithoutDataAreRefused",
         {
             Refused("", 1, "no data records"),
             Refused("\n\n", 2, "no data records"),
             Refused("<?xml version=\"1.0\"?>\n<project/>\n", 2, "no data records"),
             Refused(Rec(4, 0, {0, 0}) + "\n" + kEndRecord + "\n", 2,
                     "no data records before the end record"),
             Refused(Rec(0, 0, {}) + "\n" + kEndRecord + "\n", 2,
                     "no data records before the end record"),
         }},
    };
}

INSTANTIATE_TEST_SUITE_P(Refused, RecordRules, testing::ValuesIn(Rows()), RowName);

}  // namespace
