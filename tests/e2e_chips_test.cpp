// Which chip a run reaches, with the built gpakcfg through gpak-sim: a run
// stops before its erase where no chip answers at -c, or where a chip at
// control code 0 would take the NVM pages too; --new-code moves a chip and
// says when the file asks for another code.
#include <gtest/gtest.h>

#include "chips_board.h"

namespace gpaktest {
namespace {

// Nothing answers at -c: the run says where, and how to find the chips,
// and sends nothing but one-byte reads. Each chip found at another code is
// now named with the command that programs it or moves it (only a chip at
// control code 0 was, before): one an interrupted --new-code left at its
// new code, too. A read that finds no chip says the same. Before, a write
// run erased nothing the chip heard, said "complete" 16 times and failed
// on its writes, or passed with --no-verify, pages ORed into a chip left
// at control code 0.
TEST_F(ChipsOnTheBus, NoChipAtTheCodeStopsTheRunAndNowEveryChipFoundIsNamed) {
    const std::string no_chip =
        "gpakcfg: /dev/i2c-1: no chip answers at 0x08, control code 1 (Remote I/O error); ";
    const std::string scan = "; gpakcfg --scan lists the chips on the bus\n";
    const std::string at2 = "gpakcfg: /dev/i2c-1: a chip answers at 0x10, control code 2";
    const std::string quoted = bench.Write("board's.hex", ReadFile(kExample));
    struct Case {
        Strings board;
        Strings args;
        std::string err;
        int status;
    };
    const Case cases[] = {
        {{"--chip", "2"},
         {"-t", "nvm", "-w", kExample},
         no_chip + "nothing was erased or written" + scan + at2 + ": gpakcfg -t nvm -c 2 " +
             "--new-code 1 -w " + kExample + " programs it and moves it to control code 1\n",
         1},
        {{"--chip", "2"},
         {"-t", "reg", "-w", kExample},
         no_chip + "nothing was written" + scan + at2 + ": -c 2 reaches it; gpakcfg -t nvm -c 2 " +
             "--new-code 1 -w NVM-FILE programs its NVM and moves it to control code 1\n",
         1},
        // Where a --new-code run killed in its last pages left the chip.
        {{"--chip", "2"},
         {"-t", "nvm", "--new-code", "2", "-w", kExample},
         no_chip + "nothing was erased or written" + scan + at2 +
             ", the code this run gives it: gpakcfg -t nvm -c 2 -w " + kExample +
             " programs it there\n",
         1},
        {{"--chip", "5"},
         {"-t", "eeprom"},
         "gpakcfg: /dev/i2c-1: page 0x00 read from 0x0B failed: the chip did not acknowledge "
         "(Remote I/O error); the table shows zeros from row 0x00\ngpakcfg: /dev/i2c-1: a chip "
         "answers at 0x28, control code 5: -c 5 reaches it; gpakcfg -t nvm -c 5 --new-code 1 -w "
         "NVM-FILE programs its NVM and moves it to control code 1\n",
         1},
        // The file's name as one word of the command (a ' in it quoted).
        {{"--chip", "0"},
         {"-t", "nvm", "-w", quoted, "--no-verify"},
         no_chip + "nothing was erased or written" + scan +
             "gpakcfg: /dev/i2c-1: a chip answers at 0x00, control code 0, as one does whose NVM "
             "is erased: gpakcfg -t nvm -c 0 --new-code 1 -w '" +
             bench.Path("board'\\''s.hex") + "' programs it and gives it control code 1\n",
         1},
        {{"--chip", "3:0"},
         {"-t", "eeprom", "-c", "5", "--bus", "3", "-w", kExample},
         "gpakcfg: /dev/i2c-3: no chip answers at 0x28, control code 5 (Remote I/O error); "
         "nothing was erased or written; gpakcfg --bus /dev/i2c-3 --scan lists the chips on the "
         "bus\ngpakcfg: /dev/i2c-3: a chip answers at 0x00, control code 0, as one does whose NVM "
         "is erased: gpakcfg --bus /dev/i2c-3 -t nvm -c 0 --new-code 5 -w NVM-FILE programs its "
         "NVM and gives it control code 5\n",
         1},
    };
    for (const Case& c : cases) {
        MakeBoard(c.board);
        const auto before = Chips();
        const RunResult run = bench.Gpakcfg(c.args, c.board);
        const std::string label = testing::PrintToString(c.args);
        EXPECT_EQ(run.status, c.status) << label;
        EXPECT_EQ(run.err, c.err) << label;
        EXPECT_FALSE(Contains(run.out, "Erase chip configration.")) << label;
        EXPECT_FALSE(Contains(run.out, "Write configration data.")) << label;
        // The read at -c, one at each code's register block, two at the chip found.
        EXPECT_EQ(run.transfers.size(), 1u + 16 + 2) << label;
        EXPECT_TRUE(c.args.size() == 2 || OneByteReadsOnly(run)) << label;
        EXPECT_TRUE(SameMemories(Chips(), before)) << label;
    }
}

// A board with chips at control codes 0 and 1. Programming the NVM of the
// chip at code 1 used to erase it, write both chips at 0x02, reset both
// to code 1, and verify through their wired-AND read-back: status 0, one
// chip destroyed. Now every run that would reach the chip at code 0 too,
// or give a chip a code another has, stops before its erase with the
// chips unchanged; moving the chip at code 0 away frees the board.
TEST_F(ChipsOnTheBus, TwoChipsAtCodes0And1NeverShareAWrite) {
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
TEST_F(ChipsOnTheBus, NewCodeMovesAChipAndTheFilesOwnCodeIsNoted) {
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
    EXPECT_TRUE(Contains(ReadFile(log),
                         "\"code\": 5, \"new_code\": 1, \"chips\": null, \"memory\": \"nvm\", "));
    // The chip holds the file at code 1: --skip-identical does not leave
    // it there when --new-code gives it another.
    const RunResult skipping =
        bench.Gpakcfg({"-t", "nvm", "-w", kExample, "--new-code", "4", "--skip-identical"});
    EXPECT_EQ(skipping.status, 0) << skipping.err;
    EXPECT_FALSE(Contains(skipping.out, "Skipped"));
    EXPECT_EQ(skipping.Chip().nvm, FileImage(kExample, 4));
}

}  // namespace
}  // namespace gpaktest
