#include "cli/runs/write.h"

#include <cstring>

#include "cli/interruption.h"
#include "cli/output.h"
#include "cli/runs/adapter.h"
#include "cli/runs/bus.h"
#include "cli/runs/chip_ready.h"
#include "cli/runs/read.h"
#include "cli/runs/report.h"
#include "cli/say.h"
#include "cli/status.h"
#include "cli/texts.h"
#include "config_file/config_file.h"

namespace cli::runs {

namespace {

struct Programming {
    bool erased = true;  // false: an erase command could not be sent, and nothing was written
    bool written = false;
};

// The erase and write sections, in the window that no signal cuts short;
// sent becomes the image as the chip received it.
Programming Program(const Context& run, ConfigImage& sent) {
    const Settings& settings = run.settings;
    const ProgrammingWindow window;
    Programming programming;
    if (settings.type != kConfigReg) {
        PrintHeading(texts::kEraseHeading);
        const PagesResult erased = EraseConfigData(settings.code, settings.type);
        std::fprintf(run.out, "\n");
        programming.erased = ReportErase(settings.bus, erased);
        if (!programming.erased) {
            return programming;
        }
    }
    PrintHeading(texts::kWriteHeading);
    const PagesResult written = WriteConfigData(WrittenCode(settings), settings.type, sent);
    std::fprintf(run.out, "\n");
    ReportPageWrite(settings.bus, written);
    SayErasedAtZero(settings, written);
    programming.written = written.Ok();
    return programming;
}

const char* Outcome(bool written, bool complete, bool verified, const Settings& settings) {
    if (!written) {
        return "a page write failed, so the memory does not hold the file";
    }
    if (!complete) {
        return "the chip is programmed, but could not be read back";
    }
    if (settings.type == kConfigReg || !settings.verify) {
        return "the chip is programmed (not compared with the file)";
    }
    return verified ? "the chip is programmed and holds the file"
                    : "the chip is programmed, but does not hold the file";
}

// The file loaded and shown; false when it cannot be.
bool ShowFile(const Context& run, ConfigImage& image) {
    // Nothing reaches the chip before the file is known to be usable: an
    // erase of the NVM costs a program cycle and the user's configuration.
    if (!LoadConfigFile("-w", *run.settings.write_file, image)) {
        return false;
    }
    ApplyByteSets(run.settings.set_bytes, image);
    PrintHeading(texts::kFileHeading);
    DumpData(image);
    NoteFileCode(run, image);
    std::fprintf(run.out, "\n");
    return true;
}

// --skip-identical, which spares the NVM a program cycle on every re-run:
// makes sent what the write would send (byte 0xCA takes the control code)
// and reads the memory; true, said on the run's output, when it holds sent
// already. False when it differs or could not be read whole.
bool HoldsAlready(const Context& run, ConfigImage& sent) {
    const Settings& settings = run.settings;
    ApplyControlCode(settings.code, settings.type, sent);
    ConfigImage held{};
    const PagesResult read = ReadConfigData(settings.code, settings.type, held);
    if (!read.Ok() || held != sent) {
        return false;
    }
    std::fprintf(run.out,
                 "Skipped: the memory at 0x%02X already holds what would be written; nothing was "
                 "erased or written.\n\n",
                 read.addr);
    run.record.skipped = true;
    return true;
}

// After the programming: read-back, verify and --save. Returns the status.
int Finish(const Context& run, bool written, const ConfigImage& sent, ConfigImage& image) {
    const Settings& settings = run.settings;
    // A chip given a --new-code answers at it from the reset on.
    Settings programmed = settings;
    programmed.code = WrittenCode(settings);
    const bool complete = ReadBack(run, programmed, true, image);
    // The registers hold live bits: they are never compared.
    const bool compare = written && complete && settings.verify && settings.type != kConfigReg;
    const bool verified =
        compare && ReportVerified(DeviceAddress(programmed.code, settings.type), sent, image);
    run.record.SetSent(sent, compare);
    int status = written && complete && (verified || !compare) ? kExitOk : kExitFailed;
    if (settings.save_file && SaveRun(run, complete, image) != kExitOk) {
        status = kExitFailed;
    }
    log::LogIfInterrupted(settings, run.record, status);
    EndIfInterrupted(Outcome(written, complete, verified, settings), status);
    return status;
}

}  // namespace

bool LoadConfigFile(const char* option, const std::string& path, ConfigImage& image) {
    const ConfigFileResult file = ReadConfigFile(path, image);
    // The fixed error lines name neither the file nor its option: a line
    // of ours after them does.
    const auto say_which = [&option, &path](const char* could_not) {
        Say("%s: the file of %s could not be %s; nothing was sent to the chip",
            FileName(path).c_str(), option, could_not);
    };
    switch (file.status) {
        case ConfigFileStatus::kRead:
            return true;
        case ConfigFileStatus::kOpenFailed:
            texts::SayText(texts::kFileOpenError, std::strerror(file.error_number));
            say_which("opened");
            return false;
        case ConfigFileStatus::kReadFailed:
            texts::SayText(texts::kFileReadError, std::strerror(file.error_number));
            say_which("read");
            return false;
        case ConfigFileStatus::kRefused:
            Say("%s", file.refusal.c_str());
            return false;
    }
    return false;
}

int WriteRun(const Context& run) {
    const Settings& settings = run.settings;
    ConfigImage image{};
    if (!ShowFile(run, image)) {
        return kExitUsage;
    }
    // Nor before the bus is known to be there, and this run's alone, nor
    // before the chip is known to answer where it is written, alone.
    run.record.action = "write";
    const i2c::BusLock bus = TakeBus(settings.bus);
    if (!bus.Ready() || !CanProgramThrough(settings.bus, bus) ||
        !AddressesFree(settings.bus, bus, ChipAddresses(settings, true), settings.force) ||
        !ChipReady(run)) {
        return kExitFailed;
    }
    ConfigImage sent = image;
    // A chip given another code is never left as it is.
    const bool skipped = settings.skip_identical && WrittenCode(settings) == settings.code &&
                         HoldsAlready(run, sent);
    const Programming programming = skipped ? Programming{true, true} : Program(run, sent);
    if (!programming.erased) {
        // The run stops here: no read-back either, as without the bus.
        log::LogIfInterrupted(settings, run.record, kExitFailed);
        EndIfInterrupted("the erase stopped, and nothing was written", kExitFailed);
        return kExitFailed;
    }
    return Finish(run, programming.written, sent, image);
}

}  // namespace cli::runs
