// The libc overrides of a program that the simulator is preloaded into, or
// linked into (the tests): they route the program's calls on the node, and
// its sleeps in virtual time, to the simulator; everything else goes to
// libc untouched. Each is made from an entry of overrides.def and finds
// libc's own function with dlsym; what it does is in overrides.cpp.

// The symbols are defined by their plain names here; the 64-bit time and
// file offset variants of 32-bit systems are entries of their own.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#undef _TIME_BITS

#include <dlfcn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>
#include <ctime>

#include "interpose/overrides.h"

namespace {

// The next definition of name after this one: libc's.
template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

// The overrides are what the library exports.
#pragma GCC visibility push(default)
extern "C" {

// The parameter and return types are pasted in as they are written.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define GPAKSIM_OVERRIDE(where, name, shape, handler, ret, params, args)          \
    GPAKSIM_WHERE_##where(ret name params {                                       \
        GPAKSIM_TAKE_##shape static const auto real = Next<ret(*) params>(#name); \
        return gpaksim::interpose::handler(real, GPAKSIM_ARGUMENTS args);         \
    })
// NOLINTEND(bugprone-macro-parentheses)
#include "interpose/overrides.def"
#undef GPAKSIM_OVERRIDE

}  // extern "C"
#pragma GCC visibility pop
