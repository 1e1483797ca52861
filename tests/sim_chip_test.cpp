// The simulated chip keeps the rules of the real one: its addresses, its
// busy windows, flash that only gains bits until erased, whole pages only,
// the reset that reloads the registers, and the knobs that make it fail.
// Several chips on one bus share it as open-drain devices.
#include <gtest/gtest.h>

#include "node_client.h"

namespace {

using gpaktest::BusLines;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

class SimChip : public gpaktest::NodeTest {};

TEST_F(SimChip, OnlyTheChipsBlocksAnswer) {
    Strings acks;
    for (std::uint16_t addr = 0; addr < 0x80; ++addr) {
        if (Write(addr, {0x00}) == 1) {
            acks.push_back(std::to_string(addr));
        }
    }
    EXPECT_EQ(acks, (Strings{"8", "10", "11"}));
}

TEST_F(SimChip, FlashPagesMergeUntilErasedAndTheChipIsBusyMeanwhile) {
    Bytes page(17, 0x0F);
    page[0] = 0x20;
    ASSERT_EQ(Write(0x0B, page), 1);
    Sleep(9'999'999);
    EXPECT_EQ(Write(0x0A, {0x00}), -1);  // busy: every block NACKs
    Sleep(1);
    page.assign(17, 0xF0);
    page[0] = 0x20;
    ASSERT_EQ(Write(0x0B, page), 1);  // exactly at the end of the window
    Sleep(10'000'000);
    EXPECT_EQ(Read(0x0B, 0x20, 16), Bytes(16, 0xFF));

    ASSERT_EQ(Write(0x08, {0xE3, 0x92}), 1);  // erase EEPROM page 2
    EXPECT_EQ(Read(0x0B, 0x20, 16), Bytes{});
    Sleep(10'000'000);
    EXPECT_EQ(Read(0x0B, 0x20, 16), Bytes(16, 0x00));
}

// The NVM and the EEPROM take a write of exactly one page at a page
// boundary; any other is acknowledged and disregarded.
TEST_F(SimChip, FlashTakesWholePagesOnly) {
    const Bytes before(gpaksim::Chip().nvm.begin(), gpaksim::Chip().nvm.end());
    Bytes short_page(16, 0xFF);
    short_page[0] = 0x00;  // 15 bytes
    Bytes long_page(18, 0xFF);
    long_page[0] = 0x10;  // 17 bytes
    Bytes misaligned(17, 0xFF);
    misaligned[0] = 0x28;
    for (const Bytes& write : {short_page, long_page, misaligned, Bytes{0x30, 0xFF}}) {
        EXPECT_EQ(Write(0x0A, write), 1);
        Sleep(0);
        EXPECT_EQ(Write(0x0A, {0x00}), 1);  // and the chip is not busy after it
    }
    EXPECT_EQ(Bytes(gpaksim::Chip().nvm.begin(), gpaksim::Chip().nvm.end()), before);
    Bytes page(17, 0xFF);
    page[0] = 0xF0;
    ASSERT_EQ(Write(0x0A, page), 1);
    EXPECT_EQ(gpaksim::Chip().nvm[0xFF], 0xFF);
}

TEST_F(SimChip, ResetReloadsTheRegistersAndTheControlCodeFromNvm) {
    gpaksim::Chip().registers[0x40] = 0x99;
    ASSERT_EQ(Write(0x08, {0xE3, 0x8C}), 1);  // erase NVM page 0x0C, byte 0xCA with it
    Sleep(10'000'000);
    ASSERT_EQ(Write(0x08, {0xC8, 0x02}), 1);
    Sleep(999'999'999);
    EXPECT_EQ(Write(0x00, {0x00}), -1);
    Sleep(1);
    EXPECT_EQ(Write(0x08, {0x00}), -1);  // code 1 is gone
    EXPECT_EQ(Read(0x00, 0x40, 1), Bytes{gpaksim::Chip().nvm[0x40]});
    Bytes page(17, 0);
    page[0] = 0xC0;
    page[1 + 0x0A] = 0x07;
    ASSERT_EQ(Write(0x02, page), 1);
    Sleep(10'000'000);
    ASSERT_EQ(Write(0x00, {0xC8, 0x02}), 1);
    Sleep(1'000'000'000);
    EXPECT_EQ(Read(0x3A, 0xCA, 1), Bytes{0x07});
}

// Chips that answer one address each take every write; a read returns the
// AND of the bytes of those that acknowledge, and a busy chip lets go of
// the bus while the others answer.
TEST_F(SimChip, ChipsAtOneAddressTakeEveryWriteAndReadAsAWiredAnd) {
    options.chips = {{"", 1}, {"", 1}, {"", 2}};
    Restart();
    Reopen();
    gpaksim::Chip(1).registers[0x40] = 0xF0;
    gpaksim::Chip(2).registers[0x40] = 0x3C;
    EXPECT_EQ(Read(0x08, 0x40, 1), Bytes{0x30});
    ASSERT_EQ(Write(0x08, {0x50, 0xAA}), 1);
    EXPECT_EQ(gpaksim::Chip(1).registers[0x50], 0xAA);
    EXPECT_EQ(gpaksim::Chip(2).registers[0x50], 0xAA);
    EXPECT_EQ(gpaksim::Chip(3).registers[0x50], gpaksim::DefaultChip().registers[0x50]);
    EXPECT_EQ(Read(0x10, 0x40, 1), Bytes{gpaksim::DefaultChip().registers[0x40]});
    gpaksim::Chip(1).busy_until_ns = gpaksim::kPageBusyNs;
    EXPECT_EQ(Read(0x08, 0x40, 1), Bytes{0x3C});
    gpaksim::Chip(2).busy_until_ns = gpaksim::kPageBusyNs;
    EXPECT_EQ(Read(0x08, 0x40, 1), Bytes{});
    EXPECT_EQ(BusLines(), (Strings{
                              "0x08 W 40; 0x08 R 1 ACK by #1 #2",
                              "0x08 W 50 aa ACK by #1 #2",
                              "0x10 W 40; 0x10 R 1 ACK by #3",
                              "0x08 W 40; 0x08 R 1 ACK by #2",
                              "0x08 W 40 NACK",
                          }));
}

// A chip whose NVM byte 0xCA is erased answers at control code 0 after its
// reset, beside the chip already there: the NVM page written at 0x02 then
// reaches both, and at the reset each takes the code of its own NVM.
TEST_F(SimChip, EachChipTakesItsCodeFromItsNvmAtEachReset) {
    options.chips = {{"", 0}, {"", 1}};
    Restart();
    Reopen();
    ASSERT_EQ(Write(0x08, {0xE3, 0x8C}), 1);  // NVM page 0x0C of the chip at code 1
    Sleep(gpaksim::kPageBusyNs);
    ASSERT_EQ(Write(0x08, {0xC8, 0x02}), 1);
    Sleep(gpaksim::kResetBusyNs);
    EXPECT_EQ(Write(0x08, {0x00}), -1);
    EXPECT_EQ(Read(0x00, 0xCA, 1), Bytes{0x00});  // 0xC0 (code 0) AND 0x00 (erased)
    std::array<std::uint8_t, 256> image{};
    image[0xCA] = 0x05;
    Bytes page(image.begin() + 0xC0, image.begin() + 0xD0);
    page.insert(page.begin(), 0xC0);
    ASSERT_EQ(Write(0x02, page), 1);
    Sleep(gpaksim::kPageBusyNs);
    ASSERT_EQ(Write(0x00, {0xC8, 0x02}), 1);
    Sleep(gpaksim::kResetBusyNs);
    EXPECT_EQ(Write(0x00, {0x00}), -1);
    EXPECT_EQ(Read(0x28, 0xCA, 1), Bytes{0x05});  // 0xC5 AND 0x05: both at code 5
    EXPECT_EQ(gpaksim::Chip(1).nvm[0xCA], 0xC5);  // ORed into its unerased page
    EXPECT_EQ(gpaksim::Chip(2).nvm[0xCA], 0x05);
    const Strings lines = BusLines();
    EXPECT_EQ(lines.at(0), "0x08 W e3 8c ACK by #2");
    EXPECT_EQ(lines.at(4), gpaktest::PageWriteLine(0x02, image, 12) + " by #1 #2");
    EXPECT_EQ(lines.at(5), "0x00 W c8 02 ACK by #1 #2");
}

TEST_F(SimChip, RegisterReadsAndWritesWrapWithinTheMemory) {
    ASSERT_EQ(Write(0x08, {0xFF, 0x11, 0x22}), 1);
    EXPECT_EQ(Read(0x08, 0xFF, 2), (Bytes{0x11, 0x22}));
    EXPECT_EQ(gpaksim::Chip().registers[0x00], 0x22);
}

TEST_F(SimChip, NackKnobsAndUnacknowledgedCommands) {
    options.knobs.nacks = {{0x0A, 0x30}, {0x0B, -1}};
    options.knobs.unacked_commands = true;
    Restart();
    Reopen();
    EXPECT_EQ(Read(0x0A, 0x20, 1).size(), 1u);
    EXPECT_EQ(Read(0x0A, 0x30, 1).size(), 0u);
    EXPECT_EQ(Read(0x0B, 0x00, 1).size(), 0u);
    EXPECT_EQ(Write(0x08, {0xE3, 0x80}), -1);
    EXPECT_EQ(gpaksim::Chip().nvm[0x00], 0x00);  // erased all the same
}

}  // namespace
