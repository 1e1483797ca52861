#include "cli/log/record.h"

#include <cstdio>
#include <ctime>

#include "cli/interruption.h"
#include "cli/log/json.h"
#include "cli/log/log_file.h"
#include "cli/say.h"
#include "cli/status.h"
#include "common/version.h"

namespace cli::log {

namespace {

// "2026-12-08T09:15:02.047Z"
std::string UtcTime(std::chrono::system_clock::time_point when) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const auto seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

void AddImage(JsonObject& line, const char* key, const std::optional<ConfigImage>& image) {
    if (image) {
        line.String(key, Hex(image->data(), image->size()));
    } else {
        line.Null(key);
    }
}

std::string ByteSets(const std::vector<ByteSet>& sets) {
    std::string array = "[";
    for (const ByteSet& set : sets) {
        array += array.size() > 1 ? ", " : "";
        array += JsonObject()
                     .Number("addr", set.addr)
                     .String("bytes", Hex(set.bytes.data(), set.bytes.size()))
                     .Text();
    }
    return array + "]";
}

// The verify's result: whether read holds what was sent, how many bytes
// differ and the first of them; nulls when nothing was compared.
void AddVerify(JsonObject& line, const RunRecord& record) {
    if (!record.compared || !record.sent || !record.read) {
        line.Null("verified").Null("differing").Null("first_difference");
        return;
    }
    const ImageDifference difference = VerifyConfigData(*record.sent, *record.read);
    const auto first = static_cast<long long>(difference.first);
    line.Bool("verified", difference.Same())
        .Number("differing", difference.count)
        .NumberOrNull("first_difference", difference.Same() ? std::nullopt : std::optional(first));
}

// nullptr for none: a scan needs no -t.
const char* MemoryName(ConfigType type) {
    return type == kConfigReg      ? "reg"
           : type == kConfigNvm    ? "nvm"
           : type == kConfigEeprom ? "eeprom"
                                   : nullptr;
}

std::string FormatLine(const Settings& settings, const RunRecord& record, int status, int signal) {
    JsonObject line;
    line.String("time", UtcTime(record.started))
        .String("version", GPAKCFG_VERSION)
        .String("node", settings.bus)
        .Number("code", settings.code)
        .NumberOrNull("new_code", record.new_code)
        .StringOrNull("memory", MemoryName(settings.type))
        .String("action", record.action);
    const auto& file = settings.write_file ? settings.write_file : settings.verify_file;
    line.StringOrNull("file", file ? file->c_str() : nullptr)
        .Raw("set", ByteSets(settings.set_bytes));
    AddImage(line, "sent", record.sent);
    AddImage(line, "read", record.read);
    line.Bool("read_complete", record.read_complete).Bool("skipped", record.skipped);
    AddVerify(line, record);
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - record.clock;
    const std::string signal_name = SignalName(signal);
    line.Number("status", status)
        .Decimal("duration_ms", took.count())
        .StringOrNull("signal", signal != 0 ? signal_name.c_str() : nullptr);
    return line.Text() + "\n";
}

}  // namespace

RunRecord RunRecord::Start() {
    RunRecord record;
    record.started = std::chrono::system_clock::now();
    record.clock = std::chrono::steady_clock::now();
    return record;
}

void RunRecord::SetReadBack(const ConfigImage& bytes, bool complete) {
    read = bytes;
    read_complete = complete;
}

void RunRecord::SetSent(const ConfigImage& bytes, bool compared_with_read) {
    sent = bytes;
    compared = compared_with_read;
}

int LogRun(const Settings& settings, const RunRecord& record, int status, int signal) {
    if (!settings.log_file || record.action == nullptr) {
        return status;
    }
    // Standard output that could not be written fails the run: say so in the line too.
    if (status == kExitOk && (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)) {
        status = kExitFailed;
    }
    const std::string error =
        AppendLine(*settings.log_file, FormatLine(settings, record, status, signal));
    if (error.empty()) {
        return status;
    }
    Say("%s: not logged: %s", settings.log_file->c_str(), error.c_str());
    return status == kExitOk ? kExitFailed : status;
}

void LogIfInterrupted(const Settings& settings, const RunRecord& record, int status) {
    if (const int signal = CaughtSignal(); signal != 0) {
        LogRun(settings, record, status, signal);
    }
}

}  // namespace cli::log
