// The signals that end a process by default and come from outside it: a
// terminal, a dropped connection, a supervisor, a timer, a lost reader, a
// limit; and the real-time signals. gpakcfg holds them while it programs a
// chip, and gpak-sim passes them on to its command. Those that report a
// fault of the process itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP,
// SIGSYS, SIGABRT) are not among them: a handler that returns would only
// meet the fault again.
#pragma once

#include <csignal>

namespace common {

struct NamedSignal {
    int number;
    const char* name;
};

#define COMMON_NAMED_SIGNAL(sig) \
    NamedSignal { sig, #sig }
inline constexpr NamedSignal kTerminatingSignals[] = {
    COMMON_NAMED_SIGNAL(SIGINT),    COMMON_NAMED_SIGNAL(SIGTERM),   COMMON_NAMED_SIGNAL(SIGHUP),
    COMMON_NAMED_SIGNAL(SIGQUIT),   COMMON_NAMED_SIGNAL(SIGPIPE),   COMMON_NAMED_SIGNAL(SIGALRM),
    COMMON_NAMED_SIGNAL(SIGUSR1),   COMMON_NAMED_SIGNAL(SIGUSR2),   COMMON_NAMED_SIGNAL(SIGXCPU),
    COMMON_NAMED_SIGNAL(SIGXFSZ),   COMMON_NAMED_SIGNAL(SIGVTALRM), COMMON_NAMED_SIGNAL(SIGPROF),
#ifdef SIGIO
    COMMON_NAMED_SIGNAL(SIGIO),  // also SIGPOLL on Linux
#endif
#ifdef SIGPWR
    COMMON_NAMED_SIGNAL(SIGPWR),
#endif
#ifdef SIGSTKFLT
    COMMON_NAMED_SIGNAL(SIGSTKFLT),
#endif
};
#undef COMMON_NAMED_SIGNAL

// Calls fn with each of them, the real-time signals last (from SIGRTMIN:
// the C library keeps the lowest for itself).
template <typename Fn>
void ForEachTerminatingSignal(Fn fn) {
    for (const NamedSignal& signal : kTerminatingSignals) {
        fn(signal.number);
    }
    for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) {
        fn(number);
    }
}

}  // namespace common
