// --scan: the chips on a bus, found by one-byte reads, one line each in a
// layout a script can read.
#include <cstdio>
#include <string>

#include "chip/probe.h"
#include "cli/chips.h"
#include "cli/cli.h"
#include "cli/report.h"
#include "cli/run_log.h"
#include "i2c/i2c.h"

namespace cli {

namespace {

// "0x0A" when probe was answered, else "-".
std::string Address(const ProbeResult& probe) {
    if (!probe.Answered()) {
        return "-";
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", probe.addr);
    return text;
}

// One chip: its code as -c takes it, the addresses that answer, the code
// its NVM gives it at the next reset.
void PrintChip(const ChipFound& chip) {
    std::string next = "-";
    if (chip.nvm.Answered()) {
        char digit[4];
        std::snprintf(digit, sizeof digit, "%x", chip.CodeAtReset());
        next = digit;
    }
    std::printf("%-4x %-9s %-4s %-6s %s%s\n", chip.code, Address(chip.registers).c_str(),
                Address(chip.nvm).c_str(), Address(chip.eeprom).c_str(), next.c_str(),
                chip.code == 0 ? " (code 0: where a chip with an erased NVM answers)" : "");
}

// What --scan does not go with, in the order checked.
struct Excluded {
    bool (*given)(const Draft& draft);
    const char* option;
};

const Excluded kExcluded[] = {
    {[](const Draft& d) { return d.settings.type != kConfigUnset; }, "-t"},
    {[](const Draft& d) { return d.code_given; }, "-c"},
    {[](const Draft& d) { return d.settings.write_file.has_value(); }, "-w"},
    {[](const Draft& d) { return d.settings.verify_file.has_value(); }, "--verify"},
    {[](const Draft& d) { return !d.settings.verify; }, "--no-verify"},
    {[](const Draft& d) { return d.settings.save_file.has_value(); }, "--save"},
    {[](const Draft& d) { return d.settings.new_code.has_value(); }, "--new-code"},
};

}  // namespace

std::string ScanConflict(const Draft& draft) {
    if (draft.settings.action != Action::kScan) {
        return "";
    }
    for (const Excluded& excluded : kExcluded) {
        if (excluded.given(draft)) {
            return std::string("--scan: not with ") + excluded.option +
                   ": it reads every control code and memory, and writes nothing";
        }
    }
    return "";
}

int ScanRun(const Settings& settings) {
    Record().action = "scan";
    const i2c::BusLock bus = TakeBus(DevicePath());
    if (!bus.Ready()) {
        return kExitFailed;
    }
    const std::vector<ChipFound> chips = ScanChips();
    PrintHeading(("Chips on " + settings.bus + ".").c_str());
    std::printf("code registers nvm  eeprom next-code\n");
    for (const ChipFound& chip : chips) {
        PrintChip(chip);
    }
    std::printf("\n");
    if (chips.empty()) {
        std::fprintf(stderr, "gpakcfg: %s: no chip answers at any control code, 0 to f\n",
                     settings.bus.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace cli
