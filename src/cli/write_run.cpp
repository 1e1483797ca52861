// The write run: the file loaded and shown, the bus taken, erase and write
// in the window no signal cuts short, read-back, verify and --save.
#include <cstdio>
#include <cstring>

#include "cli/adapter.h"
#include "cli/chips.h"
#include "cli/cli.h"
#include "cli/interruption.h"
#include "cli/report.h"
#include "cli/run_log.h"
#include "cli/skip_identical.h"
#include "config_file/config_file.h"
#include "i2c/i2c.h"

namespace {

struct Programming {
    bool erased = true;  // false: an erase command could not be sent, and nothing was written
    bool written = false;
};

// The erase and write sections, in the window that no signal cuts short;
// sent becomes the image as the chip received it.
Programming Program(const cli::Settings& settings, ConfigImage& sent) {
    const cli::ProgrammingWindow window;
    Programming programming;
    if (settings.type != kConfigReg) {
        PrintHeading("Erase chip configration.");
        const PagesResult erased = EraseConfigData(settings.code, settings.type);
        std::printf("\n");
        programming.erased = cli::ReportErase(erased);
        if (!programming.erased) {
            return programming;
        }
    }
    PrintHeading("Write configration data.");
    const PagesResult written = WriteConfigData(cli::WrittenCode(settings), settings.type, sent);
    std::printf("\n");
    cli::ReportPageWrite(written);
    programming.written = written.Ok();
    return programming;
}

const char* Outcome(bool written, bool complete, bool verified, const cli::Settings& settings) {
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

}  // namespace

bool LoadConfigFile(const std::string& path, ConfigImage& image) {
    const ConfigFileResult file = ReadConfigFile(path, image);
    switch (file.status) {
        case ConfigFileStatus::kRead:
            return true;
        case ConfigFileStatus::kOpenFailed:
            std::fprintf(stderr, "Config file open error: %s\n", std::strerror(file.error_number));
            return false;
        case ConfigFileStatus::kReadFailed:
            std::fprintf(stderr, "Config file read error: %s\n", std::strerror(file.error_number));
            return false;
        case ConfigFileStatus::kRefused:
            std::fprintf(stderr, "gpakcfg: %s\n", file.refusal.c_str());
            return false;
    }
    return false;
}

int WriteRun(const cli::Settings& settings) {
    ConfigImage image{};
    // Nothing reaches the chip before the file is known to be usable: an
    // erase of the NVM costs a program cycle and the user's configuration.
    if (!LoadConfigFile(*settings.write_file, image)) {
        return kExitUsage;
    }
    cli::ApplyByteSets(settings.set_bytes, image);
    PrintHeading("Configration file.");
    DumpData(image);
    cli::NoteFileCode(settings, image);
    std::printf("\n");

    // Nor before the bus is known to be there, and this run's alone, nor
    // before the chip is known to answer where it is written, alone.
    cli::Record().action = "write";
    const i2c::BusLock bus = cli::TakeBus(DevicePath());
    if (!bus.Ready() || !cli::CanProgramThrough(DevicePath(), bus) ||
        !cli::AddressesFree(DevicePath(), bus, cli::ChipAddresses(settings, true),
                            settings.force) ||
        !cli::ChipReady(settings)) {
        return kExitFailed;
    }
    ConfigImage sent = image;
    // A chip given another code is never left as it is.
    const bool skipped = settings.skip_identical && cli::WrittenCode(settings) == settings.code &&
                         cli::HoldsAlready(settings, sent);
    const Programming programming = skipped ? Programming{true, true} : Program(settings, sent);
    if (!programming.erased) {
        // The run stops here: no read-back either, as without the bus.
        cli::LogIfInterrupted(settings, kExitFailed);
        cli::EndIfInterrupted("the erase stopped, and nothing was written", kExitFailed);
        return kExitFailed;
    }
    const bool written = programming.written;

    // A chip given a --new-code answers at it from the reset on.
    const cli::Settings programmed = cli::AtWrittenCode(settings);
    const bool complete = ReadBack(programmed, true, image);
    // The registers hold live bits: they are never compared.
    const bool compare = written && complete && settings.verify && settings.type != kConfigReg;
    const bool verified =
        compare && cli::ReportVerified(DeviceAddress(programmed.code, settings.type), sent, image);
    cli::RecordSent(sent, compare);
    int status = written && complete && (verified || !compare) ? kExitOk : kExitFailed;
    if (settings.save_file && SaveRun(settings, complete, image) != kExitOk) {
        status = kExitFailed;
    }
    cli::LogIfInterrupted(settings, status);
    cli::EndIfInterrupted(Outcome(written, complete, verified, settings), status);
    return status;
}
