// Read-back, erase, write and reset as they reach the bus: addresses,
// registers, bytes, order and pauses, against the simulated chip.
#include "chip/chip.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "sim_fixture.h"

namespace {

using gpaktest::BusLines;
using gpaktest::BusTimesMs;
using gpaktest::PageWriteLine;
using Strings = std::vector<std::string>;

std::string Line(const char* format, unsigned a, unsigned b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// Time of the last transfer in ms, or -1 when there was none.
double LastTimeMs() {
    const auto times = BusTimesMs();
    return times.empty() ? -1 : times.back();
}

Strings ReadBackLines(unsigned addr) {
    Strings lines;
    for (unsigned page = 0; page < 16; ++page) {
        lines.push_back(Line("0x%02X W %02x; ", addr, page << 4) + Line("0x%02X R 16 ACK", addr));
    }
    return lines;
}

ConfigImage Pattern(std::uint8_t seed) {
    ConfigImage image{};
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return image;
}

class ReadBackTest : public gpaktest::SimTest {};

TEST_F(ReadBackTest, ReadsSixteenPagesInOrderFromTheMemorysAddress) {
    struct Case {
        std::uint8_t code;
        ConfigType type;
        unsigned addr;
    };
    for (const Case& c : {Case{1, kConfigNvm, 0x0A}, Case{15, kConfigEeprom, 0x7B},
                          Case{0, kConfigReg, 0x00}, Case{7, kConfigNvm, 0x3A}}) {
        SCOPED_TRACE(c.addr);
        Restart();
        gpaksim::SetControlCode(gpaksim::Chip(), c.code);
        gpaksim::Chip().eeprom = Pattern(3);
        ConfigImage image{};
        EXPECT_TRUE(ReadConfigData(c.code, c.type, image).Ok());
        EXPECT_EQ(BusLines(), ReadBackLines(c.addr));
        const auto& chip = gpaksim::Chip();
        EXPECT_EQ(image, c.type == kConfigNvm      ? chip.nvm
                         : c.type == kConfigEeprom ? chip.eeprom
                                                   : chip.registers);
    }
}

// The failed page and its cause go up to the caller, which words them.
void ExpectFailure(const PagesResult& result, unsigned addr, int page, i2c::TransferStatus status,
                   int error_number) {
    EXPECT_EQ(result.addr, addr);
    EXPECT_EQ(result.failed_page, page);
    EXPECT_EQ(result.transfer.status, status);
    EXPECT_EQ(result.transfer.error_number, error_number);
}

TEST_F(ReadBackTest, StopsAtTheFirstFailedPageAndReturnsWhereAndWhy) {
    options.knobs.nacks = {{0x0A, 0x50}};
    Restart();
    ConfigImage image{};
    testing::internal::CaptureStderr();
    ExpectFailure(ReadConfigData(1, kConfigNvm, image), 0x0A, 5, i2c::TransferStatus::kFailed,
                  EREMOTEIO);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    Strings expected = ReadBackLines(0x0A);
    expected.resize(6);
    expected[5] = "0x0A W 50 NACK";
    EXPECT_EQ(BusLines(), expected);
    for (std::size_t i = 0; i < image.size(); ++i) {
        EXPECT_EQ(image[i], i < 0x50 ? gpaksim::Chip().nvm[i] : 0) << i;
    }
}

TEST_F(ReadBackTest, NoChipReadsNothing) {
    options.knobs.absent = true;
    options.nack_error = gpaksim::NackError::kNoDevice;
    Restart();
    ConfigImage image{};
    testing::internal::CaptureStderr();
    ExpectFailure(ReadConfigData(1, kConfigReg, image), 0x08, 0, i2c::TransferStatus::kFailed,
                  ENXIO);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(BusLines(), Strings{"0x08 W 00 NACK"});
    EXPECT_EQ(image, ConfigImage{});
}

TEST_F(ReadBackTest, MissingNodeGivesTheOpenError) {
    options.no_node = true;
    Restart();
    ConfigImage image{};
    testing::internal::CaptureStderr();
    ExpectFailure(ReadConfigData(1, kConfigNvm, image), 0x0A, 0, i2c::TransferStatus::kOpenFailed,
                  ENOENT);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Device open error: No such file or directory\n");
    EXPECT_EQ(image, ConfigImage{});
}

// A whole programming run as the write run makes it: erase (not for the
// registers), write, read-back.
struct ProgramResult {
    bool written = false;
    std::string out;
    ConfigImage read{};
};

ProgramResult Program(std::uint8_t code, ConfigType type, ConfigImage image) {
    ProgramResult result;
    testing::internal::CaptureStdout();
    if (type != kConfigReg) {
        EraseConfigData(code, type);
    }
    result.written = WriteConfigData(code, type, image).Ok();
    result.out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ReadConfigData(code, type, result.read).Ok());
    return result;
}

Strings EraseLines(unsigned target, unsigned base) {
    Strings lines;
    for (unsigned page = 0; page < 16; ++page) {
        lines.push_back(Line("0x%02X W e3 %02x ACK", target, base | page));
    }
    lines.push_back(Line("0x%02X W c8 02 ACK", target));
    return lines;
}

ConfigImage WithCode(ConfigImage image, std::uint8_t code) {
    image[0xCA] = static_cast<std::uint8_t>((image[0xCA] & 0xF0) | code);
    return image;
}

class ProgramTest : public gpaktest::SimTest, public testing::WithParamInterface<std::uint8_t> {};

TEST_P(ProgramTest, NvmIsErasedAtTheCodeWrittenAt0x02AndResetAt0x00) {
    const std::uint8_t code = GetParam();
    gpaksim::SetControlCode(gpaksim::Chip(), code);
    const ConfigImage file = Pattern(0x35);
    const ProgramResult result = Program(code, kConfigNvm, file);
    const ConfigImage sent = WithCode(file, code);

    const unsigned reg_block = code << 3;
    Strings expected = EraseLines(reg_block, 0x80);
    for (int page = 0; page < 16; ++page) {
        expected.push_back(PageWriteLine(0x02, sent, page));
    }
    expected.push_back("0x00 W c8 02 ACK");
    const Strings read_back = ReadBackLines(reg_block | 2);
    expected.insert(expected.end(), read_back.begin(), read_back.end());
    EXPECT_EQ(BusLines(), expected);
    EXPECT_TRUE(result.written);
    EXPECT_EQ(result.read, sent);
    EXPECT_EQ(gpaksim::Chip().nvm, sent);

    // 10 ms after each erase and page write, 1 s after each reset; the
    // chip refuses anything earlier, so these are also the shortest.
    const auto times = BusTimesMs();
    ASSERT_EQ(times.size(), expected.size());
    for (int i = 0; i < 16; ++i) {
        EXPECT_DOUBLE_EQ(times[static_cast<std::size_t>(i)], 10.0 * i);
        EXPECT_DOUBLE_EQ(times[static_cast<std::size_t>(17 + i)], 1160.0 + 10.0 * i);
    }
    EXPECT_DOUBLE_EQ(times[16], 160.0);
    EXPECT_DOUBLE_EQ(times[33], 1320.0);
    EXPECT_DOUBLE_EQ(times[34], 2320.0);
}

TEST_P(ProgramTest, EepromStaysAtTheChipsOwnAddresses) {
    const std::uint8_t code = GetParam();
    gpaksim::SetControlCode(gpaksim::Chip(), code);
    ConfigImage file = Pattern(0x11);
    file[0xCA] = 0xA5;
    const ProgramResult result = Program(code, kConfigEeprom, file);

    const unsigned reg_block = code << 3;
    Strings expected = EraseLines(reg_block, 0x90);
    for (int page = 0; page < 16; ++page) {
        expected.push_back(PageWriteLine(reg_block | 3, file, page));
    }
    expected.push_back(Line("0x%02X W c8 02 ACK", reg_block));
    const Strings read_back = ReadBackLines(reg_block | 3);
    expected.insert(expected.end(), read_back.begin(), read_back.end());
    EXPECT_EQ(BusLines(), expected);
    EXPECT_TRUE(result.written);
    EXPECT_EQ(result.read, file);  // byte 0xCA untouched for the EEPROM
    EXPECT_DOUBLE_EQ(LastTimeMs(), 2320.0);
}

TEST_P(ProgramTest, RegistersAreWrittenWithoutEraseOrReset) {
    const std::uint8_t code = GetParam();
    gpaksim::SetControlCode(gpaksim::Chip(), code);
    const ConfigImage file = Pattern(0x77);
    const ProgramResult result = Program(code, kConfigReg, file);
    const ConfigImage sent = WithCode(file, code);

    Strings expected;
    for (int page = 0; page < 16; ++page) {
        expected.push_back(PageWriteLine(code << 3, sent, page));
    }
    const Strings read_back = ReadBackLines(code << 3);
    expected.insert(expected.end(), read_back.begin(), read_back.end());
    EXPECT_EQ(BusLines(), expected);
    EXPECT_EQ(result.read, sent);
    EXPECT_DOUBLE_EQ(LastTimeMs(), 160.0);
}

INSTANTIATE_TEST_SUITE_P(ControlCodes, ProgramTest, testing::Values(0, 1, 7, 15));

class ProgressTest : public gpaktest::SimTest {};

TEST_F(ProgressTest, LinesOfEraseAndWrite) {
    testing::internal::CaptureStdout();
    EraseConfigData(1, kConfigNvm);
    ConfigImage image = Pattern(1);
    EXPECT_TRUE(WriteConfigData(1, kConfigNvm, image).Ok());
    std::string expected;
    for (int page = 0; page < 16; ++page) {
        expected += Line("Page 0x%02X : complete\n", page);
    }
    expected += "Addr 0x02\n" + expected;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

TEST_F(ProgressTest, ControlCodeByteTakesTheCodeForRegistersAndNvmOnly) {
    for (const ConfigType type : {kConfigReg, kConfigNvm, kConfigEeprom}) {
        Restart();
        ConfigImage image{};
        image[0xCA] = 0xA5;
        testing::internal::CaptureStdout();
        WriteConfigData(3, type, image);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(image[0xCA], type == kConfigEeprom ? 0xA5 : 0xA3) << out;
        const unsigned addr = type == kConfigNvm ? 0x02 : (3u << 3 | type);
        EXPECT_EQ(out.substr(0, 10), Line("Addr 0x%02X\n", addr));
    }
}

TEST_F(ProgressTest, FailedPageStopsTheWriteButNotTheReset) {
    options.knobs.nacks = {{0x0B, 0x50}};
    Restart();
    ConfigImage image = Pattern(9);
    testing::internal::CaptureStdout();
    ExpectFailure(WriteConfigData(1, kConfigEeprom, image), 0x0B, 5, i2c::TransferStatus::kFailed,
                  EREMOTEIO);
    std::string expected = "Addr 0x0B\n";
    for (int page = 0; page < 5; ++page) {
        expected += Line("Page 0x%02X : complete\n", page);
    }
    expected += "Page 0x05 : error & stoped\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    const Strings lines = BusLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5].substr(0, 10), "0x0B W 50 ");
    EXPECT_EQ(lines[6], "0x08 W c8 02 ACK");
    // No pause after the failed page: the reset follows at once.
    EXPECT_DOUBLE_EQ(BusTimesMs()[6], 50.0);
}

TEST_F(ProgressTest, EraseCompletesEvenWhenNothingAnswers) {
    options.knobs.absent = true;
    Restart();
    testing::internal::CaptureStdout();
    // Every line says "complete"; the result still names the first NACK.
    ExpectFailure(EraseConfigData(1, kConfigEeprom), 0x08, 0, i2c::TransferStatus::kFailed,
                  EREMOTEIO);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("error"), std::string::npos);
    EXPECT_EQ(BusLines().size(), 17u);
    EXPECT_DOUBLE_EQ(LastTimeMs(), 160.0);
    EXPECT_EQ(gpaksim::ElapsedNs(), 1'160'000'000);
}

// A command that could not even be opened was not sent: its line no longer
// says "complete", and nothing follows it, neither the other commands nor
// the reset nor its pause.
TEST_F(ProgressTest, EraseNowStopsAtACommandThatCannotBeSent) {
    options.no_node = true;
    Restart();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ExpectFailure(EraseConfigData(1, kConfigNvm), 0x08, 0, i2c::TransferStatus::kOpenFailed,
                  ENOENT);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Page 0x00 : not sent\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Device open error: No such file or directory\n");
    EXPECT_TRUE(BusLines().empty());
    EXPECT_EQ(gpaksim::ElapsedNs(), 0);
}

TEST_F(ProgressTest, UnacknowledgedCommandsStillEraseAndReset) {
    options.knobs.unacked_commands = true;
    Restart();
    ConfigImage image = Pattern(4);
    testing::internal::CaptureStdout();
    EraseConfigData(1, kConfigNvm);
    EXPECT_TRUE(WriteConfigData(1, kConfigNvm, image).Ok());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(gpaksim::Chip().nvm, image);
    EXPECT_EQ(gpaksim::Chip().registers, image);
}

}  // namespace
