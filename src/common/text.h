// Text helpers that both the front end and the file reader use: a word
// quoted for the shell, and the length of a UTF-8 sequence.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

// word as one word of a POSIX shell command line: unchanged when it holds
// no character a shell treats specially, else in single quotes, with
// control characters as $'\ooo' (as ls shows such names); "./" before a
// word that starts with '-', which a program would take for an option.
std::string ShellWord(std::string_view word);

// The length of the valid UTF-8 sequence that starts at text[at] (1 to 4),
// or 0 when none does: no overlong forms, no surrogates, nothing past
// U+10FFFF.
std::size_t Utf8Length(std::string_view text, std::size_t at);

}  // namespace common
