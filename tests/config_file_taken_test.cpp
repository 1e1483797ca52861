// The hex record reader's rules, as a table: each row a rule, named as its
// test, with the files it takes and the image each gives. The files it
// refuses are the rows of config_file_refused_test.cpp.
#include <gtest/gtest.h>

#include "hex_records.h"

namespace {

using namespace gpaktest;
using namespace std::string_literals;

TEST_P(RecordRules, Read) {
    ASSERT_FALSE(GetParam().files.empty());
    for (const FileCase& file : GetParam().files) {
        if (file.line == 0) {
            ExpectTaken(file.content, file.image, file.records);
        } else {
            ExpectRefused(file.content, file.line, file.message);
        }
    }
}

FileRow FilesReadBefore() {
    FileRow row{"RecordsOfSixteenBytesInAnyCaseAndLineEndGiveTheirImage",
                {Taken(Join(CountingLines(16)), CountingImage(), 16)}};
    Strings mixed_case = CountingLines(16);
    for (unsigned page = 1; page < 16; page += 2) {
        mixed_case[page] = Data(page * 16, 16, true);
    }
    for (const std::string eol : {"\n", "\r\n"}) {
        for (const Strings& lines : {CountingLines(16), mixed_case}) {
            Strings ended = lines;
            ended.push_back(kEndRecord);
            std::string no_last_break = Join(ended, eol);
            no_last_break.resize(no_last_break.size() - eol.size());
            row.files.push_back(Taken(Join(ended, eol)));
            row.files.push_back(Taken(Join(lines, eol)));  // without the end record
            row.files.push_back(Taken(no_last_break));
        }
    }
    return row;
}

FileRow RecordsOfAnyLength() {
    FileRow row{"RecordsOfAnyLengthLoadOneAfterAnother", {}};
    for (const unsigned size : {1u, 8u, 16u, 32u, 100u}) {
        Strings lines = CountingLines(size);
        row.files.push_back(Taken(Join(lines)));
        lines.push_back(kEndRecord);
        row.files.push_back(Taken(Join(lines)));
    }
    // The longest record, 255 bytes: a line of 521 characters.
    row.files.push_back(Taken(Data(0, 255) + "\n" + Data(255, 1) + "\n"));
    // Sizes mixed in one file.
    row.files.push_back(Taken(Join({Data(0, 3), Data(3, 61), Data(64, 192)}), CountingImage(), 3));
    return row;
}

FileRow AddressRecordsOfZero() {
    FileRow row{"AddressRecordsOfZeroAndStartRecordsChangeNothing", {}};
    const Strings headers[] = {
        {Rec(4, 0, {0, 0})},                                 // extended linear address 0
        {Rec(2, 0, {0, 0})},                                 // extended segment address 0
        {Rec(4, 0, {0, 0}), Rec(5, 0, {0, 0, 0x12, 0x34})},  // start linear address
        {Rec(3, 0, {0, 0x12, 0, 0x34})},                     // start segment address
    };
    for (const Strings& header : headers) {
        Strings lines = header;
        const Strings data = CountingLines(32);
        lines.insert(lines.end(), data.begin(), data.end());
        lines.insert(lines.begin() + 4, Rec(4, 0, {0, 0}));  // again, between the data
        lines.push_back(kEndRecord);
        row.files.push_back(Taken(Join(lines)));
    }
    return row;
}

FileRow LineEndsBlanksAndComments() {
    Strings lines = CountingLines(32);
    lines.insert(lines.begin() + 6, "");
    lines.insert(lines.begin() + 4, "# page 4 and on, the second half");
    lines.insert(lines.begin() + 2, "   \t");
    lines.insert(lines.begin() + 2, "\f");                               // a page break
    lines.insert(lines.begin() + 2, "\xC2\xA0 no record in this line");  // nor a ':'
    // Nor are comments that look like S-records, or hold control or Latin-1
    // bytes, read as another format where the file holds records.
    lines.insert(lines.begin() + 2, "S1 board 12, Serial 12345678");
    lines.insert(lines.begin() + 2, "123456789 0123");  // too few digits for a record
    lines.insert(lines.begin() + 2, SRec('1', 0, Counting(0, 16)));
    lines.insert(lines.begin() + 2, "# \x1B[1mGr\xF6\xDF\xE9\x1B[0m \x01\x7F");
    lines.insert(lines.begin(), "; made by hand, " + std::string(300, '-'));
    lines.insert(lines.begin(), "");
    lines.push_back(kEndRecord);
    return {"CrLineEndsBlankLinesAndCommentsAreReadPast",
            {
                Taken(Join(CountingLines(16), "\r") + kEndRecord + "\r"),
                Taken(Join(CountingLines(16), "\r")),
                Taken(Join(lines, "\r\n")),
                // Lines of any length: a comment far over 80 characters, and
                // blanks after a record, as the reader always took them.
                Taken(std::string(1000, '#') + "\n" + Join(CountingLines(16))),
                Taken(Data(0, 128) + std::string(50, ' ') + "\t\n" + Data(128, 128) + "\n"),
            }};
}

std::vector<FileRow> Rows() {
    return {
        FilesReadBefore(),
        RecordsOfAnyLength(),
        AddressRecordsOfZero(),
        LineEndsBlanksAndComments(),
        {"TheEndRecordEndsTheFile",
         {
             // Fewer than 256 bytes: the rest is 0x00.
             Taken(Data(0, 16) + "\n" + kEndRecord + "\n", CountingImage(16)),
             Taken(Join(CountingLines(8, 200)) + kEndRecord, CountingImage(200)),
             // Whatever follows the end record is not read.
             Taken(Data(0, 16) + "\n" + kEndRecord + "\n" + Data(16, 16) + "\n:ZZ\nnot\0text\n"s,
                   CountingImage(16)),
         }},
    };
}

INSTANTIATE_TEST_SUITE_P(Taken, RecordRules, testing::ValuesIn(Rows()), RowName);

}  // namespace
