#include "cli/together.h"

#include <algorithm>
#include <utility>

#include "cli/outputs.h"
#include "i2c/i2c.h"

namespace cli {

namespace {

bool Scan(const Settings& s) noexcept { return s.action == Action::kScan; }

// A rule: broken(s) when s breaks it, refusal and tail what says so; or,
// without broken, words(s), which says so ("" when s keeps it).
struct Rule {
    bool (*broken)(const Settings& s);
    const char* refusal;
    const char* tail = "";
    std::string (*words)(const Settings& s) = nullptr;
    Stage stage = Stage::kCommandLine;
};

// --scan reads every memory at every code: no option that picks one or writes.
constexpr char kScan[] = ": it reads every control code and memory, and writes nothing";

std::string SetsOverlap(const Settings& s) {
    const std::vector<ByteSet>& sets = s.set_bytes;
    for (auto later = sets.begin(); later != sets.end(); ++later) {
        const auto overlapped = std::find_if(sets.begin(), later, [&later](const ByteSet& set) {
            return later->addr < set.End() && set.addr < later->End();
        });
        if (overlapped != later) {
            return "--set " + later->text + ": overlaps --set " + overlapped->text;
        }
    }
    return "";
}

// Byte 0xCA of the registers and the NVM: its low nibble is the control code.
std::string SetOnControlCode(const Settings& s) {
    if (s.type != kConfigReg && s.type != kConfigNvm) {
        return "";
    }
    for (const ByteSet& set : s.set_bytes) {
        if (const std::size_t at = chip::kFacts.control_code_byte;
            set.addr <= at && at < set.End()) {
            return "--set " + set.text + ": touches byte 0xCA, whose low nibble is the control " +
                   "code of the chip on " + (s.type == kConfigReg ? "reg" : "nvm") +
                   ": give the code with -c";
        }
    }
    return "";
}

// --list-buses lists what the machine has: no option about a chip or a run.
std::string ListBusesWith(const Settings& s) {
    if (s.action != Action::kListBuses) {
        return "";
    }
    const std::pair<const char*, bool> others[] = {
        {"-t", s.type != kConfigUnset},
        {"-c", s.code_given},
        {"-w", s.write_file.has_value()},
        {"--verify", s.verify_file.has_value()},
        {"--no-verify", !s.verify},
        {"--save", s.save_file.has_value()},
        {"--new-code", s.new_code.has_value()},
        {"--set", !s.set_bytes.empty()},
        {"--skip-identical", s.skip_identical},
        {"--log", s.log_file.has_value()},
        {"--force", s.force},
        {"--bus", !s.bus.empty() && s.bus != kDefaultDevice},
    };
    for (const auto& [option, given] : others) {
        if (given) {
            return std::string("--list-buses: not with ") + option +
                   ": it lists every bus, and reads no chip";
        }
    }
    return "";
}

// In the order they are checked: the first broken is the one said.
const Rule kRules[] = {
    {[](const Settings& s) { return s.write_file && s.verify_file; },
     "--verify: not with -w, whose run compares by itself"},
    {[](const Settings& s) { return s.verify_file && !s.verify; },
     "--no-verify: not with --verify"},
    {[](const Settings& s) { return s.verify_file && s.type == kConfigReg; },
     "--verify: the registers hold live bits, so they are never compared"},
    {[](const Settings& s) { return s.new_code && s.verify_file; },
     "--new-code: not with --verify, which writes nothing"},
    {[](const Settings& s) { return s.new_code && s.type != kConfigNvm && s.type != kConfigUnset; },
     "--new-code: only with -t nvm: the chip takes its code from byte 0xCA of its NVM"},
    {[](const Settings& s) { return s.new_code && s.type == kConfigNvm && !s.write_file; },
     "--new-code: only with -w FILE, which programs the NVM with the new code"},
    {[](const Settings& s) { return s.skip_identical && !s.write_file; },
     "--skip-identical: only with -w"},
    {[](const Settings& s) { return s.skip_identical && s.type == kConfigReg; },
     "--skip-identical: the registers hold live bits, so they are always written"},
    {[](const Settings& s) { return Scan(s) && s.type != kConfigUnset; }, "--scan: not with -t",
     kScan},
    {[](const Settings& s) { return Scan(s) && s.code_given; }, "--scan: not with -c", kScan},
    {[](const Settings& s) { return Scan(s) && s.write_file; }, "--scan: not with -w", kScan},
    {[](const Settings& s) { return Scan(s) && s.verify_file; }, "--scan: not with --verify",
     kScan},
    {[](const Settings& s) { return Scan(s) && !s.verify; }, "--scan: not with --no-verify", kScan},
    {[](const Settings& s) { return Scan(s) && s.save_file; }, "--scan: not with --save", kScan},
    {[](const Settings& s) { return Scan(s) && s.new_code; }, "--scan: not with --new-code", kScan},
    {[](const Settings& s) { return Scan(s) && s.force; }, "--scan: not with --force", kScan},
    {nullptr, nullptr, "", ListBusesWith},
    {[](const Settings& s) { return !s.set_bytes.empty() && !s.write_file && !s.verify_file; },
     "--set: only with -w or --verify, whose file it changes"},
    {nullptr, nullptr, "", SetsOverlap},
    {nullptr, nullptr, "", SetOnControlCode},
    // Every file the run writes, settled before anything is sent.
    {nullptr, nullptr, "", OutputRefusal, Stage::kFiles},
};

}  // namespace

std::string Refusal(Stage stage, const Settings& settings) {
    for (const Rule& rule : kRules) {
        if (rule.stage != stage) {
            continue;
        }
        if (rule.broken == nullptr) {
            if (std::string refusal = rule.words(settings); !refusal.empty()) {
                return refusal;
            }
        } else if (rule.broken(settings)) {
            return std::string(rule.refusal) + rule.tail;
        }
    }
    return "";
}

}  // namespace cli
