// The texts that scripts, benches and people's eyes have relied on since
// the first release, byte for byte, spelling included ("configration",
// "stoped" is the chip layer's): do not correct, reword or re-space them,
// or the transcripts that callers compare against stop matching. Every
// other message is a gpakcfg: line of say.h.
#pragma once

#include <cstdio>

namespace cli::texts {

constexpr char kBanner[] = "GreenPAK configuration utility\ngpakcfg %s\n\n";
constexpr char kSynopsis[] = "Usage: %s [-t TYPE] [-w FILE] [-c CODE] \n";
constexpr char kUsageType[] = "-t is config type, TYPE is {reg|nvm|eeprom}.";
constexpr char kUsageWrite[] = "-w is write operation, FILE is configration file path..";
constexpr char kUsageCode[] = "-c control code, CODE is {0..f}. Default is 1.";
constexpr char kRule[] = "---------------------------------------";
constexpr char kFileHeading[] = "Configration file.";
constexpr char kEraseHeading[] = "Erase chip configration.";
constexpr char kWriteHeading[] = "Write configration data.";
constexpr char kReadHeading[] = "Chip configration data.";
// On standard error, without a line feed.
constexpr char kTypeNotSpecified[] = "Type is not specified.";
// On standard error; %s is the errno's text.
constexpr char kDeviceOpenError[] = "Device open error: %s\n";
constexpr char kFileOpenError[] = "Config file open error: %s\n";
constexpr char kFileReadError[] = "Config file read error: %s\n";

// Prints one of the standard-error texts above, as it stands.
inline void SayText(const char* format, const char* cause = "") {
    std::fprintf(stderr, format, cause);
}

}  // namespace cli::texts
