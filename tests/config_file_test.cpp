// The hex record reader: which files it takes and the image they give, and
// the files it refuses, each with the line and the reason.
#include "config_file/config_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

#include "common/unique_fd.h"
#include "run_command.h"

namespace {

using Strings = std::vector<std::string>;
using namespace std::string_literals;

// A record line with its checksum; digits in upper case unless lower_case.
std::string Rec(unsigned type, unsigned addr, const std::vector<unsigned>& data,
                bool lower_case = false) {
    unsigned sum = static_cast<unsigned>(data.size()) + (addr >> 8) + (addr & 0xFF) + type;
    char text[16];
    std::snprintf(text, sizeof text, lower_case ? ":%02x%04x%02x" : ":%02X%04X%02X",
                  static_cast<unsigned>(data.size()), addr, type);
    std::string line = text;
    for (const unsigned byte : data) {
        sum += byte;
        std::snprintf(text, sizeof text, lower_case ? "%02x" : "%02X", byte);
        line += text;
    }
    std::snprintf(text, sizeof text, lower_case ? "%02x" : "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}

// n data bytes of the counting image from addr on.
std::vector<unsigned> Counting(unsigned addr, unsigned n) {
    std::vector<unsigned> data;
    for (unsigned i = 0; i < n; ++i) {
        data.push_back((addr + i) & 0xFF);
    }
    return data;
}

std::string Data(unsigned addr, unsigned n, bool lower_case = false) {
    return Rec(0, addr, Counting(addr, n), lower_case);
}

const std::string kEnd = ":00000001FF";

// A Motorola S-record line: S1, S5 and S9 have 2 address bytes, S2 and S8
// 3, S3 and S7 4.
std::string SRec(char type, unsigned addr, const std::vector<unsigned>& data) {
    const unsigned address_bytes = type == '3' || type == '7'   ? 4
                                   : type == '2' || type == '8' ? 3
                                                                : 2;
    std::vector<unsigned> bytes = {static_cast<unsigned>(address_bytes + data.size() + 1)};
    for (unsigned i = address_bytes; i-- > 0;) {
        bytes.push_back(addr >> (8 * i) & 0xFF);
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = {'S', type};
    char text[4];
    for (const unsigned byte : bytes) {
        sum += byte;
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
    }
    std::snprintf(text, sizeof text, "%02X", ~sum & 0xFF);
    return line + text;
}

// The counting image in records of size bytes, one a line.
Strings Lines(unsigned size, unsigned total = 256) {
    Strings lines;
    for (unsigned addr = 0; addr < total; addr += size) {
        lines.push_back(Data(addr, std::min(size, total - addr)));
    }
    return lines;
}

std::string Join(const Strings& lines, const std::string& eol = "\n") {
    std::string text;
    for (const std::string& line : lines) {
        text += line + eol;
    }
    return text;
}

// Runs body in a child process, which ends after it (or after 10 s).
pid_t InChild(const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        body();
        _exit(0);
    }
    return pid;
}

// The child's wait status.
int Reap(pid_t pid) {
    int status = -1;
    return pid > 0 && waitpid(pid, &status, 0) == pid ? status : -1;
}

ConfigImage CountingImage(std::size_t filled = 256) {
    ConfigImage image{};
    for (std::size_t i = 0; i < filled; ++i) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    return image;
}

class ConfigFileTest : public testing::Test {
protected:
    // Reads content as config.hex; the image starts as garbage to prove the clearing.
    ConfigFileResult Read(const std::string& content) {
        image.fill(0xEE);
        return ReadConfigFile(dir.Write("config.hex", content), image);
    }

    // Expects content to be taken and to give expected.
    void ExpectTaken(const std::string& content, const ConfigImage& expected) {
        const ConfigFileResult result = Read(content);
        EXPECT_EQ(result.status, ConfigFileStatus::kRead) << result.refusal << "\n" << content;
        EXPECT_EQ(image, expected) << content;
    }

    // Expects content to be refused with "config.hex:LINE: message".
    void ExpectRefused(const std::string& content, int line, const std::string& message) {
        const ConfigFileResult result = Read(content);
        EXPECT_EQ(result.status, ConfigFileStatus::kRefused) << content;
        EXPECT_EQ(result.refusal,
                  dir.Path("config.hex") + ":" + std::to_string(line) + ": " + message)
            << content;
        EXPECT_EQ(image, ConfigImage{}) << "a refused file leaves nothing in the image";
    }

    gpaktest::TempDir dir;
    ConfigImage image{};
};

TEST_F(ConfigFileTest, FilesReadBeforeKeepTheirImage) {
    Strings mixed_case = Lines(16);
    for (unsigned page = 1; page < 16; page += 2) {
        mixed_case[page] = Data(page * 16, 16, true);
    }
    for (const std::string eol : {"\n", "\r\n"}) {
        for (const Strings& lines : {Lines(16), mixed_case}) {
            Strings ended = lines;
            ended.push_back(kEnd);
            ExpectTaken(Join(ended, eol), CountingImage());
            ExpectTaken(Join(lines, eol), CountingImage());  // without the end record
            std::string no_last_break = Join(ended, eol);
            no_last_break.resize(no_last_break.size() - eol.size());
            ExpectTaken(no_last_break, CountingImage());
        }
    }
    EXPECT_EQ(Read(Join(Lines(16))).records, 16);
}

TEST_F(ConfigFileTest, RecordsOfAnyLengthLoadOneAfterAnother) {
    for (const unsigned size : {1u, 8u, 16u, 32u, 100u}) {
        Strings lines = Lines(size);
        ExpectTaken(Join(lines), CountingImage());
        lines.push_back(kEnd);
        ExpectTaken(Join(lines), CountingImage());
    }
    // The longest record, 255 bytes: a line of 521 characters.
    const std::string longest = Data(0, 255);
    EXPECT_EQ(longest.size(), 521u);
    ExpectTaken(longest + "\n" + Data(255, 1) + "\n", CountingImage());
    // Sizes mixed in one file.
    ExpectTaken(Join({Data(0, 3), Data(3, 61), Data(64, 192)}), CountingImage());
    EXPECT_EQ(Read(Join({Data(0, 3), Data(3, 61), Data(64, 192)})).records, 3);
}

TEST_F(ConfigFileTest, AddressRecordsOfZeroAndStartRecordsChangeNothing) {
    const Strings headers[] = {
        {Rec(4, 0, {0, 0})},                                 // extended linear address 0
        {Rec(2, 0, {0, 0})},                                 // extended segment address 0
        {Rec(4, 0, {0, 0}), Rec(5, 0, {0, 0, 0x12, 0x34})},  // start linear address
        {Rec(3, 0, {0, 0x12, 0, 0x34})},                     // start segment address
    };
    for (const Strings& header : headers) {
        Strings lines = header;
        const Strings data = Lines(32);
        lines.insert(lines.end(), data.begin(), data.end());
        lines.insert(lines.begin() + 4, Rec(4, 0, {0, 0}));  // again, between the data
        lines.push_back(kEnd);
        ExpectTaken(Join(lines), CountingImage());
    }
}

TEST_F(ConfigFileTest, CrLineEndsBlankLinesAndCommentsNoLongerEndTheReading) {
    ExpectTaken(Join(Lines(16), "\r") + kEnd + "\r", CountingImage());
    ExpectTaken(Join(Lines(16), "\r"), CountingImage());
    Strings lines = Lines(32);
    lines.insert(lines.begin() + 6, "");
    lines.insert(lines.begin() + 4, "# page 4 and on, the second half");
    lines.insert(lines.begin() + 2, "   \t");
    lines.insert(lines.begin() + 2, "\f");                               // a page break
    lines.insert(lines.begin() + 2, "\xC2\xA0 no record in this line");  // nor a ':'
    // Nor are comments that look like S-records, or hold control or Latin-1
    // bytes, read as another format where the file holds records.
    lines.insert(lines.begin() + 2, "S1 board 12, Serial 12345678");
    lines.insert(lines.begin() + 2, SRec('1', 0, Counting(0, 16)));
    lines.insert(lines.begin() + 2, "# \x1B[1mGr\xF6\xDF\xE9\x1B[0m \x01\x7F");

    lines.insert(lines.begin(), "; made by hand, " + std::string(300, '-'));
    lines.insert(lines.begin(), "");
    lines.push_back(kEnd);
    ExpectTaken(Join(lines, "\r\n"), CountingImage());
    // Lines of any length: a comment far over 80 characters, and blanks
    // after a record, as the reader always took them.
    ExpectTaken(std::string(1000, '#') + "\n" + Join(Lines(16)), CountingImage());
    ExpectTaken(Data(0, 128) + std::string(50, ' ') + "\t\n" + Data(128, 128) + "\n",
                CountingImage());
}

TEST_F(ConfigFileTest, TheEndRecordEndsTheFile) {
    // Fewer than 256 bytes: the rest is 0x00.
    ExpectTaken(Data(0, 16) + "\n" + kEnd + "\n", CountingImage(16));
    ExpectTaken(Join(Lines(8, 200)) + kEnd, CountingImage(200));
    // Whatever follows the end record is not read.
    ExpectTaken(Data(0, 16) + "\n" + kEnd + "\n" + Data(16, 16) + "\n:ZZ\nnot\0text\n"s,
                CountingImage(16));
}

TEST_F(ConfigFileTest, MalformedRecordsAreRefusedWithTheirLineAndWhatIsWrong) {
    const std::string good = Data(0, 16);  // :10000000000102030405060708090A0B0C0D0E0F78
    struct Case {
        std::string line;
        std::string message;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        // At line 3, after a record and a comment, with and without CR LF.
        ExpectRefused(good + "\n# c\n" + c.line + "\n" + kEnd + "\n", 3, c.message);
        ExpectRefused(good + "\r\n# c\r\n" + c.line + "\r\n" + kEnd + "\r\n", 3, c.message);
    }
}

TEST_F(ConfigFileTest, ANonHexDigitIsNowRefusedInsteadOfCountingAsZero) {
    std::string record = Data(0, 16);
    record[10] = 'G';
    ExpectRefused(record + "\n", 1, "'G' at column 11 is not a hex digit");
}

TEST_F(ConfigFileTest, ANulByteIsNowRefusedAnywhereBeforeTheEnd) {
    std::string record = Data(16, 16);
    record[20] = '\0';
    ExpectRefused(Data(0, 16) + "\n" + record + "\n", 2,
                  "a NUL byte at column 21: this is not a text file");
    ExpectRefused(Data(0, 16) + "\n# a\0b\n"s, 2,
                  "a NUL byte at column 4: this is not a text file");
    // In the first record too: a hex record file however damaged is no binary.
    record = Data(0, 16);
    record[20] = '\0';
    ExpectRefused("# first\n" + record + "\n", 2,
                  "a NUL byte at column 21: this is not a text file");
}

TEST_F(ConfigFileTest, LoadAddressesAreNowCheckedInsteadOfIgnored) {
    Strings swapped = Lines(16);
    std::swap(swapped[4], swapped[5]);
    ExpectRefused(Join(swapped), 5,
                  "the record loads at 0x0050, but the data before it ends at 0x0040: records "
                  "must follow one another from 0x0000, without gaps or overlaps");
    Strings gap = Lines(16);
    gap.erase(gap.begin() + 3);
    ExpectRefused(Join(gap), 4,
                  "the record loads at 0x0040, but the data before it ends at 0x0030: records "
                  "must follow one another from 0x0000, without gaps or overlaps");
    Strings twice = Lines(32);
    twice.insert(twice.begin() + 2, twice[1]);
    ExpectRefused(Join(twice), 3,
                  "the record loads at 0x0020, but the data before it ends at 0x0040: records "
                  "must follow one another from 0x0000, without gaps or overlaps");
    ExpectRefused("# first\n" + Data(16, 16) + "\n", 2,
                  "the first data record loads at 0x0010, not at 0x0000");
}

TEST_F(ConfigFileTest, MoreThan256BytesAreNowRefusedInsteadOfCutOff) {
    Strings seventeen = Lines(16, 272);
    ExpectRefused(Join(seventeen), 17,
                  "the record's 16 bytes at 0x0100 reach past byte 0x00FF: more than the 256 "
                  "bytes of a chip memory (the file is for another memory or another chip)");
    ExpectRefused(Data(0, 255) + "\n" + Data(255, 2) + "\n", 2,
                  "the record's 2 bytes at 0x00FF reach past byte 0x00FF: more than the 256 "
                  "bytes of a chip memory (the file is for another memory or another chip)");
}

TEST_F(ConfigFileTest, AddressesOtherThanZeroAndASecondStartAddressAreRefused) {
    ExpectRefused(Rec(4, 0, {0, 1}) + "\n" + Join(Lines(16)), 1,
                  "extended linear address 0x0001 puts the data at 0x00010000, outside the "
                  "memory at 0x0000 to 0x00FF");
    ExpectRefused(Join(Lines(16)) + Rec(2, 0, {0x10, 0}) + "\n" + kEnd, 17,
                  "extended segment address 0x1000 puts the data at 0x10000, outside the "
                  "memory at 0x0000 to 0x00FF");
    const std::string start = Rec(5, 0, {0, 0, 0, 0});
    ExpectRefused(start + "\n" + Join(Lines(16)) + start + "\n", 18,
                  "a second start address record");
}

TEST_F(ConfigFileTest, AFileThatMayBeCutShortIsRefused) {
    const std::string message =
        " of 256 data bytes without the end record :00000001FF, so it may be cut short; if "
        "the rest is meant to be 0x00, end it with that record";
    ExpectRefused(Join(Lines(16, 128)), 8, "the file ends after 128" + message);
    ExpectRefused(Join(Lines(32, 224)) + "# the last one is missing\n", 8,
                  "the file ends after 224" + message);
    // Cut in the middle of a record: that record is malformed.
    const std::string whole = Join(Lines(16)) + kEnd + "\n";
    ExpectRefused(whole.substr(0, 44 * 15 + 21), 16,
                  "the byte count says 16 data bytes, the record holds 5");
}

// Blanks and a byte-order mark before the record were refused before; any
// other character before a ':', seen or unseen, is now refused too.
TEST_F(ConfigFileTest, AColonAnywhereButAtTheStartOfALineIsNowRefusedNotSkipped) {
    const std::string rule =
        ": a record starts at the first character of its line, and a comment holds no ':'";
    struct Case {
        std::string before;
        std::string message;
    };
    const Case cases[] = {
        {"  ", "blanks stand before the record: a record starts at the start of its line"},
        {"\t", "blanks stand before the record: a record starts at the start of its line"},
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
    for (const Case& c : cases) {
        // The last data record, with the end record after it: once skipped,
        // the rest of the image was 0x00.
        ExpectRefused(Join(Lines(16, 240)) + c.before + Data(240, 16) + "\n" + kEnd + "\n", 16,
                      c.message);
    }
    // A comment line that holds a ':' was skipped before.
    ExpectRefused(Data(0, 16) + "\n# page 4 and on: the second half\n" + kEnd + "\n", 2,
                  "'#' at column 1 stands before the ':' at column 16" + rule);
    ExpectRefused("\xEF\xBB\xBF" + Join(Lines(16)), 1,
                  "a byte-order mark stands before the record: save the file as plain text");
}

TEST_F(ConfigFileTest, FilesWithoutDataAreRefused) {
    ExpectRefused("", 1, "no data records");
    ExpectRefused("\n\n", 2, "no data records");
    ExpectRefused("<?xml version=\"1.0\"?>\n<project/>\n", 2, "no data records");
    ExpectRefused(Rec(4, 0, {0, 0}) + "\n" + kEnd + "\n", 2,
                  "no data records before the end record");
    ExpectRefused(Rec(0, 0, {}) + "\n" + kEnd + "\n", 2, "no data records before the end record");
}

// Files of S-records, raw memory images (4096 NUL bytes were a NUL fault
// before) and UTF-16 text, refused at the line that shows it with the
// command that converts them; the command gives a file that is taken, with
// the image meant.
TEST_F(ConfigFileTest, OtherFormatsAreNowRefusedWithTheCommandThatConvertsThem) {
    Strings srec = {SRec('0', 0, {'g', 'p', 'a', 'k'})};
    for (unsigned addr = 0; addr < 256; addr += 32) {
        srec.push_back(SRec('1', addr, Counting(addr, 32)));
    }
    srec.push_back(SRec('9', 0, {}));
    const ConfigImage counting = CountingImage();
    const std::string counting_bytes(counting.begin(), counting.end());
    // The S-records and the image as srec_cat writes them, where it is installed.
    const std::string source = dir.Write("source.hex", Join(Lines(16)) + kEnd + "\n");
    const auto by_srec_cat = [&](const char* format, const std::string& by_hand) {
        const gpaktest::CommandResult made =
            gpaktest::RunCommand({"/bin/sh", "-c", "exec srec_cat \"$@\"", "srec_cat", source,
                                  "-intel", "-o", dir.Path("made"), format});
        return made.status == 0 ? gpaktest::ReadFile(dir.Path("made")) : by_hand;
    };
    std::string utf16 = "\xFF\xFE";
    for (const char c : Join(Lines(16)) + kEnd + "\r\n") {
        utf16 += {c, '\0'};
    }
    const auto srec_cat = [&](const std::string& in, const char* format, const std::string& out) {
        return ": convert it with srec_cat " + in + " " + format + " -o " + out + " -intel";
    };
    const std::string kSRecords = "an S-record (Motorola) file, not Intel HEX";
    const auto raw = [](const char* byte_column) {
        return "a raw binary file (byte " + std::string(byte_column) + "), not Intel HEX";
    };
    const ConfigImage erased = [] {
        ConfigImage image{};
        image.fill(0xFF);
        return image;
    }();
    struct Case {
        std::string name;       // of the file
        std::string converted;  // the name the command converts it to
        std::string content;
        int line;
        std::string message;
        std::optional<ConfigImage> image;  // what the converted file gives
    };
    const std::string a = dir.Path("a."), quoted_board = "'" + dir.Path("my board.");
    const Case cases[] = {
        {"a.s19", "a.hex", by_srec_cat("-motorola", Join(srec)), 1,
         kSRecords + srec_cat(a + "s19", "-motorola", a + "hex"), CountingImage()},
        // Named .hex, with CR LF, after a comment: never converted onto itself.
        {"b.hex", "b-intel.hex",
         "# from the bench PC\r\n\r\n" +
             Join({SRec('3', 0, Counting(0, 16)), SRec('7', 0, {})}, "\r\n"),
         3, kSRecords + srec_cat(dir.Path("b.hex"), "-motorola", dir.Path("b-intel.hex")),
         CountingImage(16)},
        {"my board.s19", "my board.hex", Join(srec), 1,
         kSRecords + srec_cat(quoted_board + "s19'", "-motorola", quoted_board + "hex'"),
         CountingImage()},
        {"a.bin", "a.hex", by_srec_cat("-binary", counting_bytes), 1,
         raw("0x00 at column 1") + srec_cat(a + "bin", "-binary", a + "hex"), CountingImage()},
        {"erased.bin", "erased.hex", std::string(256, '\xFF'), 1,
         raw("0xFF at column 1") +
             srec_cat(dir.Path("erased.bin"), "-binary", dir.Path("erased.hex")),
         erased},
        {"c.bin", "", "AB\nC\x01\x02", 2,
         raw("0x01 at column 2") + srec_cat(dir.Path("c.bin"), "-binary", dir.Path("c.hex")),
         std::nullopt},
        {"config.hex", "", std::string(4096, '\0'), 1,
         raw("0x00 at column 1") +
             srec_cat(dir.Path("config.hex"), "-binary", dir.Path("config-intel.hex")),
         std::nullopt},
        {"u.hex", "u-utf8.hex", utf16, 1,
         "a UTF-16 text file (byte-order mark FF FE), not plain text: convert it with "
         "iconv -f UTF-16 -t UTF-8 -o " +
             dir.Path("u-utf8.hex") + " " + dir.Path("u.hex"),
         CountingImage()},
    };
    for (const Case& c : cases) {
        const std::string path = dir.Write(c.name, c.content);
        const ConfigFileResult result = ReadConfigFile(path, image);
        EXPECT_EQ(result.status, ConfigFileStatus::kRefused) << c.name;
        EXPECT_EQ(result.refusal, path + ":" + std::to_string(c.line) + ": " + c.message);
        EXPECT_EQ(image, ConfigImage{}) << c.name;
        if (!c.image) {
            continue;
        }
        const std::string command = result.refusal.substr(result.refusal.find("with ") + 5);
        const gpaktest::CommandResult run = gpaktest::RunCommand({"/bin/sh", "-c", command});
        if (run.status == 127) {
            continue;  // no srec_cat here: the refusal is proved, the conversion not
        }
        ASSERT_EQ(run.status, 0) << command << "\n" << run.err;
        ConfigImage converted{};
        EXPECT_EQ(ReadConfigFile(dir.Path(c.converted), converted).status, ConfigFileStatus::kRead)
            << command;
        EXPECT_EQ(converted, *c.image) << command;
    }
}

// A pipe (process substitution, /dev/stdin) has no name to write beside,
// and a name that starts with '-' would be an option to srec_cat.
TEST_F(ConfigFileTest, TheConversionIsAFilterForAPipeAndNeverTakesTheNameForAnOption) {
    const std::string srec = SRec('1', 0, Counting(0, 16)) + "\n" + SRec('9', 0, {}) + "\n";
    const common::UniqueFd fd(open(dir.Write("a.s19", srec).c_str(), O_RDONLY | O_CLOEXEC));
    const std::string through_dev = "/dev/fd/" + std::to_string(fd.Get());
    EXPECT_EQ(ReadConfigFile(through_dev, image).refusal,
              through_dev +
                  ":1: an S-record (Motorola) file, not Intel HEX: convert it with "
                  "srec_cat - -motorola -o - -intel");
    dir.Write("-a.bin", "\x01");
    const pid_t child = InChild([&] {
        ConfigImage own{};
        _exit(chdir(dir.Path("").c_str()) == 0 &&
                      ReadConfigFile("-a.bin", own).refusal ==
                          "-a.bin:1: a raw binary file (byte 0x01 at column 1), not Intel HEX: "
                          "convert it with srec_cat ./-a.bin -binary -o ./-a.hex -intel"
                  ? 0
                  : 1);
    });
    EXPECT_EQ(Reap(child), 0);
}

TEST_F(ConfigFileTest, FilesLargerThan1MiBAreRefusedWithoutReadingThemToTheEnd) {
    const std::string refusal =
        ": larger than 1 MiB, far more than a hex file of a 256-byte memory";
    // Exactly 1 MiB is still read: data, then comment lines to fill it.
    std::string file = Join(Lines(16)) + kEnd + "\n";
    const std::string filler = "#" + std::string(1022, '-') + "\n";
    while (file.size() + filler.size() <= (1u << 20)) {
        file += filler;
    }
    file += std::string((1u << 20) - file.size() - 1, '-') + "\n";
    ASSERT_EQ(file.size(), 1u << 20);
    ExpectTaken(file, CountingImage());
    const ConfigFileResult big = Read(file + "\n");
    EXPECT_EQ(big.status, ConfigFileStatus::kRefused);
    EXPECT_EQ(big.refusal, dir.Path("config.hex") + refusal);
    // An endless pipe ends at once (an endless device is not read at all).
    int ends[2] = {-1, -1};
    ASSERT_EQ(pipe(ends), 0);
    const pid_t writer = InChild([&] {
        close(ends[0]);
        const std::string chunk(4096, '#');
        while (write(ends[1], chunk.data(), chunk.size()) > 0) {
        }
    });
    close(ends[1]);
    const std::string pipe_path = "/dev/fd/" + std::to_string(ends[0]);
    const ConfigFileResult endless = ReadConfigFile(pipe_path, image);
    close(ends[0]);
    EXPECT_EQ(endless.status, ConfigFileStatus::kRefused);
    EXPECT_EQ(endless.refusal, pipe_path + refusal);
    Reap(writer);
}

TEST_F(ConfigFileTest, APipeIsReadOnceItsWriterComes) {
    const std::string fifo = dir.Path("fifo.hex");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string text = Join(Lines(16));
    const pid_t writer = InChild([&] {
        const common::UniqueFd fd(open(fifo.c_str(), O_WRONLY | O_CLOEXEC));
        (void)!write(fd.Get(), text.data(), text.size());
    });
    const ConfigFileResult result = ReadConfigFile(fifo, image);
    EXPECT_EQ(result.status, ConfigFileStatus::kRead) << result.refusal;
    EXPECT_EQ(image, CountingImage());
    EXPECT_EQ(Reap(writer), 0);
}

// On a device a read(2) is the device's own operation: on an I2C node, a
// transfer on the bus. Such files were read before.
TEST_F(ConfigFileTest, DevicesAreNowRefusedBeforeAByteIsReadFromThem) {
    const std::string refusal =
        ": a character device, not a hex record file: nothing was read from it";
    for (const std::string device : {"/dev/null", "/dev/zero"}) {
        const ConfigFileResult result = ReadConfigFile(device, image);
        EXPECT_EQ(result.status, ConfigFileStatus::kRefused) << device;
        EXPECT_EQ(result.refusal, device + refusal);
    }
    // A terminal with a line waiting to be read: the line is still there.
    const common::UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.IsOpen() || grantpt(master.Get()) != 0 || unlockpt(master.Get()) != 0) {
        GTEST_SKIP() << "no pseudo-terminal: " << std::strerror(errno);
    }
    const std::string terminal = ptsname(master.Get());
    const common::UniqueFd other_end(open(terminal.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(other_end.IsOpen()) << terminal;
    const std::string line = Join(Lines(16, 16));
    ASSERT_EQ(write(master.Get(), line.data(), line.size()), ssize_t(line.size()));
    pollfd waiting{other_end.Get(), POLLIN, 0};
    ASSERT_EQ(poll(&waiting, 1, 10000), 1);

    const ConfigFileResult result = ReadConfigFile(terminal, image);
    EXPECT_EQ(result.status, ConfigFileStatus::kRefused);
    EXPECT_EQ(result.refusal, terminal + refusal);
    std::string left(100, '\0');
    left.resize(std::max<ssize_t>(read(other_end.Get(), left.data(), left.size()), 0));
    EXPECT_EQ(left, line);
}

TEST_F(ConfigFileTest, OpenAndReadFailuresKeepTheirCause) {
    const ConfigFileResult missing = ReadConfigFile(dir.Path("missing.hex"), image);
    EXPECT_EQ(missing.status, ConfigFileStatus::kOpenFailed);
    EXPECT_EQ(missing.error_number, ENOENT);
    const ConfigFileResult directory = ReadConfigFile(dir.Path(""), image);
    EXPECT_EQ(directory.status, ConfigFileStatus::kReadFailed);
    EXPECT_EQ(directory.error_number, EISDIR);
}

}  // namespace
