// The command line, the run's sections and its exit status, with the tool's
// code running in-process against the simulated chip.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <sstream>

#include "cli/gpakcfg.h"
#include "cli/options.h"
#include "config_file/config_file.h"
#include "config_file/save.h"
#include "run_command.h"
#include "run_output.h"
#include "sim_fixture.h"

namespace {

using gpaktest::BusLines;
using Strings = std::vector<std::string>;

constexpr char kBanner[] = "GreenPAK configuration utility\ngpakcfg " GPAKCFG_VERSION "\n\n";
const std::string kReadError5 =
    "gpakcfg: /dev/i2c-1: page 0x05 read from 0x0A failed: the chip did not acknowledge (Remote "
    "I/O error); the table shows zeros from row 0x05\n";

using RunResult = gpaktest::InProcessRun;

class CliTest : public gpaktest::SimTest {
protected:
    // The first device address the run read from, or "" if none.
    static std::string FirstReadAddress() {
        const Strings lines = BusLines();
        return lines.empty() ? "" : lines.front().substr(0, 4);
    }

    gpaktest::TempDir dir;
};

// A read-back section alone after the banner: heading, rule, one table and
// the empty line after it.
testing::AssertionResult OnlyTheReadBack(const RunResult& run, const ConfigImage& image) {
    const std::string head =
        std::string(kBanner) +
        "Chip configration data.\n---------------------------------------\nPage |";
    if (run.out.rfind(head, 0) != 0 || run.out.size() < 2 ||
        run.out.compare(run.out.size() - 2, 2, "\n\n") != 0) {
        return testing::AssertionFailure() << run.out;
    }
    return run.tables == std::vector<gpaktest::Image>{image}
               ? testing::AssertionSuccess()
               : testing::AssertionFailure() << run.out;
}

// The usage is the synopsis, under the name the program was started by,
// and the table's lines; the first three have stood since the first release.
TEST_F(CliTest, HelpAnywhereOrNoArgumentGivesTheUsageAndNothingElse) {
    const std::string synopsis = " [-t TYPE] [-w FILE] [-c CODE] \n";
    std::string lines;
    for (const cli::Option& option : cli::OptionTable()) {
        lines += option.usage != nullptr ? std::string(" ") + option.usage + "\n" : "";
    }
    EXPECT_EQ(lines.find(" -t is config type, TYPE is {reg|nvm|eeprom}.\n"
                         " -w is write operation, FILE is configration file path..\n"
                         " -c control code, CODE is {0..f}. Default is 1.\n"),
              0u);
    const std::string usage = kBanner + ("Usage: gpakcfg" + synopsis) + lines;
    for (const Strings& args :
         {Strings{}, Strings{"-h"}, Strings{"-h", "-t", "nvm"}, Strings{"-t", "reg", "-h"},
          Strings{"-t", "nvm", "-w", "missing.hex", "--help", "-z"}}) {
        const RunResult run = Gpakcfg(args);
        EXPECT_EQ(run.out, usage) << testing::PrintToString(args);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_EQ(Gpakcfg({"--help"}, "/opt/bin/gpakcfg").out,
              kBanner + ("Usage: /opt/bin/gpakcfg" + synopsis) + lines);
    const RunResult version = Gpakcfg({"--version", "-t", "nvm"});
    EXPECT_EQ(version.out, kBanner);
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(gpaksim::Transfers().empty());
}

// The fixed text, then a line of ours that says what -t wants.
TEST_F(CliTest, TypeMustBeGivenAndNowSaysHowAfterTheFixedText) {
    const std::string hex = dir.Write("c.hex", ":10000000000102030405060708090A0B0C0D0E0F78\n");
    const std::string missing = "no -t: give the memory with -t reg, -t nvm or -t eeprom";
    const std::pair<Strings, std::string> cases[] = {
        {{"-t", "x"}, "-t x: TYPE is reg, nvm or eeprom"},
        {{"-c", "2"}, missing},
        {{"-t", ""}, "-t '': TYPE is reg, nvm or eeprom"},
        {{"-w", hex}, missing},
    };
    for (const auto& [args, hint] : cases) {
        const RunResult run = Gpakcfg(args);
        EXPECT_EQ(run.out, kBanner);
        EXPECT_EQ(run.err, "Type is not specified.\ngpakcfg: " + hint + "\n");
        EXPECT_EQ(run.status, 255);
    }
    EXPECT_TRUE(gpaksim::Transfers().empty());
}

TEST_F(CliTest, TypeTakesItsFirstLetterAndCodeOneHexDigit) {
    struct Case {
        Strings args;
        unsigned addr;
    };
    const Case cases[] = {
        {{"-t", "reg"}, 0x08},
        {{"-t", "Nvm"}, 0x0A},
        {{"-t", "EEPROMS"}, 0x0B},
        {{"-tnvm"}, 0x0A},
        {{"-t", "nvm", "-c", "F"}, 0x7A},
        {{"-t", "nvm", "-c", "f"}, 0x7A},
        {{"-t", "nvm", "-c", "0xC"}, 0x62},
        {{"-t", "nvm", "-c", "0x3"}, 0x1A},           // 0x before the digit
        {{"-t", "nvm", "-c", "3", "-c", "5"}, 0x2A},  // the last counts
        {{"-t", "reg", "-t", "eeprom"}, 0x0B},
        {{"-c", "2", "-t", "eeprom", "-f", "ignored"}, 0x13},
        {{"-t", "nvm", "--bus", "1"}, 0x0A},
        {{"--bus=/dev/i2c-1", "-t", "nvm", "--no-verify"}, 0x0A},
    };
    for (const Case& c : cases) {
        Restart();
        gpaksim::SetControlCode(gpaksim::Chip(), static_cast<std::uint8_t>(c.addr >> 3));
        const RunResult run = Gpakcfg(c.args);
        char addr[8];
        std::snprintf(addr, sizeof addr, "0x%02X", c.addr);
        EXPECT_EQ(FirstReadAddress(), addr) << testing::PrintToString(c.args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
    }
}

// A mistyped or contradictory command line is refused with the argument
// named, before any file is opened or anything is sent.
TEST_F(CliTest, CommandLinesRefusedNameTheArgumentBeforeAnythingIsOpened) {
    const std::string hex = dir.Write("c.hex", ":10000000000102030405060708090A0B0C0D0E0F78\n");
    const std::string missing = dir.Path("missing.hex");
    const std::string scan_alone = "it reads every control code and memory, and writes nothing";
    struct Case {
        Strings args;
        std::string err;
    };
    const Case cases[] = {
        {{"-t", "nvm", "board.hex"}, "board.hex: not an option (a file to program goes after -w)"},
        {{"board.hex", "-t", "nvm"}, "board.hex: not an option (a file to program goes after -w)"},
        {{"-t", "nvm", "-w"}, "-w: FILE is missing"},
        {{"-w", "-t", "nvm"}, "-w: FILE is missing"},
        {{"-t", "nvm", "--save"}, "--save: FILE is missing"},
        {{"-t", "nvm", "-c", "12"}, "-c 12: CODE is one hex digit, 0 to f"},
        {{"-t", "nvm", "-c", "g"}, "-c g: CODE is one hex digit, 0 to f"},
        {{"-t", "nvm", "-c", "0x"}, "-c 0x: CODE is one hex digit, 0 to f"},
        {{"-t", "x", "-t", "nvm", "-w", missing}, "-t x: TYPE is reg, nvm or eeprom"},
        {{"-t", "nvm", "-t", "x"}, "-t x: TYPE is reg, nvm or eeprom"},
        {{"-t", "nvm", "-z"}, "-z: unknown option (gpakcfg -h lists them)"},
        {{"-t", "nvm", "--sav", "x"}, "--sav: unknown option; did you mean --save?"},
        {{"-t", "nvm", "-no-verify"}, "-no-verify: unknown option; did you mean --no-verify?"},
        {{"-t", "nvm", "--ver"}, "--ver: unknown option (gpakcfg -h lists them)"},
        {{"-t", "nvm", "--t", "reg"}, "--t: unknown option (gpakcfg -h lists them)"},
        {{"-t", "nvm", "--bus", "i2c-1"}, "--bus i2c-1: a bus number (/dev/i2c-N) or a path"},
        {{"-t", "nvm", "--no-verify=yes"}, "--no-verify: takes no value"},
        {{"-t", "nvm", "--", "-w", missing}, "-w: not an option (a file to program goes after -w)"},
        {{"-t", "reg", "--verify", missing},
         "--verify: the registers hold live bits, so they are never compared"},
        {{"-t", "nvm", "-w", missing, "--verify", hex},
         "--verify: not with -w, whose run compares by itself"},
        {{"-t", "reg", "-w", hex, "--new-code", "2"},
         "--new-code: only with -t nvm: the chip takes its code from byte 0xCA of its NVM"},
        {{"-t", "eeprom", "-w", hex, "--new-code", "2"},
         "--new-code: only with -t nvm: the chip takes its code from byte 0xCA of its NVM"},
        {{"-t", "nvm", "--verify", hex, "--new-code", "2"},
         "--new-code: not with --verify, which writes nothing"},
        {{"-t", "nvm", "--new-code", "2"},
         "--new-code: only with -w FILE, which programs the NVM with the new code"},
        {{"-t", "nvm", "-w", hex, "--new-code", "10"},
         "--new-code 10: N is one hex digit, 0 to f, as for -c"},
        {{"--scan", "-t", "nvm"}, "--scan: not with -t: " + scan_alone},
        {{"-c", "2", "--scan"}, "--scan: not with -c: " + scan_alone},
        {{"--scan", "-w", hex}, "--scan: not with -w: " + scan_alone},
        {{"--scan", "--save", missing}, "--scan: not with --save: " + scan_alone},
        {{"--scan", "--no-verify"}, "--scan: not with --no-verify: " + scan_alone},
        {{"-t", "eeprom", "-w", hex, "--set", "0x10"},
         "--set 0x10: not ADDR=HEX, such as 0xF0=0001E240"},
        {{"-t", "eeprom", "-w", hex, "--set", "0x100=00"},
         "--set 0x100=00: ADDR is a byte address, 0x00 to 0xFF"},
        {{"-t", "eeprom", "-w", hex, "--set", "=00"},
         "--set =00: ADDR is a byte address, 0x00 to 0xFF"},
        // ADDR carries 0x: 16 could be 0x16 or decimal 16.
        {{"-t", "eeprom", "-w", hex, "--set", "16=AB"},
         "--set 16=AB: ADDR 16 is ambiguous: write 0x16, or 0x10 for decimal 16"},
        {{"-t", "eeprom", "-w", hex, "--set", "200=AB"},
         "--set 200=AB: ADDR is written in hex with 0x: 0xC8 for decimal 200"},
        {{"-t", "eeprom", "-w", hex, "--set", "F0=AB"},
         "--set F0=AB: ADDR is written with 0x: 0xF0"},
        {{"-t", "eeprom", "-w", hex, "--set", "0x10=123"},
         "--set 0x10=123: HEX is an even number of hex digits, 1 to 256 bytes"},
        {{"-t", "eeprom", "-w", hex, "--set", "0x10=0x"},
         "--set 0x10=0x: HEX is an even number of hex digits, 1 to 256 bytes"},
        {{"-t", "eeprom", "-w", hex, "--set=0x10=12 34"},
         "--set 0x10=12 34: HEX is an even number of hex digits, 1 to 256 bytes"},
        {{"-t", "eeprom", "-w", hex, "--set", "0x0=" + std::string(514, '0')},
         "--set 0x0=" + std::string(514, '0') +
             ": HEX is an even number of hex digits, 1 to 256 "
             "bytes"},
        {{"-t", "eeprom", "-w", hex, "--set", "0xFE=0x010203"},
         "--set 0xFE=0x010203: 3 bytes from 0xFE run past 0xFF"},
        {{"-t", "eeprom", "-w", hex, "--set", "0x1=" + std::string(512, 'a')},
         "--set 0x1=" + std::string(512, 'a') + ": 256 bytes from 0x01 run past 0xFF"},
        {{"-t", "eeprom", "--set", "0x10=00"},
         "--set: only with -w or --verify, whose file it changes"},
        {{"-t", "eeprom", "-w", hex, "--set", "0x10=0000", "--set", "0x11=00"},
         "--set 0x11=00: overlaps --set 0x10=0000"},
        {{"-t", "eeprom", "-w", hex, "--set", "0x10=00", "--set", "0x0F=0000"},
         "--set 0x0F=0000: overlaps --set 0x10=00"},
        {{"-t", "nvm", "-w", hex, "--set", "0xC0=" + std::string(22, '0')},
         "--set 0xC0=" + std::string(22, '0') +
             ": touches byte 0xCA, whose low nibble is the "
             "control code of the chip on nvm: give the code with -c"},
        {{"-t", "reg", "-w", hex, "--set", "0xca=01"},
         "--set 0xca=01: touches byte 0xCA, whose low nibble is the control code of the chip on "
         "reg: give the code with -c"},
        {{"-t", "nvm", "--skip-identical"}, "--skip-identical: only with -w"},
        {{"-t", "nvm", "--verify", hex, "--skip-identical"}, "--skip-identical: only with -w"},
        {{"-t", "reg", "-w", hex, "--skip-identical"},
         "--skip-identical: the registers hold live bits, so they are always written"},
        {{"-t", "nvm", "-w", hex, "--log", hex},
         "--log " + hex + ": the same file as -w " + hex +
             ": the line would be appended to it; log to another file"},
        {{"-t", "nvm", "--save", hex, "--log", hex},
         "--log " + hex + ": the same file as --save " + hex +
             ": the line would be appended to it; log to another file"},
        {{"-t", "nvm", "--log", "/dev/i2c-1"}, "--log /dev/i2c-1: the bus, not a log file"},
        {{"-t", "nvm", "-q=1"}, "-q: takes no value"},
    };
    for (const Case& c : cases) {
        const RunResult run = Gpakcfg(c.args);
        EXPECT_EQ(run.err, "gpakcfg: " + c.err + "\n") << testing::PrintToString(c.args);
        EXPECT_EQ(run.out, kBanner);
        EXPECT_EQ(run.status, 255);
    }
    EXPECT_TRUE(gpaksim::Transfers().empty());
    EXPECT_EQ(gpaksim::OpenCount(), 0);
}

TEST_F(CliTest, ReadBackPrintsTheMemoryAsATable) {
    gpaksim::Chip().eeprom[0x1F] = 0xAB;
    const RunResult run = Gpakcfg({"-t", "eeprom"});
    EXPECT_TRUE(OnlyTheReadBack(run, gpaksim::Chip().eeprom));
    EXPECT_NE(run.out.find("0x01 | 000000000000000000000000000000ab\n"), std::string::npos);
    EXPECT_EQ(run.status, 0);
}

// The line on standard error names the node and gives the cause.
TEST_F(CliTest, FailedReadBackStillPrintsTheTableButFailsSayingWhy) {
    options.knobs.nacks = {{0x0A, 0x50}};
    Restart();
    const RunResult run = Gpakcfg({"-t", "nvm"});
    ConfigImage expected = gpaksim::Chip().nvm;
    std::fill(expected.begin() + 0x50, expected.end(), 0);
    EXPECT_TRUE(OnlyTheReadBack(run, expected));
    EXPECT_EQ(run.err, kReadError5);
    EXPECT_EQ(run.status, 1);
}

TEST_F(CliTest, FilesThatAreNoConfigurationTouchNothingAndNowNameTheirLineOrName) {
    struct Case {
        std::string path;
        std::string err;
    };
    const Case cases[] = {
        // The fixed lines, then one of ours that names the file.
        {dir.Path("missing.hex"),
         "Config file open error: No such file or directory\ngpakcfg: " + dir.Path("missing.hex") +
             ": the file of -w could not be opened; nothing was sent to the chip\n"},
        {dir.Path(""), "Config file read error: Is a directory\ngpakcfg: " + dir.Path("") +
                           ": the file of -w could not be read; nothing was sent to the chip\n"},
        // The reader names the file and the line.
        {dir.Write("empty.hex", ""), "gpakcfg: " + dir.Path("empty.hex") + ":1: no data records\n"},
        {dir.Write("project.xml", "<?xml version=\"1.0\"?>\n<project/>\n"),
         "gpakcfg: " + dir.Path("project.xml") + ":2: no data records\n"},
        {dir.Write("bad.hex", ":10000000000102030405060708090A0B0C0D0E0F79\n"),
         "gpakcfg: " + dir.Path("bad.hex") + ":1: checksum is 0x78, the record says 0x79\n"},
    };
    for (const Case& c : cases) {
        for (const char* type : {"nvm", "eeprom", "reg"}) {
            const RunResult run = Gpakcfg({"-t", type, "-w", c.path});
            EXPECT_EQ(run.out, kBanner);
            EXPECT_EQ(run.err, c.err);
            EXPECT_EQ(run.status, 255);
        }
    }
    EXPECT_TRUE(gpaksim::Transfers().empty());
}

TEST_F(CliTest, RegisterWriteRunHasNoEraseSection) {
    std::string file;
    ConfigImage image{};
    for (int page = 0; page < 16; ++page) {
        char head[16];
        std::snprintf(head, sizeof head, ":10%04X00", page * 16);
        const int sum = 0x10 + page * 16 + (page % 10) * 0x11 * 16;
        char checksum[8];
        std::snprintf(checksum, sizeof checksum, "%02X", (0x100 - sum % 0x100) % 0x100);
        file += head + std::string(32, static_cast<char>('0' + page % 10)) + checksum + "\n";
        std::fill(image.begin() + page * 16, image.begin() + page * 16 + 16,
                  static_cast<std::uint8_t>((page % 10) * 0x11));
    }
    const RunResult run = Gpakcfg({"-t", "reg", "-w", dir.Write("r.hex", file)});
    std::string sections =
        "Byte 0xCA of the file asks for control code 2; it is written with "
        "control code 1, that of -c. To keep the file's code, program the NVM "
        "with --new-code 2.\n"
        "\nWrite configration data.\n"
        "---------------------------------------\nAddr 0x08\n";
    for (int page = 0; page < 16; ++page) {
        char line[32];
        std::snprintf(line, sizeof line, "Page 0x%02X : complete\n", page);
        sections += line;
    }
    sections += "\nChip configration data.\n";
    EXPECT_EQ(run.out.find("Configration file.\n---------------------------------------\nPage |"),
              std::strlen(kBanner));
    EXPECT_TRUE(gpaktest::Contains(run.out, sections));
    ConfigImage written = image;
    written[0xCA] = static_cast<std::uint8_t>((image[0xCA] & 0xF0) | 1);
    EXPECT_EQ(run.tables, (std::vector<gpaktest::Image>{image, written}));
    EXPECT_EQ(run.status, 0);
}

// Standard error says which page failed where, and why: a NACK in words,
// whichever errno the adapter gives it. The chip is still reset after the
// failed page, and the read-back says where it stopped: half-programmed,
// the NVM's byte 0xCA is still erased, so the chip came back at control
// code 0 and the read-back at code 1 finds nothing; for the NVM, the run
// now says at once that the chip is erased at code 0 and how to program it.
TEST_F(CliTest, FailedPageWriteSaysWhereWhyAndNowThatTheChipIsErasedAtCode0) {
    struct Case {
        std::string type;
        gpaksim::Nack nack;
        std::size_t probes;  // the one-byte reads before the erase
        std::string reset;   // after the erase, its reset and six pages
        std::string err;     // NACK: the cause in words
    };
    const std::string bus = "gpakcfg: /dev/i2c-1: page 0x05 ";
    const Case cases[] = {
        {"nvm",
         {0x02, 0x50},
         2,
         "0x00 W c8 02 ACK",
         bus + "write to 0x02 NACK\ngpakcfg: /dev/i2c-1: the chip is now erased at control "
               "code 0 (its NVM holds pages 0x00 to 0x04 of the file): gpakcfg -t nvm -c 0 "
               "--new-code 1 -w " GPAKCFG_EXAMPLES "/demo-config.hex programs it and gives it "
               "control code 1\ngpakcfg: /dev/i2c-1: page 0x00 read from 0x0A NACK; the table "
               "shows zeros from row 0x00\n"},
        {"eeprom",
         {0x0B, 0x50},
         1,
         "0x08 W c8 02 ACK",
         bus + "write to 0x0B NACK\n" + bus +
             "read from 0x0B NACK; the table shows zeros from row 0x05\n"},
    };
    for (const Case& c : cases) {
        for (const auto& [error, cause] :
             {std::pair{gpaksim::NackError::kRemoteIo, "Remote I/O error"},
              std::pair{gpaksim::NackError::kNoDevice, "No such device or address"}}) {
            options.knobs.nacks = {c.nack};
            options.nack_error = error;
            Restart();
            const RunResult run =
                Gpakcfg({"-t", c.type, "-w", std::string(GPAKCFG_EXAMPLES) + "/demo-config.hex"});
            EXPECT_TRUE(gpaktest::Contains(
                run.out, "Page 0x04 : complete\nPage 0x05 : error & stoped\n\nChip configration"));
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(BusLines().at(c.probes + 16 + 1 + 6), c.reset) << c.type;
            const std::string nack =
                std::string("failed: the chip did not acknowledge (") + cause + ")";
            EXPECT_EQ(run.err, std::regex_replace(c.err, std::regex("NACK"), nack));
        }
    }
}

}  // namespace

namespace {

// The production bench: --set, --skip-identical, -q and --log.
const std::string kExample = std::string(GPAKCFG_EXAMPLES) + "/demo-config.hex";

class CliBenchTest : public CliTest {
protected:
    static ConfigImage Example() {
        ConfigImage image{};
        EXPECT_EQ(ReadConfigFile(kExample, image).status, ConfigFileStatus::kRead);
        return image;
    }
    static ConfigImage WithCode(ConfigImage image, const std::string& type) {
        if (type == "nvm") {
            image[0xCA] = static_cast<std::uint8_t>((image[0xCA] & 0xF0) | 1);
        }
        return image;
    }
    static ConfigImage& Memory(const std::string& type) {
        return type == "nvm" ? gpaksim::Chip().nvm : gpaksim::Chip().eeprom;
    }
    static std::string Address(const std::string& type) { return type == "nvm" ? "0x0A" : "0x0B"; }
    // After its first skip transfers, the bus saw count page reads, and
    // nothing else.
    static testing::AssertionResult PageReadsOnly(std::size_t skip, std::size_t count) {
        const Strings lines = BusLines();
        if (lines.size() != skip + count) {
            return testing::AssertionFailure() << lines.size() << " transfers";
        }
        for (std::size_t i = skip; i < lines.size(); ++i) {
            if (lines[i].find(" R 16 ACK") != lines[i].size() - 9) {
                return testing::AssertionFailure() << lines[i];
            }
        }
        return testing::AssertionSuccess();
    }
    static long Erases() {
        const Strings lines = BusLines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("0x08 W e3 ", 0) == 0;
        });
    }
};

TEST_F(CliBenchTest, SetPutsItsBytesIntoTheFileShownWrittenAndVerified) {
    struct Case {
        std::string type;
        Strings sets;
        std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> bytes;  // where, what
    };
    const Case cases[] = {
        {"eeprom", {"--set", "0xF0=0001E240"}, {{0xF0, {0x00, 0x01, 0xE2, 0x40}}}},
        {"eeprom", {"--set=0xca=0x07"}, {{0xCA, {0x07}}}},
        {"nvm",
         {"--set", "0x0=FFff", "--set", "0xCB=5a", "--set", "0Xc9=a5"},
         {{0x00, {0xFF, 0xFF}}, {0xC9, {0xA5}}, {0xCB, {0x5A}}}},
    };
    for (const Case& c : cases) {
        Restart();
        Strings args = {"-t", c.type, "-w", kExample};
        args.insert(args.end(), c.sets.begin(), c.sets.end());
        const RunResult run = Gpakcfg(args);
        EXPECT_EQ(run.status, 0) << run.err;
        ConfigImage shown = Example();
        for (const auto& [at, bytes] : c.bytes) {
            std::copy(bytes.begin(), bytes.end(), shown.begin() + static_cast<long>(at));
        }
        ASSERT_FALSE(run.tables.empty()) << run.out;
        EXPECT_EQ(run.tables.front(), shown);
        EXPECT_EQ(Memory(c.type), WithCode(shown, c.type)) << testing::PrintToString(args);
        // --verify takes the same values and only reads; without them the
        // memory differs, and stays as it is.
        Restart();
        Memory(c.type) = WithCode(shown, c.type);
        args[2] = "--verify";
        const RunResult same = Gpakcfg(args);
        EXPECT_EQ(same.status, 0) << same.err;
        EXPECT_EQ(same.err, "");
        const RunResult other = Gpakcfg({"-t", c.type, "--verify", kExample});
        EXPECT_EQ(other.status, 1);
        EXPECT_EQ(other.err.find("gpakcfg: " + Address(c.type) +
                                 ": the memory differs from what was sent: "),
                  0u)
            << other.err;
        EXPECT_TRUE(PageReadsOnly(0, 32));
        EXPECT_EQ(Memory(c.type), WithCode(shown, c.type));
    }
}

TEST_F(CliBenchTest, SkipIdenticalSendsNoEraseOnAnIdenticalChipAndProgramsAnother) {
    for (const std::string type : {"nvm", "eeprom"}) {
        Restart();
        const std::string saved = dir.Path(type + ".hex");
        const Strings args = {"-t", type, "-w", kExample, "--skip-identical", "--save", saved};
        // A chip of other bytes is programmed as without the option.
        const RunResult first = Gpakcfg(args);
        EXPECT_EQ(first.status, 0) << first.err;
        EXPECT_EQ(Erases(), 16);
        EXPECT_EQ(first.out.find("Skipped"), std::string::npos);
        EXPECT_EQ(Memory(type), WithCode(Example(), type));
        // Now it holds the file: read, found the same, read back, saved.
        Restart();
        Memory(type) = WithCode(Example(), type);
        std::remove(saved.c_str());
        const RunResult again = Gpakcfg(args);
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.err, "");
        // The one-byte reads before the erase (at 0x08, and at 0x00 for the
        // NVM), 16 page reads, then the read-back's 16.
        EXPECT_TRUE(PageReadsOnly(type == "nvm" ? 2 : 1, 32));
        EXPECT_NE(again.out.find("\n\nSkipped: the memory at " + Address(type) +
                                 " already holds what would be written; nothing was erased or "
                                 "written.\n\nChip configration data.\n"),
                  std::string::npos)
            << again.out;
        EXPECT_EQ(again.out.find("Erase"), std::string::npos);
        EXPECT_EQ(gpaktest::ReadFile(saved), hexfile::FormatConfigFile(Memory(type)));
        // One byte off: programmed.
        Restart();
        Memory(type) = WithCode(Example(), type);
        Memory(type)[0x42] ^= 0x01;
        EXPECT_EQ(Gpakcfg(args).status, 0);
        EXPECT_EQ(Erases(), 16);
        EXPECT_EQ(Memory(type), WithCode(Example(), type));
    }
}

TEST_F(CliBenchTest, QuietLeavesStandardOutputEmptyAndTheRestAsItWas) {
    const std::string missing = dir.Path("missing.hex");
    struct Case {
        Strings args;
        std::vector<gpaksim::Nack> nacks;
    };
    const Case cases[] = {
        {{"-t", "nvm"}, {}},
        {{"-t", "eeprom", "-w", kExample}, {}},
        {{"-t", "eeprom", "-w", kExample}, {{0x0B, 0x50}}},  // a page write fails
        {{"-t", "nvm"}, {{0x0A, 0x50}}},                     // the read-back stops
        {{"-t", "nvm", "-w", missing}, {}},
        {{"-t", "nvm", "-z"}, {}},
        {{"-c", "2"}, {}},
    };
    for (const Case& c : cases) {
        for (const char* quiet : {"-q", "--quiet"}) {
            options.knobs.nacks = c.nacks;
            Restart();
            const RunResult loud = Gpakcfg(c.args);
            Restart();
            Strings args = c.args;
            args.insert(quiet[1] == 'q' ? args.begin() : args.end(), quiet);
            const RunResult run = Gpakcfg(args);
            EXPECT_EQ(run.out, "") << testing::PrintToString(args);
            EXPECT_NE(loud.out, "");
            EXPECT_EQ(run.err, loud.err);
            EXPECT_EQ(run.status, loud.status);
        }
    }
    // -q where a value should be is a missing value, and quiet still.
    const RunResult missing_value = Gpakcfg({"-t", "nvm", "--log", "-q"});
    EXPECT_EQ(missing_value.out, "");
    EXPECT_EQ(missing_value.err, "gpakcfg: --log: FILE is missing\n");
    // What is asked for is still printed.
    EXPECT_NE(Gpakcfg({"-q", "--help"}).out.find("Usage: "), std::string::npos);
    EXPECT_EQ(Gpakcfg({"--version", "-q"}).out, kBanner);
}

TEST_F(CliBenchTest, ALogLineForEveryRunThatReachedTheBusAndALogNotOpenedNowRefusedFirst) {
    const std::string log = dir.Path("runs.log");
    EXPECT_EQ(Gpakcfg({"-t", "nvm", "-w", dir.Path("missing.hex"), "--log", log}).status, 255);
    EXPECT_EQ(Gpakcfg({"-t", "nvm", "-w", kExample, "--log", log, "-z"}).status, 255);
    EXPECT_NE(access(log.c_str(), F_OK), 0);
    options.no_node = true;
    Restart();
    EXPECT_EQ(Gpakcfg({"-t", "nvm", "-w", kExample, "--log", log}).status, 1);
    EXPECT_NE(gpaktest::ReadFile(log).find("\"action\": \"write\""), std::string::npos);
    EXPECT_NE(gpaktest::ReadFile(log).find("\"sent\": null, \"read\": null"), std::string::npos);
    // A log that cannot be opened failed the run after the chip was
    // programmed; now nothing is sent.
    options.no_node = false;
    Restart();
    const std::string nowhere = dir.Path("none/runs.log");
    const RunResult run = Gpakcfg({"-t", "eeprom", "-w", kExample, "--log", nowhere});
    EXPECT_EQ(run.err, "gpakcfg: --log " + nowhere +
                           ": cannot be opened for appending: No such file or directory\n");
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(gpaksim::Transfers().empty());
}

}  // namespace

namespace {

// --save FILE: after a complete read-back the memory goes to FILE, and
// standard output is that of the same run without it.
class CliSaveTest : public CliTest {
protected:
    std::string saved = dir.Path("backup.hex");
};

TEST_F(CliSaveTest, SaveWritesTheMemoryReadBackWhereverTheOptionStands) {
    gpaksim::Chip().eeprom[0x1F] = 0xAB;
    const std::string expected = hexfile::FormatConfigFile(gpaksim::Chip().eeprom);
    const Strings forms[] = {
        {"-t", "eeprom", "--save", saved},
        {"--save", saved, "-t", "eeprom"},
        {"--save=" + saved, "-t", "eeprom"},
        {"-t", "eeprom", "--save", saved, "--"},
    };
    for (const Strings& args : forms) {
        std::remove(saved.c_str());
        const RunResult run = Gpakcfg(args);
        EXPECT_TRUE(OnlyTheReadBack(run, gpaksim::Chip().eeprom));
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(gpaktest::ReadFile(saved), expected) << testing::PrintToString(args);
    }
}

TEST_F(CliSaveTest, SaveAfterAWriteRunHoldsWhatTheChipHolds) {
    const std::string example = std::string(GPAKCFG_EXAMPLES) + "/demo-config.hex";
    gpaksim::SetControlCode(gpaksim::Chip(), 3);
    const RunResult run = Gpakcfg({"-t", "nvm", "-c", "3", "-w", example, "--save", saved});
    EXPECT_EQ(run.status, 0) << run.err;
    ConfigImage file{};
    ASSERT_EQ(ReadConfigFile(example, file).status, ConfigFileStatus::kRead);
    file[0xCA] = static_cast<std::uint8_t>((file[0xCA] & 0xF0) | 3);
    ConfigImage back{};
    ASSERT_EQ(ReadConfigFile(saved, back).status, ConfigFileStatus::kRead);
    EXPECT_EQ(back, file);
    EXPECT_EQ(back, gpaksim::Chip().nvm);
}

TEST_F(CliSaveTest, AnIncompleteReadBackLeavesTheFileAsItWas) {
    options.knobs.nacks = {{0x0A, 0x50}};
    Restart();
    const std::string absent = dir.Path("absent.hex");
    for (const std::string& path : {dir.Write("backup.hex", "the last good backup\n"), absent}) {
        const RunResult run = Gpakcfg({"-t", "nvm", "--save", path});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, kReadError5 + "gpakcfg: " + path +
                               ": not saved: the read-back did not read all 16 pages; the file "
                               "is left as it was\n");
    }
    EXPECT_EQ(gpaktest::ReadFile(saved), "the last good backup\n");
    EXPECT_NE(access(absent.c_str(), F_OK), 0);
}

// It failed the run after the read-back before.
TEST_F(CliSaveTest, ASaveWhoseDirectoryTakesNoNewFileIsNowRefusedBeforeTheBus) {
    const std::string path = dir.Path("none/backup.hex");
    const RunResult run = Gpakcfg({"-t", "nvm", "--save", path});
    EXPECT_EQ(run.out, kBanner);
    EXPECT_EQ(run.err, "gpakcfg: --save " + path + ": cannot create a new file in " +
                           dir.Path("none") + ": No such file or directory\n");
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(gpaksim::Transfers().empty());
}

}  // namespace

namespace {

// An option as the manual page and the option table both say it: its
// spellings, and " ARG" when it takes a value.
std::string Entry(const std::vector<std::string>& spellings, bool takes_value) {
    std::string entry;
    for (const std::string& spelling : spellings) {
        entry += (entry.empty() ? "" : " ") + spelling;
    }
    return entry + (takes_value ? " ARG" : "");
}

// The tag line of a .TP entry (.BI \-\-bus " N\fR|\fPPATH") as an Entry:
// the macro, then dashes written \-, font changes, quotes and commas.
std::string ManEntry(const std::string& tag) {
    const std::string plain = std::regex_replace(
        std::regex_replace(tag, std::regex(R"(\\f.|"|,)"), ""), std::regex(R"(\\-)"), "-");
    std::istringstream words(plain);
    std::string word;
    words >> word;  // .B, .BI, .BR
    std::vector<std::string> spellings;
    bool takes_value = false;
    while (words >> word) {
        if (word[0] == '-') {
            spellings.push_back(word);
        } else {
            takes_value = true;
        }
    }
    return Entry(spellings, takes_value);
}

// A new option is a row of the table and an entry under OPTIONS in
// gpakcfg(1): one without the other fails here. Each row's usage line
// begins with a spelling of its own.
TEST(OptionTableTest, AgreesWithTheManualPageAndTheUsage) {
    std::set<std::string> table;
    for (const cli::Option& option : cli::OptionTable()) {
        std::vector<std::string> spellings;
        for (const char* name : {option.short_name, option.long_name}) {
            if (name != nullptr) {
                spellings.emplace_back(name);
            }
        }
        table.insert(Entry(spellings, option.value != nullptr));
        if (option.usage != nullptr) {
            const std::string usage = option.usage;
            const std::string first_word = usage.substr(0, usage.find_first_of(" ,"));
            EXPECT_NE(std::find(spellings.begin(), spellings.end(), first_word), spellings.end())
                << usage;
        }
    }
    std::set<std::string> page;
    std::istringstream text(gpaktest::ReadFile(GPAKCFG_MAN_PAGE));
    std::string line;
    bool in_options = false;
    while (std::getline(text, line)) {
        if (line.rfind(".SH", 0) == 0) {
            in_options = line == ".SH OPTIONS";
        } else if (in_options && line == ".TP" && std::getline(text, line)) {
            page.insert(ManEntry(line));
        }
    }
    EXPECT_EQ(page, table);
}

}  // namespace
