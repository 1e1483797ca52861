// The simulator's own file access, by system call: it must never pass
// through the overrides it is linked with, and its descriptors never take
// 0, 1 or 2, which a program with a closed standard stream would otherwise
// see its output land in.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace gpaksim::raw {

// The lowest descriptor the simulator's own files may take.
constexpr int kFirstPrivateFd = 3;

// openat(AT_FDCWD, path, flags | O_CLOEXEC, mode), moved to a descriptor
// of 3 or more. -1 with errno set on failure.
int Open(const char* path, int flags, mode_t mode = 0);

// fd itself when it is 3 or more, else a close-on-exec duplicate of it
// at 3 or more, fd being closed. -1 with errno set on failure.
int AboveStandardStreams(int fd);

void Close(int fd);

// Writes all of text; false on the first failure (errno set).
bool WriteAll(int fd, std::string_view text);

// The whole file at fd from offset 0, up to limit bytes; false on a read
// error (errno set).
bool ReadWhole(int fd, std::string& text, std::size_t limit);

// -1 with errno set to error: how a system call fails, for the simulator's
// answers to a program's calls.
int Fail(int error);

// Keeps errno across a scope, for code that runs inside a program's call.
class SavedErrno {
public:
    SavedErrno();
    ~SavedErrno();
    SavedErrno(const SavedErrno&) = delete;
    SavedErrno& operator=(const SavedErrno&) = delete;

private:
    int saved_;
};

}  // namespace gpaksim::raw
