// Hex record files as a user hands them to the built gpakcfg, through the
// gpak-sim launcher: damaged files are refused before anything reaches the
// bus, and a saved memory programs back to the same bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "run_command.h"

namespace {

using gpaktest::CommandResult;
using gpaktest::ReadFile;
using gpaktest::RunCommand;
using Strings = std::vector<std::string>;

const std::string kBanner = "GreenPAK configuration utility\ngpakcfg " GPAKCFG_VERSION "\n\n";

class EndToEndFiles : public testing::Test {
protected:
    CommandResult Gpakcfg(const std::string& state, const Strings& sim, const Strings& args) {
        Strings argv = {GPAKSIM_BIN, "--state", state, "--trace", trace, "--virtual-time"};
        argv.insert(argv.end(), sim.begin(), sim.end());
        argv.push_back("--");
        argv.push_back(GPAKCFG_BIN);
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv);
    }

    gpaktest::TempDir dir;
    std::string state = dir.Path("chip.state");
    std::string trace = dir.Path("bus.trace");
};

// The hex digits of the last table in a run's output, row after row.
std::string LastTable(const std::string& out) {
    const std::size_t start = out.rfind("Page |  0 1 2");
    std::string digits;
    for (int row = 0; row < 16 && start != std::string::npos; ++row) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "\n0x%02X | ", row);
        const std::size_t at = out.find(prefix, start);
        digits += at == std::string::npos ? "" : out.substr(at + 8, 32);
    }
    return digits;
}

std::string Record(unsigned addr, unsigned size, unsigned type = 0) {
    unsigned sum = size + (addr >> 8) + (addr & 0xFF) + type;
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", size, addr, type);
    std::string line = text;
    for (unsigned i = 0; i < size; ++i) {
        const unsigned byte = (addr + i) * 7 & 0xFF;
        sum += byte;
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
    }
    std::snprintf(text, sizeof text, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text + "\n";
}

std::string Records(unsigned size, unsigned total = 256) {
    std::string text;
    for (unsigned addr = 0; addr < total; addr += size) {
        text += Record(addr, std::min(size, total - addr));
    }
    return text;
}

TEST_F(EndToEndFiles, DamagedFilesAreRefusedWithTheirLineAndNothingReachesTheBus) {
    const std::string good = Records(32);  // 8 lines
    std::string flipped = good;
    flipped[3 * 76 + 20] = flipped[3 * 76 + 20] == '0' ? '1' : '0';  // line 4
    std::string non_hex = good;
    non_hex[76 + 9] = 'Z';  // line 2
    std::string swapped = Records(16);
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
    struct Case {
        std::string name;
        std::string content;
        int line;
    };
    const Case cases[] = {
        {"form-feed", hidden("\f"), 8},
        {"vertical-tab", hidden("\v"), 8},
        {"no-break-space", hidden("\xC2\xA0"), 8},
        {"zero-width-space", hidden("\xE2\x80\x8B"), 8},
        {"stray-letter", hidden("x"), 8},
        {"flipped", flipped, 4},
        {"non-hex", non_hex, 2},
        {"swapped", swapped, 6},
        {"nul", good.substr(0, 100) + std::string(1, '\0') + good.substr(101), 2},
        {"cut-short", good.substr(0, 76 * 5), 5},
        {"cut-in-a-record", good.substr(0, 76 * 5 + 30), 6},
        {"too-long", Records(16, 272) + ":00000001FF\n", 17},
        {"high-address", ":020000040001F9\n" + good, 1},
        {"no-data", "# nothing here\n:00000001FF\n", 2},
        // Refused with the srec_cat command that converts them.
        {"s-records", "S113000000070E151C232A31383F464D545B6269A4\nS9030000FC\n", 1},
        {"binary", image, 1},
    };
    for (const Case& c : cases) {
        const std::string path = dir.Write(c.name + ".hex", c.content);
        const CommandResult run = Gpakcfg(state, {}, {"-t", "nvm", "-w", path});
        EXPECT_EQ(run.status, 255) << c.name;
        EXPECT_EQ(run.out, kBanner) << c.name;
        const std::regex one_line("gpakcfg: " + path + ":" + std::to_string(c.line) + ": [^\n]+\n");
        EXPECT_TRUE(std::regex_match(run.err, one_line)) << c.name << ": " << run.err;
    }
    EXPECT_EQ(ReadFile(trace), "");
}

// A device was read before (on an I2C node a read is a bus transfer), and
// the file of -w or --verify was replaced by --save.
TEST_F(EndToEndFiles, DevicesAndTheInputFileGivenToSaveAreNowRefusedBeforeTheBus) {
    const std::string master = dir.Write("master.hex", Records(16) + ":00000001FF\n");
    ASSERT_EQ(symlink(master.c_str(), dir.Path("soft.hex").c_str()), 0);
    ASSERT_EQ(link(master.c_str(), dir.Path("hard.hex").c_str()), 0);
    const std::string device = ": a character device, not a hex record file: nothing was read";
    const std::string same = ": the read-back would replace it; save to another file\n";
    const std::pair<Strings, std::string> cases[] = {
        {{"-t", "eeprom", "-w", "/dev/zero"}, "gpakcfg: /dev/zero" + device + " from it\n"},
        {{"-t", "nvm", "--verify", "/dev/null"}, "gpakcfg: /dev/null" + device + " from it\n"},
        {{"-t", "nvm", "-w", master, "--save", master},
         "gpakcfg: --save " + master + ": the same file as -w " + master + same},
        {{"-t", "nvm", "--save", dir.Path("./hard.hex"), "-w", master},
         "gpakcfg: --save " + dir.Path("./hard.hex") + ": the same file as -w " + master + same},
        {{"-t", "nvm", "--verify", master, "--save", dir.Path("soft.hex")},
         "gpakcfg: --save " + dir.Path("soft.hex") + ": the same file as --verify " + master +
             same},
    };
    for (const auto& [args, err] : cases) {
        const CommandResult run = Gpakcfg(state, {}, args);
        EXPECT_EQ(run.status, 255) << err;
        EXPECT_EQ(run.out, kBanner) << err;
        EXPECT_EQ(run.err, err);
    }
    EXPECT_EQ(ReadFile(master), Records(16) + ":00000001FF\n");
    EXPECT_EQ(ReadFile(trace), "");
}

TEST_F(EndToEndFiles, ASavedMemoryProgramsBackToTheSameBytes) {
    // Make the chip's NVM our own first, then save it, then program the
    // saved file into a fresh chip.
    const std::string made = dir.Write("made.hex", Records(8) + ":00000001FF\n");
    ASSERT_EQ(Gpakcfg(state, {}, {"-t", "nvm", "-w", made}).status, 0);
    const std::string backup = dir.Path("backup.hex");
    const CommandResult save = Gpakcfg(state, {}, {"-t", "nvm", "--save", backup});
    ASSERT_EQ(save.status, 0) << save.err;
    const std::string memory = LastTable(save.out);
    ASSERT_EQ(memory.size(), 512u);

    const std::string fresh = dir.Path("fresh.state");
    const CommandResult program = Gpakcfg(fresh, {}, {"-t", "nvm", "-w", backup});
    EXPECT_EQ(program.status, 0) << program.err;
    EXPECT_EQ(LastTable(program.out), memory);
    EXPECT_EQ(LastTable(Gpakcfg(fresh, {}, {"-t", "nvm"}).out), memory);

    // Saved again, the file is the same, byte for byte.
    const std::string again = dir.Path("again.hex");
    EXPECT_EQ(Gpakcfg(fresh, {}, {"-t", "nvm", "--save", again}).status, 0);
    EXPECT_EQ(ReadFile(again), ReadFile(backup));
}

// Run as root in /tmp, --save through another user's link replaced the
// file it names, where the kernel would not follow that link.
TEST_F(EndToEndFiles, SaveNowRefusesAnotherUsersLinkInAStickyDirectory) {
    const std::string shared = dir.Path("tmp");
    const std::string system = dir.Write("system.conf", "kept\n");
    const std::string board = shared + "/board-before.hex";
    ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(symlink(system.c_str(), board.c_str()), 0);
    if (geteuid() != 0 || lchown(board.c_str(), 65534, 65534) != 0) {
        GTEST_SKIP() << "needs root, to leave a link of another user";
    }
    const CommandResult run = Gpakcfg(state, {}, {"-t", "nvm", "--save", board});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "gpakcfg: " + board + ": not saved: the symbolic link " + board +
                           " belongs to another user (uid 65534) in the sticky world-writable "
                           "directory " +
                           shared +
                           ", so it is not followed (fs.protected_symlinks): Permission denied\n");
    EXPECT_EQ(ReadFile(system), "kept\n");
}

TEST_F(EndToEndFiles, AnIncompleteReadBackLeavesTheBackupAsItWas) {
    const std::string backup = dir.Write("backup.hex", "the last good backup\n");
    const CommandResult run =
        Gpakcfg(state, {"--nack", "0x0a:0x50"}, {"-t", "nvm", "--save", backup});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFile(backup), "the last good backup\n");
    EXPECT_NE(run.err.find("gpakcfg: " + backup + ": not saved: "), std::string::npos);
}

}  // namespace
