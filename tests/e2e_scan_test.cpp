// Finding the chips, with the built gpakcfg through gpak-sim: --scan lists
// them as i2cdetect sees the bus; the README's recipes work as written; a
// chip left at control code 0 by a killed run is found and recovered as
// the run says.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <set>
#include <sstream>

#include "chips_board.h"

namespace gpaktest {
namespace {

// The addresses --scan lists are those i2cdetect finds (all of them, 0x00
// included: -a); --scan sends one-byte reads only.
TEST_F(ChipsOnTheBus, ScanListsTheChipsAsI2cdetectSeesThem) {
    struct Case {
        Strings board;
        std::string lines;
    };
    const Case cases[] = {
        {{}, "1    0x08      0x0A 0x0B   1\n"},
        {{"--chip", "0", "--chip", "1", "--chip", "15"},
         std::string("0    0x00      0x02 0x03   0") + kCodeZero +
             "\n1    0x08      0x0A 0x0B   1\nf    0x78      0x7A 0x7B   f\n"},
        {{"--nack", "0x0a"}, "1    0x08      -    0x0B   -\n"},
    };
    // This machine's i2cdetect, where the launcher runs it.
    const bool have_i2cdetect = access("/usr/sbin/i2cdetect", X_OK) == 0 && !Emulated();
    for (const Case& c : cases) {
        std::remove(bench.StatePath().c_str());
        const RunResult scan = bench.Gpakcfg({"--scan"}, c.board);
        const std::string label = testing::PrintToString(c.board);
        EXPECT_EQ(scan.status, 0) << label << scan.err;
        EXPECT_EQ(scan.err, "") << label;
        EXPECT_EQ(Scanned(scan), kScanHead + c.lines + "\n") << label;
        EXPECT_TRUE(OneByteReadsOnly(scan)) << label;
        if (!have_i2cdetect) {
            continue;
        }
        std::set<std::string> listed;
        std::istringstream words(c.lines);
        for (std::string word; words >> word;) {
            if (word.rfind("0x", 0) == 0) {
                listed.insert(word.substr(2));
            }
        }
        const RunResult detect =
            bench.Run(Launch({"/usr/sbin/i2cdetect", "-y", "-a", "1"}).Sim(c.board));
        ASSERT_EQ(detect.status, 0) << detect.err;
        std::set<std::string> found;
        std::istringstream cells(detect.out.substr(detect.out.find("00:")));
        for (std::string cell; cells >> cell;) {
            if (cell.size() == 2 && cell != "--") {
                std::transform(cell.begin(), cell.end(), cell.begin(),
                               [](unsigned char digit) { return std::toupper(digit); });
                found.insert(cell);
            }
        }
        EXPECT_EQ(found, listed) << label << detect.out;
    }
    std::remove(bench.StatePath().c_str());
    const RunResult none = bench.Gpakcfg({"--scan"}, {"--absent"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "gpakcfg: /dev/i2c-1: no chip answers at any control code, 0 to f\n");
    EXPECT_EQ(Scanned(none), std::string(kScanHead) + "\n");
    EXPECT_EQ(none.transfers.size(), 16u);
    // Quiet, its status alone tells whether a chip answers; its log line
    // is a scan's, of no memory.
    const std::string log = bench.Path("scan.log");
    const RunResult quiet = bench.Gpakcfg({"--scan", "-q", "--log", log});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_TRUE(Contains(ReadFile(log), "\"memory\": null, \"action\": \"scan\", "));
}

// The README's recipes for chips on one bus, each run as written (one
// shell, the built gpakcfg first in PATH) on a simulated board of its own.
TEST_F(ChipsOnTheBus, TheReadmeRecipesWorkAsWritten) {
    GPAKTEST_SKIP_WHEN_EMULATED();  // this machine's /bin/sh under the launcher
    const std::string readme = ReadFile(GPAKCFG_README);
    const auto recipe = [&readme](const std::string& heading) {
        const std::size_t at = readme.find("\n### " + heading + "\n");
        EXPECT_NE(at, std::string::npos) << heading;
        const std::size_t from = readme.find("```sh\n", at) + 6;
        return readme.substr(from, readme.find("```\n", from) - from);
    };
    bench.Write("board.hex", ReadFile(kExample));
    bench.Write("board-a.hex", ReadFile(FileAskingFor(1)));
    bench.Write("board-b.hex", ReadFile(FileAskingFor(2)));
    const std::string bin = kGpakcfg.substr(0, kGpakcfg.rfind('/'));
    struct Case {
        std::string heading;
        Strings board;
        std::string shows;  // on standard output
        std::vector<Image> nvm;
    };
    const Case cases[] = {
        {"Find your chips",
         {"--chip", "0", "--chip", "1"},
         std::string("0    0x00      0x02 0x03   0") + kCodeZero +
             "\n1    0x08      0x0A 0x0B   1\n\n0\n1\n",
         {}},
        {"Several chips on one bus",
         {"--chip", "1", "--chip", "2"},
         "1    0x08      0x0A 0x0B   1\n2    0x10      0x12 0x13   2\n",
         {FileImage(kExample, 1), FileImage(kExample, 2)}},
        {"Move a chip to another code",
         {"--chip", "1"},
         "2    0x10      0x12 0x13   2\n",
         {FileImage(kExample, 2)}},
        {"Recover a chip left erased", {"--chip", "0"}, "0    0x00  ", {FileImage(kExample, 1)}},
        {"Recover a chip a --new-code run left behind",
         {"--chip", "2"},
         "2    0x10  ",
         {FileImage(kExample, 2)}},
    };
    for (const Case& c : cases) {
        MakeBoard(c.board);
        const RunResult run = bench.Run(
            Launch({"/bin/sh", "-ec",
                    "cd " + bench.Path("") + "; PATH=" + bin + ":$PATH; " + recipe(c.heading)})
                .Sim(c.board));
        EXPECT_EQ(run.status, 0) << c.heading << run.err;
        EXPECT_TRUE(Contains(run.out, c.shows)) << c.heading;
        for (std::size_t i = 0; i < c.nvm.size(); ++i) {
            EXPECT_EQ(run.Chip(i).nvm, c.nvm[i]) << c.heading << " chip #" << i + 1;
        }
    }
}

// Real time: a run killed (SIGKILL) at its first page write leaves the
// chip erased, at control code 0. --scan finds it there, a run at code 1
// (also with --no-verify) stops before its erase and gives the command
// that recovers it, and that command, run as given, does.
TEST_F(ChipsOnTheBus, RealTimeAChipLeftAtCode0ByAKilledRunIsFoundAndRecovered) {
    GPAKTEST_SKIP_WHEN_EMULATED();
    const std::string pid_file = bench.Path("gpakcfg.pid");
    Background run = bench.Start(
        Launch({"/bin/sh", "-c",
                "echo $$ > " + pid_file + "; exec " + kGpakcfg + " -t nvm -w " + kExample})
            .RealTime());
    // The two reads, 16 erase commands and the reset: the chip answers at
    // code 0 now. Every transfer waits while they are held: the first page
    // write too, which is where the run is killed.
    run.WaitForTransfers(19);
    Hold transfers = bench.HoldTransfers();
    bench.WaitForAWaitingTransfer();
    ASSERT_EQ(kill(std::stoi(ReadFile(pid_file)), SIGKILL), 0);
    transfers.Reset();  // it is dead before it could take the state file
    EXPECT_EQ(run.Wait().transfers.size(), 19u);

    const RunResult found = bench.Gpakcfg({"--scan"});
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(Scanned(found),
              std::string(kScanHead) + "0    0x00      0x02 0x03   0" + kCodeZero + "\n\n");
    const auto stranded = Chips();
    std::string command;
    for (const Strings& args : {Strings{"-t", "nvm", "-w", kExample},
                                Strings{"-t", "nvm", "-w", kExample, "--no-verify"}}) {
        const RunResult refused = bench.Gpakcfg(args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_FALSE(Contains(refused.out, "Erase chip configration."));
        const std::size_t from = refused.err.find("erased: gpakcfg ");
        ASSERT_NE(from, std::string::npos) << refused.err;
        command = refused.err.substr(from + 8, refused.err.find(" programs it") - from - 8);
        EXPECT_TRUE(SameMemories(Chips(), stranded));
    }
    EXPECT_EQ(command, "gpakcfg -t nvm -c 0 --new-code 1 -w " + kExample);
    Strings args;
    std::istringstream words(command.substr(command.find(' ') + 1));
    for (std::string word; words >> word;) {
        args.push_back(word);
    }
    const RunResult recovered = bench.Gpakcfg(args);
    EXPECT_EQ(recovered.status, 0) << recovered.err;
    EXPECT_EQ(recovered.Chip().nvm, FileImage(kExample, 1));
    EXPECT_EQ(Scanned(bench.Gpakcfg({"--scan"})),
              std::string(kScanHead) + "1    0x08      0x0A 0x0B   1\n\n");
}

}  // namespace
}  // namespace gpaktest
