// Replacing a file as a whole: it holds either what it held before or all
// of the new content, never a part of it.
#pragma once

#include <string>

namespace hexfile {

struct ReplaceResult {
    bool replaced = false;
    std::string error;  // what failed, and why
};

// Writes content to a new file in the directory of path, flushes it to the
// disk and only then renames it over path. A symbolic link is followed: the
// file it names is replaced and the link stays. A new file gets mode 0666
// less the umask, as any file the user creates; a file replaced keeps its
// permissions (and, where allowed, its owner and group). Refused without a
// change: a path that names something other than a regular file, a file
// the user may not write, and a symbolic link the kernel would not follow
// for the user (another user's link in a sticky world-writable directory).
ReplaceResult ReplaceFile(const std::string& path, const std::string& content);

}  // namespace hexfile
