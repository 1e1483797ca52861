// The libc overrides bound at link time, for a program that a preload
// cannot reach (a static one): linked with -Wl,--wrap=open and so on, every
// call the program's own code makes to open lands in __wrap_open, and
// __real_open is libc's open. Each is made from an entry of overrides.def,
// as are the --wrap flags (CMakeLists.txt); what it does is in
// overrides.cpp.

// The symbols are named by their plain names here; the 64-bit time and
// file offset variants of 32-bit systems are entries of their own.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#undef _TIME_BITS

#include <sys/types.h>

#include <cstdarg>
#include <ctime>

#include "interpose/overrides.h"

extern "C" {

// The parameter and return types are pasted in as they are written.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define GPAKSIM_OVERRIDE(where, name, shape, handler, ret, params, args)                 \
    GPAKSIM_WHERE_##where(ret __real_##name params; ret __wrap_##name params {           \
        GPAKSIM_TAKE_##shape return gpaksim::interpose::handler(&__real_##name,          \
                                                                GPAKSIM_ARGUMENTS args); \
    })
// NOLINTEND(bugprone-macro-parentheses)
#include "interpose/overrides.def"
#undef GPAKSIM_OVERRIDE

}  // extern "C"
