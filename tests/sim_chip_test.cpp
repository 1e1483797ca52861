// The simulated chip keeps the rules of the real one: its addresses, its
// busy windows, flash that only gains bits until erased, whole pages only,
// the reset that reloads the registers, and the knobs that make it fail.
#include <gtest/gtest.h>

#include "node_client.h"

namespace {

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
