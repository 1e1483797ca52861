#include "cli/say.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace cli {

namespace {

// The line in one write, so that it never mixes with another process's.
void SayLine(const char* format, std::va_list args, const char* cause) {
    std::va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    std::string line(size > 0 ? static_cast<std::size_t>(size) + 1 : 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, args);
    line.pop_back();
    std::fprintf(stderr, "gpakcfg: %s%s%s\n", line.c_str(), cause != nullptr ? ": " : "",
                 cause != nullptr ? cause : "");
}

}  // namespace

// printf-style, as warnx(3), so that the compiler checks every format
// against its arguments.
// NOLINTNEXTLINE(cert-dcl50-cpp)
void Say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    SayLine(format, args, nullptr);
    va_end(args);
}

// NOLINTNEXTLINE(cert-dcl50-cpp)
void SayErrno(int error, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    SayLine(format, args, std::strerror(error));
    va_end(args);
}

}  // namespace cli
