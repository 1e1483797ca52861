// Which chip a run reaches, with the built gpakcfg through gpak-sim: a run
// stops before its erase where no chip answers at -c, or where a chip at
// control code 0 would take the NVM pages too; --new-code moves a chip;
// --scan lists the chips as i2cdetect sees them; a chip left at control
// code 0 by a killed run is found and recovered as the run says; the
// README's recipes work as written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <regex>
#include <set>
#include <sstream>

#include "config_file/save.h"
#include "sim_bench.h"

namespace gpaktest {
namespace {

constexpr char kScanHead[] =
    "Chips on /dev/i2c-1.\n---------------------------------------\n"
    "code registers nvm  eeprom next-code\n";
constexpr char kCodeZero[] = " (code 0: where a chip with an erased NVM answers)";

class ChipsOnTheBus : public BenchTest {
protected:
    // The chips of board put into the state file, as the launcher puts them.
    void MakeBoard(const Strings& board) {
        std::remove(bench.StatePath().c_str());
        ASSERT_EQ(bench.Run(Launch({"/bin/true"}).Sim(board)).status, 0);
    }
    // The memories of every chip of the board, as the state file holds them.
    std::vector<gpaksim::ChipState> Chips() const {
        const gpaksim::ParsedState parsed = bench.LoadState();
        EXPECT_TRUE(parsed.ok) << parsed.error;
        std::vector<gpaksim::ChipState> chips;
        for (std::size_t i = 0; i < parsed.state.ChipCount(); ++i) {
            chips.push_back(parsed.state.ChipAt(i));
        }
        return chips;
    }
    // The example with byte 0xCA asking for control code code.
    std::string FileAskingFor(int code) const {
        return bench.Write("code" + std::to_string(code) + ".hex",
                           hexfile::FormatConfigFile(FileImage(kExample, code)));
    }
    // The --scan section of a run's output, from its heading on.
    static std::string Scanned(const RunResult& run) {
        const std::size_t at = run.out.find("Chips on");
        return at == std::string::npos ? run.out : run.out.substr(at);
    }
};

testing::AssertionResult SameMemories(const std::vector<gpaksim::ChipState>& a,
                                      const std::vector<gpaksim::ChipState>& b) {
    if (a.size() != b.size()) {
        return testing::AssertionFailure() << a.size() << " chips, not " << b.size();
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].registers != b[i].registers || a[i].nvm != b[i].nvm ||
            a[i].eeprom != b[i].eeprom) {
            return testing::AssertionFailure() << "chip #" << i + 1 << " changed";
        }
    }
    return testing::AssertionSuccess();
}

// Whether run sent one-byte reads and nothing else: a register byte, then
// one byte read or no acknowledgement.
testing::AssertionResult OneByteReadsOnly(const RunResult& run) {
    const std::regex read(R"(0x[0-9A-F]{2} W [0-9a-f]{2}(; 0x[0-9A-F]{2} R 1 ACK.*| NACK))");
    for (const TraceLine& transfer : run.transfers) {
        if (!std::regex_match(transfer.text, read)) {
            return testing::AssertionFailure() << transfer.text;
        }
    }
    return testing::AssertionSuccess();
}

Strings Texts(const RunResult& run) {
    Strings texts;
    for (const TraceLine& transfer : run.transfers) {
        texts.push_back(transfer.text);
    }
    return texts;
}

// Nothing answers at -c: the run says where, and how to find the chips,
// and sends nothing but one-byte reads. A chip at control code 0 (as one
// whose NVM is erased) is named with the command that programs it. Before,
// the run erased nothing the chip heard, said "complete" 16 times and
// failed on its writes, or passed with --no-verify, pages ORed into a
// chip left at control code 0.
TEST_F(ChipsOnTheBus, NoChipAtTheCodeNowStopsTheRunBeforeItsErase) {
    const std::string no_chip =
        "gpakcfg: /dev/i2c-1: no chip answers at 0x08, control code 1 (Remote I/O error); ";
    const std::string scan = "; gpakcfg --scan lists the chips on the bus\n";
    struct Case {
        Strings board;
        Strings args;
        std::string err;
        Strings transfers;
    };
    const Case cases[] = {
        {{"--chip", "2"},
         {"-t", "nvm", "-w", kExample},
         no_chip + "nothing was erased or written" + scan,
         {"0x08 W 00 NACK", "0x00 W 00 NACK"}},
        {{"--chip", "2"},
         {"-t", "reg", "-w", kExample},
         no_chip + "nothing was written" + scan,
         {"0x08 W 00 NACK", "0x00 W 00 NACK"}},
        {{"--chip", "0"},
         {"-t", "nvm", "-w", kExample, "--no-verify"},
         no_chip + "nothing was erased or written" + scan +
             "gpakcfg: /dev/i2c-1: a chip answers at 0x00, control code 0, as one does whose NVM "
             "is erased: gpakcfg -t nvm -c 0 --new-code 1 -w " +
             kExample + " programs it and gives it control code 1\n",
         {"0x08 W 00 NACK", "0x00 W 00; 0x00 R 1 ACK"}},
        {{"--chip", "3:0"},
         {"-t", "eeprom", "-c", "5", "--bus", "3", "-w", kExample},
         "gpakcfg: /dev/i2c-3: no chip answers at 0x28, control code 5 (Remote I/O error); "
         "nothing was erased or written; gpakcfg --bus /dev/i2c-3 --scan lists the chips on the "
         "bus\ngpakcfg: /dev/i2c-3: a chip answers at 0x00, control code 0, as one does whose NVM "
         "is erased: gpakcfg --bus /dev/i2c-3 -t nvm -c 0 --new-code 5 -w NVM-FILE programs its "
         "NVM and gives it control code 5\n",
         {"0x28 W 00 NACK", "0x00 W 00; 0x00 R 1 ACK"}},
    };
    for (const Case& c : cases) {
        MakeBoard(c.board);
        const auto before = Chips();
        const RunResult run = bench.Gpakcfg(c.args, c.board);
        const std::string label = testing::PrintToString(c.args);
        EXPECT_EQ(run.status, 1) << label;
        EXPECT_EQ(run.err, c.err) << label;
        EXPECT_FALSE(Contains(run.out, "Erase chip configration.")) << label;
        EXPECT_FALSE(Contains(run.out, "Write configration data.")) << label;
        EXPECT_EQ(Texts(run), c.transfers) << label;
        EXPECT_TRUE(SameMemories(Chips(), before)) << label;
    }
}

// A board with chips at control codes 0 and 1. Programming the NVM of the
// chip at code 1 used to erase it, write both chips at 0x02, reset both
// to code 1, and verify through their wired-AND read-back: status 0, one
// chip destroyed. Now every run that would reach the chip at code 0 too,
// or give a chip a code another has, stops before its erase with the
// chips unchanged; moving the chip at code 0 away frees the board.
TEST_F(ChipsOnTheBus, TwoChipsAtCodes0And1NowNeverShareAWrite) {
    const Strings board = {"--chip", "0", "--chip", "1"};
    MakeBoard(board);
    const auto before = Chips();
    const std::string at_zero =
        "gpakcfg: /dev/i2c-1: a chip answers at 0x00, control code 0, too: it would take every "
        "page written for the chip at control code 1 (the NVM is written at 0x02, the NVM block "
        "of control code 0); nothing was erased or written\ngpakcfg: program or move the chip at "
        "control code 0 first (gpakcfg -t nvm -c 0 --new-code N -w FILE, N a code where no chip "
        "answers: gpakcfg --scan lists them), or take it off the bus\n";
    struct Case {
        Strings args;
        std::string err;
    };
    const Case refused[] = {
        {{"-t", "nvm", "-w", kExample}, at_zero},
        {{"-t", "nvm", "-w", kExample, "--no-verify"}, at_zero},
        {{"-t", "nvm", "-c", "1", "--new-code", "3", "-w", kExample}, at_zero},
        {{"-t", "nvm", "-c", "0", "--new-code", "1", "-w", kExample},
         "gpakcfg: /dev/i2c-1: a chip answers at 0x08, control code 1, already: two chips cannot "
         "share a code; nothing was erased or written; choose a --new-code where no chip answers "
         "(gpakcfg --scan lists them)\n"},
    };
    for (const Case& c : refused) {
        const RunResult run = bench.Gpakcfg(c.args, board);
        const std::string label = testing::PrintToString(c.args);
        EXPECT_EQ(run.status, 1) << label;
        EXPECT_EQ(run.err, c.err) << label;
        EXPECT_TRUE(OneByteReadsOnly(run)) << label;
        EXPECT_TRUE(SameMemories(Chips(), before)) << label;
    }

    // The chip at code 0 moved to code 2: erased and reset at 0x00, written
    // at 0x02, read back at 0x12; the chip at code 1 heard none of it.
    const RunResult moved =
        bench.Gpakcfg({"-t", "nvm", "-c", "0", "--new-code", "2", "-w", FileAskingFor(2)}, board);
    EXPECT_EQ(moved.status, 0) << moved.err;
    EXPECT_EQ(moved.err, "");
    ASSERT_EQ(moved.transfers.size(), 2u + 16 + 1 + 16 + 1 + 16);
    EXPECT_EQ(moved.transfers[0].text, "0x00 W 00; 0x00 R 1 ACK by #1");
    EXPECT_EQ(moved.transfers[1].text, "0x10 W 00 NACK");
    EXPECT_EQ(moved.transfers.back().text, "0x12 W f0; 0x12 R 16 ACK by #1");
    EXPECT_EQ(moved.Chip(0).nvm, FileImage(kExample, 2));
    EXPECT_EQ(moved.Chip(1).nvm, before[1].nvm);
    EXPECT_EQ(moved.Chip(1).registers, before[1].registers);

    // Now the chip at code 1 is programmed, and verified on its own.
    const RunResult second = bench.Gpakcfg({"-t", "nvm", "-w", FileAskingFor(1)}, board);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.Chip(0).nvm, FileImage(kExample, 2));
    EXPECT_EQ(second.Chip(1).nvm, FileImage(kExample, 1));
    EXPECT_EQ(Scanned(bench.Gpakcfg({"--scan"}, board)), std::string(kScanHead) +
                                                             "1    0x08      0x0A 0x0B   1\n" +
                                                             "2    0x10      0x12 0x13   2\n\n");
}

// --new-code writes its code into byte 0xCA and reads the chip back there;
// a file whose byte 0xCA asks for another code than the one written says
// so on standard output (the NVM and the registers, whose byte 0xCA the
// run replaces), where it used to be replaced in silence.
TEST_F(ChipsOnTheBus, NewCodeMovesAChipAndTheFilesOwnCodeIsNowNoted) {
    const std::string asks5 = FileAskingFor(5);
    const std::string note5 = "Byte 0xCA of the file asks for control code 5; it is written with ";
    const std::string keep5 = ". To keep the file's code, program the NVM with --new-code 5.\n\n";
    struct Case {
        Strings args;
        std::string note;  // "": none
        std::string last_read;
    };
    const Case cases[] = {
        {{"-t", "nvm", "-w", asks5, "--new-code", "3"},
         note5 + "control code 3, that of --new-code" + keep5,
         "0x1A W f0; 0x1A R 16 ACK"},
        {{"-t", "nvm", "-c", "3", "-w", FileAskingFor(3)}, "", "0x1A W f0; 0x1A R 16 ACK"},
        {{"-t", "eeprom", "-c", "3", "-w", asks5}, "", "0x1B W f0; 0x1B R 16 ACK"},
        {{"-t", "reg", "-c", "3", "-w", asks5},
         note5 + "control code 3, that of -c" + keep5,
         "0x18 W f0; 0x18 R 16 ACK"},
        {{"-t", "nvm", "-c", "3", "-w", asks5, "--new-code", "5"}, "", "0x2A W f0; 0x2A R 16 ACK"},
    };
    for (const Case& c : cases) {
        const RunResult run = bench.Gpakcfg(c.args);
        const std::string label = testing::PrintToString(c.args);
        EXPECT_EQ(run.status, 0) << label << run.err;
        EXPECT_EQ(run.err, "") << label;
        // The note is the file section's last line.
        const std::size_t file_end = run.out.find("\n\n", run.out.find("0x0F | ")) + 2;
        const std::size_t note = run.out.find("Byte 0xCA");
        EXPECT_EQ(note == std::string::npos ? "" : run.out.substr(note, file_end - note), c.note)
            << label;
        ASSERT_FALSE(run.transfers.empty());
        EXPECT_EQ(run.transfers.back().text, c.last_read) << label;
    }
    EXPECT_EQ(bench.Chip().nvm, FileImage(kExample, 5));
    EXPECT_EQ(Scanned(bench.Gpakcfg({"--scan"})),
              std::string(kScanHead) + "5    0x28      0x2A 0x2B   5\n\n");
    // The log names the code given beside that of -c.
    const std::string log = bench.Path("moves.log");
    EXPECT_EQ(
        bench.Gpakcfg({"-t", "nvm", "-c", "5", "--new-code", "1", "-w", kExample, "--log", log})
            .status,
        0);
    EXPECT_TRUE(Contains(ReadFile(log), "\"code\": 5, \"new_code\": 1, \"memory\": \"nvm\", "));
}

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
    const bool have_i2cdetect = access("/usr/sbin/i2cdetect", X_OK) == 0;
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
