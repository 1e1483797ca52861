// Command lines and hex record files as a user hands them to the built
// gpakcfg, through the gpak-sim launcher: what is unusable is refused
// before anything reaches the bus, and a saved memory programs back to the
// same bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <regex>
#include <tuple>

#include "sim_bench.h"

namespace gpaktest {
namespace {

const std::string kBanner = "GreenPAK configuration utility\ngpakcfg " GPAKCFG_VERSION "\n\n";

class EndToEndFiles : public BenchTest {};

// A command line or a file that is refused before anything reaches the
// bus, with the banner alone on standard output.
struct Refusal {
    std::string name;
    Strings args;                        // "FILE" stands for the file written with content
    std::optional<std::string> content;  // none: FILE does not exist
    std::string err;                     // a regular expression for all of standard error
};

// Damaged files, each refused with one line that names its line.
std::vector<Refusal> DamagedFiles() {
    const std::string good = HexRecords(32);  // 8 lines
    std::string flipped = good;
    flipped[3 * 76 + 20] = flipped[3 * 76 + 20] == '0' ? '1' : '0';  // line 4
    std::string non_hex = good;
    non_hex[76 + 9] = 'Z';  // line 2
    std::string swapped = HexRecords(16);
    swapped = swapped.substr(0, 44 * 5) + swapped.substr(44 * 6, 44) + swapped.substr(44 * 5, 44) +
              swapped.substr(44 * 7);  // lines 6 and 7 swapped
    // The last data record behind a character the eye does not see: once
    // skipped as a comment, with the rest of the image 0x00, and status 0.
    const auto hidden = [&](const std::string& before) {
        return good.substr(0, 76 * 7) + before + good.substr(76 * 7) + ":00000001FF\n";
    };
    std::string image;  // a memory image as raw bytes
    for (unsigned i = 0; i < 256; ++i) {
        image += static_cast<char>(i * 7 & 0xFF);
    }
    const std::vector<std::tuple<std::string, std::string, int>> damaged = {
        {"FormFeed", hidden("\f"), 8},
        {"VerticalTab", hidden("\v"), 8},
        {"NoBreakSpace", hidden("\xC2\xA0"), 8},
        {"ZeroWidthSpace", hidden("\xE2\x80\x8B"), 8},
        {"StrayLetter", hidden("x"), 8},
        {"Flipped", flipped, 4},
        {"NonHex", non_hex, 2},
        {"Swapped", swapped, 6},
        {"Nul", good.substr(0, 100) + std::string(1, '\0') + good.substr(101), 2},
        {"CutShort", good.substr(0, 76 * 5), 5},
        {"CutInARecord", good.substr(0, 76 * 5 + 30), 6},
        {"TooLong", HexRecords(16, 272) + ":00000001FF\n", 17},
        {"HighAddress", ":020000040001F9\n" + good, 1},
        {"NoData", "# nothing here\n:00000001FF\n", 2},
        {"Empty", "", 1},
        // Refused with the srec_cat command that converts them.
        {"SRecords", "S113000000070E151C232A31383F464D545B6269A4\nS9030000FC\n", 1},
        {"Binary", image, 1},
    };
    std::vector<Refusal> cases;
    for (const auto& [name, content, line] : damaged) {
        cases.push_back({name,
                         {"-t", "nvm", "-w", "FILE"},
                         content,
                         "gpakcfg: FILE:" + std::to_string(line) + ": [^\n]+\n"});
    }
    return cases;
}

std::vector<Refusal> Refusals() {
    const std::string one_line = "gpakcfg: [^\n]+\n";
    const std::string device =
        ": a character device, not a hex record file: nothing was read from it\n";
    std::vector<Refusal> cases = {
        {"NoType", {"-t", "x", "-w", kExample}, {}, "Type is not specified\\."},
        {"FileWithoutW", {"-t", "nvm", kExample}, {}, one_line},
        {"WWithoutFile", {"-t", "nvm", "-w"}, {}, one_line},
        {"TwoDigitCode", {"-t", "nvm", "-c", "12", "-w", kExample}, {}, one_line},
        {"CodeNotHex", {"-t", "nvm", "-c", "g"}, {}, one_line},
        {"UnknownOption", {"-t", "nvm", "-w", kExample, "-x"}, {}, one_line},
        {"VerifyRegisters", {"-t", "reg", "--verify", kExample}, {}, "gpakcfg: --verify: [^\n]+\n"},
        {"MissingFile",
         {"-t", "nvm", "-w", "FILE"},
         {},
         "Config file open error: No such file or directory\n"},
        {"Directory", {"-t", "nvm", "-w", "/"}, {}, "Config file read error: Is a directory\n"},
        {"CharacterDeviceToWrite",
         {"-t", "eeprom", "-w", "/dev/zero"},
         {},
         "gpakcfg: /dev/zero" + device},
        {"CharacterDeviceToVerify",
         {"-t", "nvm", "--verify", "/dev/null"},
         {},
         "gpakcfg: /dev/null" + device},
    };
    for (Refusal& damaged : DamagedFiles()) {
        cases.push_back(std::move(damaged));
    }
    return cases;
}

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class Refused : public BenchTest, public testing::WithParamInterface<Refusal> {};

TEST_P(Refused, NothingIsSent) {
    const Refusal& c = GetParam();
    const std::string file = bench.Path(c.name + ".hex");
    if (c.content) {
        bench.Write(c.name + ".hex", *c.content);
    }
    Strings args = c.args;
    std::replace(args.begin(), args.end(), std::string("FILE"), file);
    const std::string err = std::regex_replace(c.err, std::regex("FILE"), file);
    const RunResult run = bench.Gpakcfg(args);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, kBanner);
    EXPECT_TRUE(std::regex_match(run.err, std::regex(err))) << run.err;
    EXPECT_TRUE(run.transfers.empty());
    EXPECT_EQ(run.Chip().nvm, gpaksim::DefaultChip().nvm);
}

INSTANTIATE_TEST_SUITE_P(CommandLinesAndFiles, Refused, testing::ValuesIn(Refusals()),
                         [](const testing::TestParamInfo<Refusal>& info) {
                             return info.param.name;
                         });

// The file of -w or --verify was replaced by --save: now refused, however
// it is spelled or linked, and the file stays as it was.
TEST_F(EndToEndFiles, TheInputFileGivenToSaveIsRefusedBeforeTheBus) {
    const std::string content = HexRecords(16) + ":00000001FF\n";
    const std::string master = bench.Write("master.hex", content);
    const std::string soft = bench.Path("soft.hex");
    const std::string hard = bench.Path("./hard.hex");
    ASSERT_EQ(symlink(master.c_str(), soft.c_str()), 0);
    ASSERT_EQ(link(master.c_str(), hard.c_str()), 0);
    const std::string same = ": the read-back would replace it; save to another file\n";
    const std::pair<Strings, std::string> cases[] = {
        {{"-t", "nvm", "-w", master, "--save", master},
         "gpakcfg: --save " + master + ": the same file as -w " + master + same},
        {{"-t", "nvm", "--save", hard, "-w", master},
         "gpakcfg: --save " + hard + ": the same file as -w " + master + same},
        {{"-t", "nvm", "--verify", master, "--save", soft},
         "gpakcfg: --save " + soft + ": the same file as --verify " + master + same},
    };
    for (const auto& [args, err] : cases) {
        const RunResult run = bench.Gpakcfg(args);
        EXPECT_EQ(run.status, 255) << err;
        EXPECT_EQ(run.out, kBanner) << err;
        EXPECT_EQ(run.err, err);
        EXPECT_TRUE(run.transfers.empty());
    }
    EXPECT_EQ(ReadFile(master), content);
}

TEST_F(EndToEndFiles, ASavedMemoryProgramsBackToTheSameBytes) {
    // Make the chip's NVM our own first, then save it, then program the
    // saved file into a fresh chip.
    const std::string made = bench.Write("made.hex", HexRecords(8) + ":00000001FF\n");
    ASSERT_EQ(bench.Gpakcfg({"-t", "nvm", "-w", made}).status, 0);
    const std::string backup = bench.Path("backup.hex");
    const RunResult save = bench.Gpakcfg({"-t", "nvm", "--save", backup});
    ASSERT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(save.ReadBack(), save.Chip().nvm);

    SimBench fresh;
    const RunResult program = fresh.Gpakcfg({"-t", "nvm", "-w", backup});
    EXPECT_EQ(program.status, 0) << program.err;
    EXPECT_EQ(program.Chip().nvm, save.Chip().nvm);
    EXPECT_EQ(fresh.Gpakcfg({"-t", "nvm"}).ReadBack(), save.Chip().nvm);

    // Saved again, the file is the same, byte for byte.
    const std::string again = bench.Path("again.hex");
    EXPECT_EQ(fresh.Gpakcfg({"-t", "nvm", "--save", again}).status, 0);
    EXPECT_EQ(ReadFile(again), ReadFile(backup));
}

// Run as root in /tmp, --save through another user's link replaced the
// file it names, where the kernel would not follow that link.
TEST_F(EndToEndFiles, SaveNowRefusesAnotherUsersLinkInAStickyDirectory) {
    const std::string shared = bench.Path("tmp");
    const std::string system = bench.Write("system.conf", "kept\n");
    const std::string board = shared + "/board-before.hex";
    ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(symlink(system.c_str(), board.c_str()), 0);
    if (geteuid() != 0 || lchown(board.c_str(), 65534, 65534) != 0) {
        GTEST_SKIP() << "needs root, to leave a link of another user";
    }
    const RunResult run = bench.Gpakcfg({"-t", "nvm", "--save", board});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "gpakcfg: " + board + ": not saved: the symbolic link " + board +
                           " belongs to another user (uid 65534) in the sticky world-writable "
                           "directory " +
                           shared +
                           ", so it is not followed (fs.protected_symlinks): Permission denied\n");
    EXPECT_EQ(ReadFile(system), "kept\n");
}

TEST_F(EndToEndFiles, AnIncompleteReadBackLeavesTheBackupAsItWas) {
    const std::string backup = bench.Write("backup.hex", "the last good backup\n");
    const RunResult run = bench.Gpakcfg({"-t", "nvm", "--save", backup}, {"--nack", "0x0a:0x50"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFile(backup), "the last good backup\n");
    EXPECT_TRUE(Contains(run.err, "gpakcfg: " + backup + ": not saved: "));
}

}  // namespace
}  // namespace gpaktest
