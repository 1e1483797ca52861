// What the launcher, and the tests that start programs, need to know about
// a program file before running it: whether the simulator can be preloaded
// into it, and how to run it when this process is emulated.
#pragma once

#include <string>

namespace gpaksim {

enum class ProgramKind {
    kOther,         // not an ELF file, or unreadable: exec decides
    kDynamic,       // for reference's machine, started by the dynamic loader
    kStatic,        // for reference's machine, without the dynamic loader
    kOtherMachine,  // for another machine, word size or ARM float ABI
};

// What the program file path is, compared with the ELF file reference: the
// simulator library, which preloads into kDynamic programs only, or
// "/proc/self/exe", the program running this code (under qemu-user, the
// emulated one).
ProgramKind InspectProgram(const std::string& path, const std::string& reference);

// The file execvp would run for name: name itself when it has a slash, else
// the first executable file of that name in PATH; empty when there is none.
std::string FindProgram(const std::string& name);

}  // namespace gpaksim
