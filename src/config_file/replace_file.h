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

// Why ReplaceFile(path, ...) would be refused now, or "": the same checks,
// and a new file made (and removed again) in the directory it would go to.
std::string ReplaceRefusal(const std::string& path);

// The file path names, its symbolic links followed and its directory
// written without links, "." or ".." (the file itself need not exist): one
// name for a file however it is spelled. "" when its directory does not
// exist or a link cannot be followed.
std::string ResolvedPath(const std::string& path);

}  // namespace hexfile
