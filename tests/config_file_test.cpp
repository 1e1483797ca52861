// The hex record reader: which lines count, where their bytes land, and the
// files that must not count as configurations.
#include "config_file/config_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "run_command.h"

namespace {

// A record of 16 data bytes base, base + 1, ... at load address addr.
std::string Record(unsigned addr, unsigned base, bool lower_case = false) {
    unsigned sum = 16 + (addr >> 8) + (addr & 0xFF);
    char text[64];
    std::snprintf(text, sizeof text, lower_case ? ":10%04x00" : ":10%04X00", addr);
    std::string line = text;
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned byte = (base + i) & 0xFF;
        sum += byte;
        std::snprintf(text, sizeof text, lower_case ? "%02x" : "%02X", byte);
        line += text;
    }
    std::snprintf(text, sizeof text, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}

std::string SixteenRecords(const std::string& eol) {
    std::string file;
    for (unsigned page = 0; page < 16; ++page) {
        file += Record(page * 16, page * 16) + eol;
    }
    return file + ":00000001FF" + eol;
}

ConfigImage Counting() {
    ConfigImage image{};
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    return image;
}

// The image expected from n records of Counting(), zeros after them.
ConfigImage FirstRecords(int n) {
    ConfigImage image = Counting();
    for (std::size_t i = static_cast<std::size_t>(n) * 16; i < image.size(); ++i) {
        image[i] = 0;
    }
    return image;
}

class ConfigFileTest : public testing::Test {
protected:
    // Reads content as a file; image starts as garbage to prove the clearing.
    int Read(const std::string& content) {
        image.fill(0xEE);
        return ReadConfigFile(dir.Write("config.hex", content).c_str(), image, records);
    }
    gpaktest::TempDir dir;
    ConfigImage image{};
    int records = -1;
};

TEST_F(ConfigFileTest, SixteenRecordsFillTheImageInFileOrderWithLfOrCrLf) {
    for (const char* eol : {"\n", "\r\n"}) {
        EXPECT_EQ(Read(SixteenRecords(eol)), 1);
        EXPECT_EQ(image, Counting());
        EXPECT_EQ(records, 16);
    }
}

TEST_F(ConfigFileTest, LoadAddressesTypesAndChecksumsAreNotUsed) {
    std::string file;
    for (unsigned page = 0; page < 16; ++page) {
        std::string record = Record((15 - page) * 16, page * 16);
        record[8] = '4';                // another record type
        record[41] = record[42] = 'Z';  // a wrong checksum
        file += record + "\n";
    }
    EXPECT_EQ(Read(file), 1);
    EXPECT_EQ(image, Counting());
}

TEST_F(ConfigFileTest, UpperAndLowerCaseDigitsGiveTheSameBytes) {
    std::string file;
    for (unsigned page = 0; page < 16; ++page) {
        file += Record(page * 16, page * 16, page % 2 == 1) + "\n";
    }
    EXPECT_EQ(Read(file), 1);
    EXPECT_EQ(image, Counting());
}

TEST_F(ConfigFileTest, ANonHexDigitCountsAsZero) {
    std::string record = Record(0, 0xA0);
    record[9] = '0';
    record[10] = 'G';  // byte 0 becomes 0x00
    record[11] = 'x';  // byte 1 (0xA1) becomes 0x01
    EXPECT_EQ(Read(record + "\n"), 1);
    EXPECT_EQ(image[0], 0x00);
    EXPECT_EQ(image[1], 0x01);
    EXPECT_EQ(image[2], 0xA2);
}

TEST_F(ConfigFileTest, AShortLineEndsTheReading) {
    const std::string two = Record(0, 0) + "\n" + Record(16, 16) + "\n";
    for (const std::string& stop :
         {std::string("\n"), std::string(":0800200001020304050607081C\n")}) {
        EXPECT_EQ(Read(two + stop + Record(32, 32) + "\n"), 1);
        EXPECT_EQ(image, FirstRecords(2));
        EXPECT_EQ(records, 2);
    }
}

TEST_F(ConfigFileTest, ALongLineWithoutColonIsSkipped) {
    const std::string comment = "# " + std::string(60, '-') + "\n";
    EXPECT_EQ(Read(comment + Record(0, 0) + "\n" + comment + Record(16, 16) + "\n"), 1);
    EXPECT_EQ(image, FirstRecords(2));
}

TEST_F(ConfigFileTest, ALineOver79CharactersIsStillOneLine) {
    // Trailing blanks after a record, and a very long comment: the rest of
    // such a line must not be judged as a short line of its own.
    const std::string blanks = Record(0, 0) + std::string(50, ' ') + "\n";
    const std::string comment = std::string(200, '#') + "\n";
    EXPECT_EQ(Read(blanks + comment + Record(16, 16) + "\n" + Record(32, 32) + "\n"), 1);
    EXPECT_EQ(image, FirstRecords(3));
    EXPECT_EQ(records, 3);
}

TEST_F(ConfigFileTest, TheLastRecordWithoutLineBreakCounts) {
    std::string file = SixteenRecords("\n");
    file.resize(file.rfind(":00000001FF") - 1);  // drop the end record and the last line break
    EXPECT_EQ(Read(file), 1);
    EXPECT_EQ(image, Counting());
    EXPECT_EQ(Read(Record(0, 0)), 1);
    EXPECT_EQ(records, 1);
    // Still one character short: a broken record, not a record.
    EXPECT_EQ(Read(Record(0, 0).substr(0, 42)), 1);
    EXPECT_EQ(records, 0);
}

TEST_F(ConfigFileTest, NothingIsStoredPastTheImage) {
    std::string file;
    for (unsigned page = 0; page < 17; ++page) {
        file += Record(page * 16, page == 16 ? 0xAA : page * 16) + "\n";
    }
    EXPECT_EQ(Read(file), 1);
    EXPECT_EQ(image, Counting());
    EXPECT_EQ(records, 16);
}

TEST_F(ConfigFileTest, FewerRecordsLeaveZeros) {
    EXPECT_EQ(Read(Record(0, 0) + "\n:00000001FF\n"), 1);
    EXPECT_EQ(image, FirstRecords(1));
    EXPECT_EQ(records, 1);
}

TEST_F(ConfigFileTest, FilesWithoutRecords) {
    for (const std::string& content :
         {std::string(""), std::string("\n"), std::string("<?xml version=\"1.0\"?>\n"),
          std::string(":00000001FF\n")}) {
        EXPECT_EQ(Read(content), 1);
        EXPECT_EQ(records, 0);
        EXPECT_EQ(image, ConfigImage{});
    }
}

TEST_F(ConfigFileTest, ANulByteEndsTheLineForTheLengthTest) {
    std::string record = Record(0, 0);
    record[20] = '\0';
    EXPECT_EQ(Read(record + "\n" + Record(16, 16) + "\n"), 1);
    EXPECT_EQ(records, 0);
}

TEST_F(ConfigFileTest, OpenAndReadFailuresKeepTheirCause) {
    errno = 0;
    EXPECT_EQ(ReadConfigFile(dir.Path("missing.hex").c_str(), image, records), 0);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(ReadConfigFile(dir.Path("").c_str(), image, records), -1);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(records, 0);
}

}  // namespace
