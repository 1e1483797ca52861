#include "model/state_format.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "model/state_text.h"

namespace gpaksim {

namespace {

using namespace state_text;

// Written after every transfer: into a buffer of at least the final size,
// without formatted output.
class Writer {
public:
    explicit Writer(std::size_t size) { text_.resize(size); }
    void Text(std::string_view text) {
        text.copy(&text_[at_], text.size());
        at_ += text.size();
    }
    void Char(char c) { text_[at_++] = c; }
    void Hex(std::uint8_t byte) {
        constexpr char kDigits[] = "0123456789abcdef";
        Char(kDigits[byte >> 4]);
        Char(kDigits[byte & 0x0F]);
    }
    // A field of width characters: name, blanks, then the number.
    void Field(std::string_view name, std::size_t width, std::int64_t value) {
        char digits[24];
        std::size_t n = 0;
        auto v = static_cast<std::uint64_t>(value < 0 ? 0 : value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        Text(name);
        for (std::size_t pad = name.size() + n; pad < width; ++pad) {
            Char(' ');
        }
        while (n > 0) {
            Char(digits[--n]);
        }
    }
    std::string Take() {
        text_.resize(at_);
        return std::move(text_);
    }

private:
    std::string text_;
    std::size_t at_ = 0;
};

// The lines of one chip: its busy window, its pointers, its memories.
void WriteChip(Writer& out, const ChipState& chip, std::string_view clock) {
    out.Text("busy-until ");
    out.Field(clock, 30, chip.busy_until_ns);
    out.Char('\n');
    out.Text("pointers");
    for (const Block block : kPointerBlocks) {
        out.Char(' ');
        out.Hex(chip.pointers[block]);
    }
    out.Char('\n');
    for (const Section& s : kSections) {
        out.Text(s.name);
        out.Char('\n');
        const Memory& memory = chip.*(s.memory);
        for (std::size_t row = 0; row < 16; ++row) {
            out.Hex(static_cast<std::uint8_t>(row * 16));
            out.Char(':');
            for (std::size_t col = 0; col < 16; ++col) {
                out.Char(' ');
                out.Hex(memory[row * 16 + col]);
            }
            out.Char('\n');
        }
    }
}

}  // namespace

std::string FormatState(const SimState& state, bool virtual_time) {
    // A chip on no bus in particular, alone, is written as today's files.
    const bool placed = !state.chip.bus.empty() || !state.more_chips.empty();
    const std::string_view header =
        placed ? "# gpak-sim state: chips of 256 bytes each of registers, NVM and EEPROM\n"
                 "version 2\n"
               : "# gpak-sim chip state: 256 bytes each of registers, NVM and EEPROM\n";
    // The clock line, and for each chip its "chip" line, its busy-until and
    // pointers lines, and three sections of a name line and 16 rows of 52
    // characters.
    constexpr std::size_t kChipBytes = 42 + 20 + std::size_t{3} * (16 + 16 * 52);
    std::size_t size = header.size() + 41 + state.ChipCount() * kChipBytes;
    for (std::size_t i = 0; placed && i < state.ChipCount(); ++i) {
        size += 16 + state.ChipAt(i).bus.size();
    }
    Writer out(size);
    out.Text(header);
    const std::string_view clock = virtual_time ? "virtual  " : "monotonic";
    out.Text("clock ");
    out.Field(clock, 30, virtual_time ? state.virtual_now_ns : 0);
    out.Char('\n');
    for (std::size_t i = 0; i < state.ChipCount(); ++i) {
        const ChipState& chip = state.ChipAt(i);
        if (placed) {
            out.Field("chip ", 0, static_cast<std::int64_t>(i + 1));
            out.Char(' ');
            out.Text(chip.bus);
            out.Char('\n');
        }
        WriteChip(out, chip, clock);
    }
    return out.Take();
}

}  // namespace gpaksim
