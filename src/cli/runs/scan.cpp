#include "cli/runs/scan.h"

#include <string>

#include "chip/probe.h"
#include "cli/output.h"
#include "cli/runs/bus.h"
#include "cli/runs/report.h"
#include "cli/say.h"
#include "cli/status.h"

namespace cli::runs {

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
void PrintChip(std::FILE* out, const ChipFound& chip) {
    const std::string next = chip.nvm.Answered() ? HexDigit(chip.CodeAtReset()) : "-";
    std::fprintf(out, "%-4x %-9s %-4s %-6s %s%s\n", chip.code, Address(chip.registers).c_str(),
                 Address(chip.nvm).c_str(), Address(chip.eeprom).c_str(), next.c_str(),
                 chip.code == 0 ? " (code 0: where a chip with an erased NVM answers)" : "");
}

}  // namespace

int ScanRun(const Context& run) {
    const Settings& settings = run.settings;
    run.record.action = "scan";
    const i2c::BusLock bus = TakeBus(settings.bus);
    if (!bus.Ready()) {
        return kExitFailed;
    }
    const std::vector<ChipFound> chips = ScanChips();
    PrintHeading(("Chips on " + settings.bus + ".").c_str());
    std::fprintf(run.out, "code registers nvm  eeprom next-code\n");
    for (const ChipFound& chip : chips) {
        PrintChip(run.out, chip);
    }
    std::fprintf(run.out, "\n");
    if (chips.empty()) {
        Say("%s: no chip answers at any control code, 0 to f", settings.bus.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace cli::runs
