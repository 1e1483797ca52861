#include "model/state_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "model/state_text.h"
#include "raw/raw_io.h"

namespace gpaksim {

namespace {

using namespace state_text;

// Reads the items of a state file's text into a state: in version 1 they
// belong to the one chip; in version 2 each "chip N BUS" line starts the
// items of chip N.
class Reader {
public:
    Reader(std::string_view text, bool virtual_time, SimState& state)
        : words_(text), virtual_time_(virtual_time), state_(state) {}

    // False with error set when the text is malformed.
    bool Read(std::string& error);

private:
    bool Item(std::string_view word);
    bool ChipItem(std::string_view word);
    bool Clock(std::string_view word, std::int64_t& target);
    bool Version();
    bool NextChip();
    bool ChipComplete();
    ChipState* Current() { return version_ == kOneChipVersion ? &state_.chip : chip_; }

    Words words_;
    bool virtual_time_;
    SimState& state_;
    unsigned version_ = kOneChipVersion;
    std::size_t items_ = 0;
    ChipState* chip_ = nullptr;  // the chip of the items read now (version 2)
    unsigned sections_ = 0;      // a bit for each section the chip has
    std::string error_;          // when malformed in another way than a word
};

bool Reader::Read(std::string& error) {
    state_.chip.busy_until_ns = 0;
    for (std::string_view word = words_.Next(); !word.empty(); word = words_.Next()) {
        if (!Item(word)) {
            error = error_.empty() ? "malformed near '" + std::string(word) + "'" : error_;
            return false;
        }
        ++items_;
    }
    if (version_ == kChipsVersion && chip_ == nullptr) {
        error = "it needs a 'chip' line";
        return false;
    }
    if (!ChipComplete()) {
        error = error_;
        return false;
    }
    return true;
}

bool Reader::Item(std::string_view word) {
    if (word == "version") {
        return Version();
    }
    if (word == "chip") {
        return NextChip();
    }
    if (word == "clock") {
        return Clock(word, state_.virtual_now_ns);
    }
    return ChipItem(word);
}

// The busy window, the pointers and the memories of the current chip.
bool Reader::ChipItem(std::string_view word) {
    ChipState* chip = Current();
    if (chip == nullptr) {
        return false;  // before the first "chip" line
    }
    if (word == "busy-until") {
        return Clock(word, chip->busy_until_ns);
    }
    if (word == "pointers") {
        for (const Block block : kPointerBlocks) {
            unsigned long long pointer = 0;
            if (!words_.Hex(0xFF, pointer)) {
                return false;
            }
            chip->pointers[block] = static_cast<std::uint8_t>(pointer);
        }
        return true;
    }
    for (std::size_t i = 0; i < std::size(kSections); ++i) {
        if (word == kSections[i].name) {
            sections_ |= 1U << i;
            return ReadMemory(words_, (*chip).*(kSections[i].memory));
        }
    }
    return false;
}

// A time of the clock kind of this run into target; one of the other kind
// is dropped. Past kClockLimitNs it is refused, not left to overflow.
bool Reader::Clock(std::string_view word, std::int64_t& target) {
    bool same_clock = false;
    std::int64_t value = 0;
    if (!ReadClock(words_, virtual_time_, same_clock, value)) {
        return false;
    }
    if (value > kClockLimitNs) {
        error_ = "'" + std::string(word) + "' is " + std::to_string(value) +
                 " ns, out of range (0 to " + std::to_string(kClockLimitNs) + ")";
        return false;
    }
    target = same_clock ? value : target;
    return true;
}

// "version N": first in the file; a file without it is of version 1.
bool Reader::Version() {
    unsigned long long version = 0;
    if (items_ != 0 || !Words::Number(words_.Next(), 10, 999, version) || version == 0) {
        return false;
    }
    if (version > kChipsVersion) {
        error_ = "it is of version " + std::to_string(version) + ", newer than this gpak-sim reads";
        return false;
    }
    version_ = static_cast<unsigned>(version);
    return true;
}

// "chip N BUS": chip N (from 1, in order) on the node BUS.
bool Reader::NextChip() {
    const std::size_t count = chip_ == nullptr ? 0 : state_.ChipCount();
    unsigned long long number = 0;
    if (version_ != kChipsVersion || !ChipComplete() ||
        !Words::Number(words_.Next(), 10, kMaxChips, number) || number != count + 1) {
        return false;
    }
    const std::string_view bus = words_.Next();
    if (bus.empty() || bus[0] != '/') {
        return false;
    }
    if (count == 0) {
        chip_ = &state_.chip;
    } else {
        state_.more_chips.push_back(DefaultChip());
        chip_ = &state_.more_chips.back();
    }
    chip_->bus = std::string(bus);
    sections_ = 0;
    return true;
}

// Whether the chip read so far has its three memories.
bool Reader::ChipComplete() {
    if (Current() == nullptr || sections_ == (1U << std::size(kSections)) - 1) {
        return true;
    }
    error_ = "it needs registers, nvm and eeprom";
    if (version_ == kChipsVersion) {
        error_ += " for chip " + std::to_string(state_.ChipCount());
    }
    return false;
}

}  // namespace

ParsedState ParseState(std::string_view text, bool virtual_time) {
    ParsedState parsed;
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        parsed.ok = true;  // a fresh chip
        return parsed;
    }
    Reader reader(text, virtual_time, parsed.state);
    if (!reader.Read(parsed.error)) {
        return parsed;
    }
    if (!virtual_time) {
        parsed.state.virtual_now_ns = 0;
    }
    parsed.ok = true;
    return parsed;
}

ParsedState LoadStateFile(const std::string& path, bool virtual_time) {
    const int fd = raw::Open(path.c_str(), O_RDONLY);
    if (fd < 0 && errno == ENOENT) {
        return ParseState("", virtual_time);
    }
    std::string text;
    const bool read = fd >= 0 && raw::ReadWhole(fd, text, kStateFileLimit + 1);
    const int error = errno;
    raw::Close(fd);
    if (!read) {
        ParsedState failed;
        failed.error = std::string("cannot read it: ") + std::strerror(error);
        return failed;
    }
    if (text.size() > kStateFileLimit) {
        ParsedState failed;
        failed.error = "it is larger than a state file can be";
        return failed;
    }
    return ParseState(text, virtual_time);
}

}  // namespace gpaksim
