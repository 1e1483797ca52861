// The one-byte reads before a programming run erases anything, and their
// words: a chip must answer at -c, no chip at control code 0 may share the
// NVM writes at 0x02 with it, and a --new-code must be free.
#include "cli/runs/chip_ready.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chip/probe.h"
#include "cli/runs/report.h"
#include "cli/say.h"
#include "common/text.h"
#include "i2c/i2c.h"

namespace cli::runs {

namespace {

// "gpakcfg", with --bus when the run was given one, then rest.
std::string Command(const Settings& settings, const std::string& rest) {
    std::string command = "gpakcfg";
    if (settings.bus != kDefaultDevice) {
        command += " --bus " + common::ShellWord(settings.bus);
    }
    return command + " " + rest;
}

// The command that programs the NVM of the chip at control code at with
// file, giving it control code code ("" to keep its own).
std::string NvmCommand(const Settings& settings, const std::string& at, const std::string& code,
                       const std::string& file) {
    std::string rest = "-t nvm -c ";
    rest += at;
    if (!code.empty()) {
        rest += " --new-code ";
        rest += code;
    }
    rest += " -w ";
    rest += file;
    return Command(settings, rest);
}

const char* NothingSent(const Settings& settings) {
    return settings.type == kConfigReg ? "nothing was written" : "nothing was erased or written";
}

bool NotAcknowledged(const ProbeResult& probe) { return probe.transfer.NotAcknowledged(); }

// A probe that could not be made, or failed otherwise than by a NACK:
// whether a chip answers there is not known.
void SayNotProbed(const Settings& settings, const ProbeResult& probe) {
    Say("%s: one-byte read from 0x%02X before the erase %s: %s; %s", settings.bus.c_str(),
        probe.addr, probe.transfer.Sent() ? "failed" : "not sent",
        TransferCause(probe.transfer).c_str(), NothingSent(settings));
}

// Nothing answers at -c: where to look, then where the chips are.
void SayNoChip(const Settings& settings, const ProbeResult& probe) {
    Say("%s: no chip answers at 0x%02X, control code %x (%s); %s; %s lists the chips on the bus",
        settings.bus.c_str(), probe.addr, settings.code, std::strerror(probe.transfer.error_number),
        NothingSent(settings), Command(settings, "--scan").c_str());
    SayWhereTheChipsAre(settings);
}

// The NVM is written at 0x02, the NVM block of control code 0: a chip
// that answers there would take every page, and after the reset both
// chips would answer at one code.
void SayChipAtZero(const Settings& settings, const ProbeResult& /*probe*/) {
    Say("%s: a chip answers at 0x00, control code 0, too: it would take every page written for "
        "the chip at control code %x (the NVM is written at 0x02, the NVM block of control code "
        "0); nothing was erased or written",
        settings.bus.c_str(), settings.code);
    Say("program or move the chip at control code 0 first (%s, N a code where no chip answers: "
        "%s lists them), or take it off the bus",
        Command(settings, "-t nvm -c 0 --new-code N -w FILE").c_str(),
        Command(settings, "--scan").c_str());
}

void SayCodeTaken(const Settings& settings, const ProbeResult& probe) {
    Say("%s: a chip answers at 0x%02X, control code %x, already: two chips cannot share a code; "
        "nothing was erased or written; choose a --new-code where no chip answers (%s lists them)",
        settings.bus.c_str(), probe.addr, *settings.new_code, Command(settings, "--scan").c_str());
}

// True when no other chip answers at code: nothing acknowledged a read
// there. Else says so (taken, when a chip answers), or that the read could
// not be made.
bool NoChipAt(const Settings& settings, std::uint8_t code,
              void (*taken)(const Settings&, const ProbeResult&)) {
    const ProbeResult probe = ProbeChip(code);
    if (probe.Answered()) {
        taken(settings, probe);
    } else if (!NotAcknowledged(probe)) {
        SayNotProbed(settings, probe);
    }
    return !probe.Answered() && NotAcknowledged(probe);
}

}  // namespace

std::uint8_t WrittenCode(const Settings& settings) {
    return settings.new_code.value_or(settings.code);
}

void NoteFileCode(const Context& run, const ConfigImage& file) {
    const Settings& settings = run.settings;
    const int asked = file[chip::kFacts.control_code_byte] & chip::kFacts.code_mask;
    const int written = WrittenCode(settings);
    if (settings.type == kConfigEeprom || asked == written) {
        return;
    }
    std::fprintf(
        run.out,
        "Byte 0xCA of the file asks for control code %x; it is written with control code %x, "
        "that of %s. To keep the file's code, program the NVM with --new-code %x.\n",
        asked, written, settings.new_code ? "--new-code" : "-c", asked);
}

// A chip at control code 0 is one whose NVM is erased (a run cut short, a
// power cut); one at the code this run gives is one a --new-code run cut
// short moved already; any other may be moved to it.
void SayWhereTheChipsAre(const Settings& settings) {
    const std::uint8_t wanted = WrittenCode(settings);
    const std::string code = HexDigit(wanted);
    const bool nvm = settings.type == kConfigNvm && settings.write_file;
    const std::string file = nvm ? common::ShellWord(*settings.write_file) : "NVM-FILE";
    const char* it = nvm ? "it" : "its NVM";
    const char* bus = settings.bus.c_str();
    const std::vector<ChipFound> chips = ScanChips();
    for (const ChipFound& chip : chips) {
        const std::string at = HexDigit(chip.code);
        const std::uint8_t addr = chip.registers.addr;
        const std::string reach = "-c " + at + " reaches it; ";
        if (chip.code == chip::kFacts.nvm_write_code) {
            Say("%s: a chip answers at 0x00, control code 0, as one does whose NVM is erased: %s "
                "programs %s and gives it control code %s",
                bus, NvmCommand(settings, "0", code, file).c_str(), it, code.c_str());
        } else if (chip.code == wanted && nvm) {
            Say("%s: a chip answers at 0x%02X, control code %s, the code this run gives it: %s "
                "programs it there",
                bus, addr, at.c_str(), NvmCommand(settings, at, "", file).c_str());
        } else if (chip.code != settings.code) {
            Say("%s: a chip answers at 0x%02X, control code %s: %s%s programs %s and moves it to "
                "control code %s",
                bus, addr, at.c_str(), nvm ? "" : reach.c_str(),
                NvmCommand(settings, at, code, file).c_str(), it, code.c_str());
        }
    }
    if (chips.empty()) {
        Say("%s: no chip answers at any control code", bus);
    }
}

void SayErasedAtZero(const Settings& settings, const PagesResult& written) {
    if (settings.type != kConfigNvm || written.Ok() || written.failed_page >= kPageCount) {
        return;
    }
    const std::string code = HexDigit(WrittenCode(settings));
    char held[48] = "no page of the file";
    if (written.failed_page > 0) {
        std::snprintf(held, sizeof held, "pages 0x00 to 0x%02X of the file",
                      written.failed_page - 1);
    }
    const std::string file = common::ShellWord(*settings.write_file);
    Say("%s: the chip is now erased at control code 0 (its NVM holds %s): %s programs it and "
        "gives it control code %s",
        settings.bus.c_str(), held, NvmCommand(settings, "0", code, file).c_str(), code.c_str());
}

bool ChipReady(const Context& run) {
    const Settings& settings = run.settings;
    if (WrittenCode(settings) != settings.code) {
        run.record.new_code = WrittenCode(settings);
    }
    // The NVM is written at one code, where a chip whose NVM is erased answers too.
    const std::uint8_t nvm = chip::kFacts.nvm_write_code;
    const ProbeResult probe = ProbeChip(settings.code);
    if (!probe.Answered()) {
        if (NotAcknowledged(probe)) {
            SayNoChip(settings, probe);
        } else {
            SayNotProbed(settings, probe);
        }
        return false;
    }
    if (settings.type != kConfigNvm) {
        return true;
    }
    // No other chip at the code the NVM is written at, nor at the code written.
    const std::uint8_t code = WrittenCode(settings);
    return (settings.code == nvm || NoChipAt(settings, nvm, SayChipAtZero)) &&
           (code == settings.code || code == nvm || NoChipAt(settings, code, SayCodeTaken));
}

}  // namespace cli::runs
