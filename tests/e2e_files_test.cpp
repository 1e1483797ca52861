// Command lines and hex record files as a user hands them to the built
// gpakcfg, through the gpak-sim launcher: what is unusable is refused
// before anything reaches the bus, and a saved memory programs back to the
// same bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <regex>

#include "sim_bench.h"

namespace gpaktest {
namespace {

const std::string kBanner = "GreenPAK configuration utility\ngpakcfg " GPAKCFG_VERSION "\n\n";

class EndToEndFiles : public BenchTest {};

// A file that is refused before anything reaches the bus, with the banner
// alone on standard output. The command lines refused, a missing file and
// a directory are cli_test's, in process.
struct Refusal {
    std::string name;
    Strings args;                        // "FILE" stands for the file written with content;
                                         // with "-", content comes through a pipe
    std::optional<std::string> content;  // none: FILE does not exist
    std::string err;                     // a regular expression for all of standard error
};

std::vector<Refusal> Refusals() {
    const std::string device =
        ": a character device, not a hex record file: nothing was read from it\n";
    std::string flipped = HexFile(32);                               // lines of 76 characters
    flipped[3 * 76 + 20] = flipped[3 * 76 + 20] == '0' ? '1' : '0';  // line 4
    return {
        {"CharacterDeviceToWrite",
         {"-t", "eeprom", "-w", "/dev/zero"},
         {},
         "gpakcfg: /dev/zero" + device},
        {"CharacterDeviceToVerify",
         {"-t", "nvm", "--verify", "/dev/null"},
         {},
         "gpakcfg: /dev/null" + device},
        // One damaged file: the reader's table and the oracles hold the rest.
        {"DamagedFile", {"-t", "nvm", "-w", "FILE"}, flipped, "gpakcfg: FILE:4: [^\n]+\n"},
        {"DamagedOnStandardInput",
         {"-t", "nvm", "-w", "-"},
         flipped,
         "gpakcfg: \\(standard input\\):4: [^\n]+\n"},
    };
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
    Launch launch = Launch::Gpakcfg(args);
    if (std::find(args.begin(), args.end(), "-") != args.end()) {
        if (Emulated()) {
            GTEST_SKIP()
                << "the pipe is made by /bin/sh, which a cross build's simulator cannot run";
        }
        launch.wrapper = {"/bin/sh", "-c", "cat \"$0\" | \"$@\"", file};
    }
    const RunResult run = bench.Run(launch);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, kBanner);
    EXPECT_TRUE(std::regex_match(run.err, std::regex(err))) << run.err;
    EXPECT_TRUE(run.transfers.empty());
    EXPECT_EQ(run.Chip().nvm, gpaksim::DefaultChip().nvm);
}

INSTANTIATE_TEST_SUITE_P(Files, Refused, testing::ValuesIn(Refusals()),
                         [](const testing::TestParamInfo<Refusal>& info) {
                             return info.param.name;
                         });

// The file of -w or --verify was replaced by --save: now refused, however
// it is spelled or linked, and the file stays as it was. So is one file
// named by two outputs (one got the other's content), and an output that
// cannot be written: it failed only after programming, or a FIFO log hung.
TEST_F(EndToEndFiles, EveryFileARunWritesIsNowSettledBeforeTheBus) {
    const std::string content = HexFile(16);
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
    const std::string fresh = bench.Path("new.hex");
    const std::string to_fresh = bench.Path("to-new");
    const std::string fifo = bench.Path("fifo");
    ASSERT_EQ(symlink("new.hex", to_fresh.c_str()) | mkfifo(fifo.c_str(), 0600), 0);
    const std::string appended = ": the line would be appended to it; log to another file\n";
    const std::pair<Strings, std::string> outputs[] = {
        {{"-t", "nvm", "--save", fresh, "--log", bench.Path("./new.hex")},
         "gpakcfg: --log " + bench.Path("./new.hex") + ": the same file as --save " + fresh +
             appended},
        {{"-t", "nvm", "--save", to_fresh, "--log", fresh},
         "gpakcfg: --log " + fresh + ": the same file as --save " + to_fresh + appended},
        {{"-t", "nvm", "--log", ""}, "gpakcfg: --log '': no file name\n"},
        {{"-t", "nvm", "--save", ""}, "gpakcfg: --save '': no file name\n"},
        {{"-t", "nvm", "--log", bench.Path("")},
         "gpakcfg: --log " + bench.Path("") + ": cannot be opened for appending: Is a directory\n"},
        {{"-t", "nvm", "--log", fifo},
         "gpakcfg: --log " + fifo + ": a FIFO that no process reads: start its reader first\n"},
    };
    std::vector<std::pair<Strings, std::string>> all(std::begin(cases), std::end(cases));
    all.insert(all.end(), std::begin(outputs), std::end(outputs));
    for (const auto& [args, err] : all) {
        const RunResult run = bench.Gpakcfg(args);
        EXPECT_EQ(run.status, 255) << err;
        EXPECT_EQ(run.out, kBanner) << err;
        EXPECT_EQ(run.err, err);
        EXPECT_TRUE(run.transfers.empty());
    }
    EXPECT_EQ(ReadFile(master), content);
    EXPECT_NE(access(fresh.c_str(), F_OK), 0);
}

TEST_F(EndToEndFiles, ASavedMemoryProgramsBackToTheSameBytes) {
    // Make the chip's NVM our own first, then save it, then program the
    // saved file into a fresh chip.
    const std::string made = bench.Write("made.hex", HexFile(8));
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

}  // namespace
}  // namespace gpaktest
