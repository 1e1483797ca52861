// Read-back, erase, write and reset as they reach the bus and the chip:
// which commands went to which address in which order, their outcome and
// pauses, the page lines printed, and the chip's memories afterwards.
#include "chip/chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ostream>
#include <tuple>

#include "sim_fixture.h"

namespace {

// A run of like transfers on the bus: how many, to which address, from
// when to when, and whether the chip acknowledged them.
struct Step {
    std::string kind;  // "read", "erase", "reset" or "write"
    unsigned addr = 0;
    int count = 1;
    double first_ms = 0;
    double last_ms = 0;
    bool ack = true;
    bool operator==(const Step& o) const {
        return std::tie(kind, addr, count, first_ms, last_ms, ack) ==
               std::tie(o.kind, o.addr, o.count, o.first_ms, o.last_ms, o.ack);
    }
};

void PrintTo(const Step& s, std::ostream* os) {
    char addr[8];
    std::snprintf(addr, sizeof addr, "0x%02X", s.addr);
    *os << s.count << " " << s.kind << " at " << addr << " " << s.first_ms << "-" << s.last_ms
        << " ms" << (s.ack ? "" : " NACK");
}

std::string KindOf(const gpaksim::TransferRecord& transfer) {
    const auto& first = transfer.messages.front();
    if (transfer.messages.size() > 1 || first.len == 1) {
        return "read";  // (a NACKed read is traced without its read message)
    }
    const std::uint8_t reg = first.bytes.empty() ? 0 : first.bytes[0];
    return first.len == 2 && reg == 0xE3   ? "erase"
           : first.len == 2 && reg == 0xC8 ? "reset"
                                           : "write";
}

// The bus so far as runs of like transfers.
std::vector<Step> Steps() {
    std::vector<Step> steps;
    for (const auto& transfer : gpaksim::Transfers()) {
        const double ms = static_cast<double>(transfer.time_ns) / 1e6;
        const Step step{KindOf(transfer), transfer.messages.front().addr, 1, ms, ms, transfer.ack};
        if (!steps.empty() && steps.back().kind == step.kind && steps.back().addr == step.addr &&
            steps.back().ack == step.ack) {
            ++steps.back().count;
            steps.back().last_ms = ms;
        } else {
            steps.push_back(step);
        }
    }
    return steps;
}

// The registers the transfers went to, in their order.
std::vector<unsigned> Registers() {
    std::vector<unsigned> registers;
    for (const auto& transfer : gpaksim::Transfers()) {
        registers.push_back(transfer.messages.front().bytes.at(0));
    }
    return registers;
}

std::string AddrLine(unsigned addr) {
    char line[16];
    std::snprintf(line, sizeof line, "Addr 0x%02X\n", addr & 0x7F);
    return line;
}

// "Page 0xNN : outcome" for the pages from first to last.
std::string PageLines(int first, int last, const char* outcome = "complete") {
    std::string lines;
    for (int page = first; page <= last; ++page) {
        char line[40];
        std::snprintf(line, sizeof line, "Page 0x%02X : %s\n", page, outcome);
        lines += line;
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

ConfigImage WithCode(ConfigImage image, std::uint8_t code) {
    image[0xCA] = static_cast<std::uint8_t>((image[0xCA] & 0xF0) | code);
    return image;
}

// The failed page and its cause go up to the caller, which words them.
void ExpectFailure(const PagesResult& result, unsigned addr, int page, i2c::TransferStatus status,
                   int error_number) {
    EXPECT_EQ(result.addr, addr);
    EXPECT_EQ(result.failed_page, page);
    EXPECT_EQ(result.transfer.status, status);
    EXPECT_EQ(result.transfer.error_number, error_number);
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
        EXPECT_EQ(Steps(), (std::vector<Step>{{"read", c.addr, 16, 0, 0}}));
        const auto registers = Registers();
        EXPECT_EQ(
            std::adjacent_find(registers.begin(), registers.end(), std::greater_equal<unsigned>()),
            registers.end())
            << "pages in order, each once";
        const auto& chip = gpaksim::Chip();
        EXPECT_EQ(image, c.type == kConfigNvm      ? chip.nvm
                         : c.type == kConfigEeprom ? chip.eeprom
                                                   : chip.registers);
    }
}

TEST_F(ReadBackTest, StopsAtTheFirstFailedPageAndReturnsWhereAndWhy) {
    options.knobs.nacks = {{0x0A, 0x50}};
    Restart();
    ConfigImage image{};
    testing::internal::CaptureStderr();
    ExpectFailure(ReadConfigData(1, kConfigNvm, image), 0x0A, 5, i2c::TransferStatus::kFailed,
                  EREMOTEIO);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Steps(),
              (std::vector<Step>{{"read", 0x0A, 5, 0, 0}, {"read", 0x0A, 1, 0, 0, false}}));
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
    EXPECT_EQ(Steps(), (std::vector<Step>{{"read", 0x08, 1, 0, 0, false}}));
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
// registers), write, read-back; and the chip's memories afterwards.
class ProgramTest : public gpaktest::SimTest, public testing::WithParamInterface<std::uint8_t> {
protected:
    void SetUp() override {
        SimTest::SetUp();
        code = GetParam();
        block = code << 3u;
        gpaksim::SetControlCode(gpaksim::Chip(), code);
        before = gpaksim::Chip();
    }

    void Program(ConfigType type, ConfigImage image) {
        testing::internal::CaptureStdout();
        if (type != kConfigReg) {
            EraseConfigData(code, type);
        }
        EXPECT_TRUE(WriteConfigData(code, type, image).Ok());
        written = image;
        out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(ReadConfigData(code, type, read).Ok());
    }

    std::uint8_t code = 0;
    unsigned block = 0;  // the chip's registers at this control code
    gpaksim::ChipState before;
    std::string out;
    ConfigImage written{};  // the image after the write, byte 0xCA as sent
    ConfigImage read{};
};

// 10 ms after each erase and page write, 1 s after each reset; the chip
// NACKs anything earlier, so with every transfer acknowledged these are
// also the shortest.
TEST_P(ProgramTest, NvmIsErasedAtTheCodeWrittenAt0x02AndResetAt0x00) {
    const ConfigImage file = Pattern(0x35);
    Program(kConfigNvm, file);
    EXPECT_EQ(Steps(), (std::vector<Step>{{"erase", block, 16, 0, 150},
                                          {"reset", block, 1, 160, 160},
                                          {"write", 0x02, 16, 1160, 1310},
                                          {"reset", 0x00, 1, 1320, 1320},
                                          {"read", block | 2, 16, 2320, 2320}}));
    EXPECT_EQ(out, PageLines(0, 15) + AddrLine(0x02) + PageLines(0, 15));
    EXPECT_EQ(written, WithCode(file, code));
    EXPECT_EQ(read, written);
    EXPECT_EQ(gpaksim::Chip().nvm, written);
    EXPECT_EQ(gpaksim::Chip().registers, written);  // loaded at the reset
    EXPECT_EQ(gpaksim::Chip().eeprom, before.eeprom);
}

TEST_P(ProgramTest, EepromStaysAtTheChipsOwnAddresses) {
    ConfigImage file = Pattern(0x11);
    file[0xCA] = 0xA5;
    Program(kConfigEeprom, file);
    EXPECT_EQ(Steps(), (std::vector<Step>{{"erase", block, 16, 0, 150},
                                          {"reset", block, 1, 160, 160},
                                          {"write", block | 3, 16, 1160, 1310},
                                          {"reset", block, 1, 1320, 1320},
                                          {"read", block | 3, 16, 2320, 2320}}));
    EXPECT_EQ(out, PageLines(0, 15) + AddrLine(block | 3) + PageLines(0, 15));
    EXPECT_EQ(written, file);  // byte 0xCA untouched for the EEPROM
    EXPECT_EQ(read, file);
    EXPECT_EQ(gpaksim::Chip().eeprom, file);
    EXPECT_EQ(gpaksim::Chip().nvm, before.nvm);
}

TEST_P(ProgramTest, RegistersAreWrittenWithoutEraseOrReset) {
    const ConfigImage file = Pattern(0x77);
    Program(kConfigReg, file);
    EXPECT_EQ(Steps(),
              (std::vector<Step>{{"write", block, 16, 0, 150}, {"read", block, 16, 160, 160}}));
    EXPECT_EQ(out, AddrLine(block) + PageLines(0, 15));
    EXPECT_EQ(written, WithCode(file, code));
    EXPECT_EQ(read, written);
    EXPECT_EQ(gpaksim::Chip().nvm, before.nvm);
    EXPECT_EQ(gpaksim::Chip().eeprom, before.eeprom);
}

INSTANTIATE_TEST_SUITE_P(ControlCodes, ProgramTest, testing::Values(0, 1, 7, 15));

class ProgressTest : public gpaktest::SimTest {};

TEST_F(ProgressTest, FailedPageStopsTheWriteButNotTheReset) {
    options.knobs.nacks = {{0x0B, 0x50}};
    Restart();
    ConfigImage image = Pattern(9);
    testing::internal::CaptureStdout();
    ExpectFailure(WriteConfigData(1, kConfigEeprom, image), 0x0B, 5, i2c::TransferStatus::kFailed,
                  EREMOTEIO);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Addr 0x0B\n" + PageLines(0, 4) + PageLines(5, 5, "error & stoped"));
    // No pause after the failed page: the reset follows at once.
    EXPECT_EQ(Steps(), (std::vector<Step>{{"write", 0x0B, 5, 0, 40},
                                          {"write", 0x0B, 1, 50, 50, false},
                                          {"reset", 0x08, 1, 50, 50}}));
}

TEST_F(ProgressTest, EraseCompletesEvenWhenNothingAnswers) {
    options.knobs.absent = true;
    Restart();
    testing::internal::CaptureStdout();
    // Every line says "complete"; the result still names the first NACK.
    ExpectFailure(EraseConfigData(1, kConfigEeprom), 0x08, 0, i2c::TransferStatus::kFailed,
                  EREMOTEIO);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), PageLines(0, 15));
    EXPECT_EQ(Steps(), (std::vector<Step>{{"erase", 0x08, 16, 0, 150, false},
                                          {"reset", 0x08, 1, 160, 160, false}}));
    EXPECT_EQ(gpaksim::ElapsedNs(), 1'160'000'000);
}

// A command that could not even be opened was not sent: its line no longer
// says "complete", and nothing follows it, neither the other commands nor
// the reset nor its pause.
TEST_F(ProgressTest, EraseStopsAtACommandThatCannotBeSent) {
    options.no_node = true;
    Restart();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ExpectFailure(EraseConfigData(1, kConfigNvm), 0x08, 0, i2c::TransferStatus::kOpenFailed,
                  ENOENT);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), PageLines(0, 0, "not sent"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Device open error: No such file or directory\n");
    EXPECT_TRUE(gpaksim::Transfers().empty());
    EXPECT_EQ(gpaksim::ElapsedNs(), 0);
}

TEST_F(ProgressTest, UnacknowledgedEraseAndResetCommandsTakeEffect) {
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
