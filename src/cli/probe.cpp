// The one-byte reads before a programming run erases anything, and their
// words: a chip must answer at -c, no chip at control code 0 may share the
// NVM writes at 0x02 with it, and a --new-code must be free.
#include "chip/probe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/chips.h"
#include "cli/report.h"
#include "cli/run_log.h"
#include "i2c/i2c.h"

namespace cli {

namespace {

constexpr std::size_t kControlCodeByte = 0xCA;

// word as one word of a shell command line.
std::string ShellWord(const std::string& word) {
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                            "0123456789_./+,:=@%-") == std::string::npos;
    if (plain) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// "gpakcfg", with --bus when the run was given one, then rest.
std::string Command(const Settings& settings, const std::string& rest) {
    std::string command = "gpakcfg";
    if (settings.bus != kDefaultDevice) {
        command += " --bus " + ShellWord(settings.bus);
    }
    return command + " " + rest;
}

std::string Hex(std::uint8_t code) {
    char digit[4];
    std::snprintf(digit, sizeof digit, "%x", code);
    return digit;
}

const char* NothingSent(const Settings& settings) {
    return settings.type == kConfigReg ? "nothing was written" : "nothing was erased or written";
}

bool NotAcknowledged(const ProbeResult& probe) { return probe.transfer.NotAcknowledged(); }

// A probe that could not be made, or failed otherwise than by a NACK:
// whether a chip answers there is not known.
void SayNotProbed(const Settings& settings, const ProbeResult& probe) {
    std::fprintf(stderr, "gpakcfg: %s: one-byte read from 0x%02X before the erase %s: %s; %s\n",
                 DevicePath().c_str(), probe.addr, probe.transfer.Sent() ? "failed" : "not sent",
                 TransferCause(probe.transfer).c_str(), NothingSent(settings));
}

// Nothing answers at -c. When a chip answers at control code 0 (zero), as
// one with an erased NVM does (a run cut short, a power cut), the command
// that programs it and gives it the code asked for.
void SayNoChip(const Settings& settings, const ProbeResult& probe, bool zero) {
    std::fprintf(stderr,
                 "gpakcfg: %s: no chip answers at 0x%02X, control code %x (%s); %s; %s lists the "
                 "chips on the bus\n",
                 DevicePath().c_str(), probe.addr, settings.code,
                 std::strerror(probe.transfer.error_number), NothingSent(settings),
                 Command(settings, "--scan").c_str());
    if (!zero) {
        return;
    }
    const std::string code = Hex(WrittenCode(settings));
    const bool nvm = settings.type == kConfigNvm;
    const std::string command = Command(settings, "-t nvm -c 0 --new-code " + code + " -w ") +
                                (nvm ? ShellWord(*settings.write_file) : "NVM-FILE");
    std::fprintf(stderr,
                 "gpakcfg: %s: a chip answers at 0x00, control code 0, as one does whose NVM is "
                 "erased: %s programs %s and gives it control code %s\n",
                 DevicePath().c_str(), command.c_str(), nvm ? "it" : "its NVM", code.c_str());
}

// The NVM is written at 0x02, the NVM block of control code 0: a chip
// that answers there would take every page, and after the reset both
// chips would answer at one code.
void SayChipAtZero(const Settings& settings) {
    std::fprintf(stderr,
                 "gpakcfg: %s: a chip answers at 0x00, control code 0, too: it would take every "
                 "page written for the chip at control code %x (the NVM is written at 0x02, the "
                 "NVM block of control code 0); nothing was erased or written\n",
                 DevicePath().c_str(), settings.code);
    std::fprintf(stderr,
                 "gpakcfg: program or move the chip at control code 0 first (%s, N a code where "
                 "no chip answers: %s lists them), or take it off the bus\n",
                 Command(settings, "-t nvm -c 0 --new-code N -w FILE").c_str(),
                 Command(settings, "--scan").c_str());
}

void SayCodeTaken(const Settings& settings, const ProbeResult& probe) {
    std::fprintf(stderr,
                 "gpakcfg: %s: a chip answers at 0x%02X, control code %x, already: two chips "
                 "cannot share a code; nothing was erased or written; choose a --new-code where "
                 "no chip answers (%s lists them)\n",
                 DevicePath().c_str(), probe.addr, *settings.new_code,
                 Command(settings, "--scan").c_str());
}

// Whether another chip answers at code: "no" only when nothing
// acknowledged a read there; a read that could not be made is said.
enum class Other { kNone, kAnswers, kUnknown };

Other OtherChipAt(const Settings& settings, std::uint8_t code, ProbeResult& probe) {
    probe = ProbeChip(code);
    if (probe.Answered()) {
        return Other::kAnswers;
    }
    if (NotAcknowledged(probe)) {
        return Other::kNone;
    }
    SayNotProbed(settings, probe);
    return Other::kUnknown;
}

}  // namespace

std::uint8_t WrittenCode(const Settings& settings) {
    return settings.new_code.value_or(settings.code);
}

Settings AtWrittenCode(const Settings& settings) {
    Settings written = settings;
    written.code = WrittenCode(settings);
    return written;
}

void NoteFileCode(const Settings& settings, const ConfigImage& file) {
    const int asked = file[kControlCodeByte] & 0x0F;
    const int written = WrittenCode(settings);
    if (settings.type == kConfigEeprom || asked == written) {
        return;
    }
    std::printf(
        "Byte 0xCA of the file asks for control code %x; it is written with control code %x, "
        "that of %s. To keep the file's code, program the NVM with --new-code %x.\n",
        asked, written, settings.new_code ? "--new-code" : "-c", asked);
}

bool ChipReady(const Settings& settings) {
    if (WrittenCode(settings) != settings.code) {
        Record().new_code = WrittenCode(settings);
    }
    const ProbeResult chip = ProbeChip(settings.code);
    if (!chip.Answered()) {
        if (NotAcknowledged(chip)) {
            SayNoChip(settings, chip, settings.code != 0 && ProbeChip(0).Answered());
        } else {
            SayNotProbed(settings, chip);
        }
        return false;
    }
    if (settings.type != kConfigNvm) {
        return true;
    }
    ProbeResult other;
    if (settings.code != 0) {
        switch (OtherChipAt(settings, 0, other)) {
            case Other::kNone:
                break;
            case Other::kAnswers:
                SayChipAtZero(settings);
                return false;
            case Other::kUnknown:
                return false;
        }
    }
    // From here on, code 0 is -c or free.
    const std::uint8_t code = WrittenCode(settings);
    if (code == settings.code || code == 0) {
        return true;
    }
    switch (OtherChipAt(settings, code, other)) {
        case Other::kNone:
            return true;
        case Other::kAnswers:
            SayCodeTaken(settings, other);
            return false;
        case Other::kUnknown:
            return false;
    }
    return false;
}

}  // namespace cli
