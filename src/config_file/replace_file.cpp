#include "config_file/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "common/unique_fd.h"

namespace hexfile {

using common::UniqueFd;

namespace {

constexpr int kMaxSymlinks = 40;  // as the kernel allows in a path
constexpr int kMaxTempAttempts = 100;
constexpr std::size_t kMaxBaseName = 200;  // leaves room for the suffix

std::string Because(const std::string& what, int error_number) {
    return what + ": " + std::strerror(error_number);
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Target {
    std::string path;
    std::string error;
};

// The kernel does not follow a link in a sticky world-writable directory
// (/tmp) that belongs neither to the follower nor to the directory's owner
// (fs.protected_symlinks): another user may have left it there for a file
// of yours to be replaced. The links are followed here, not by the kernel,
// so the rule is kept here, whether the kernel enforces it or not. What is
// wrong with following the link at path, or "".
std::string Unfollowable(const std::string& path, const struct stat& link) {
    const std::string dir = DirectoryOf(path);
    struct stat parent {};
    if (stat(dir.c_str(), &parent) != 0) {
        return Because("cannot look at " + dir, errno);
    }
    const bool shared = (parent.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    if (!shared || link.st_uid == geteuid() || link.st_uid == parent.st_uid) {
        return "";
    }
    return Because("the symbolic link " + path + " belongs to another user (uid " +
                       std::to_string(link.st_uid) + ") in the sticky world-writable directory " +
                       dir + ", so it is not followed (fs.protected_symlinks)",
                   EACCES);
}

// The file that path names once its symbolic links are followed (it need
// not exist).
Target FollowLinks(std::string path) {
    std::vector<char> link(4096);
    for (int i = 0; i < kMaxSymlinks; ++i) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return {path, ""};
        }
        std::string refusal = Unfollowable(path, st);
        if (!refusal.empty()) {
            return {"", std::move(refusal)};
        }
        const ssize_t n = readlink(path.c_str(), link.data(), link.size());
        if (n < 0) {
            return {"", Because("cannot read the symbolic link " + path, errno)};
        }
        if (static_cast<std::size_t>(n) >= link.size()) {
            return {"", "the symbolic link " + path + " is too long"};
        }
        const std::string to(link.data(), static_cast<std::size_t>(n));
        if (to[0] == '/') {
            path = to;
        } else {
            std::string next = DirectoryOf(path);
            next += '/';
            next += to;
            path = std::move(next);
        }
    }
    return {"", "too many levels of symbolic links"};
}

// A file created for the new content, removed again unless it is kept.
class TempFile {
public:
    TempFile() = default;
    ~TempFile() {
        fd.Reset();
        if (!path.empty()) {
            unlink(path.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    TempFile(TempFile&&) = delete;
    TempFile& operator=(TempFile&&) = delete;

    // Creates a new file next to target, with mode 0666 less the umask.
    // False with errno set when no file could be created.
    bool Create(const std::string& target) {
        std::string base = BaseNameOf(target).substr(0, kMaxBaseName);
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0; attempt < kMaxTempAttempts; ++attempt) {
            char suffix[64];
            std::snprintf(suffix, sizeof suffix, ".%ld.%lx.%d", static_cast<long>(getpid()),
                          static_cast<unsigned long>(now), attempt);
            const std::string candidate = DirectoryOf(target) + "/." + base + suffix;
            fd = UniqueFd(open(candidate.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
            if (fd.IsOpen()) {
                path = candidate;
                return true;
            }
            if (errno != EEXIST) {
                return false;
            }
        }
        return false;
    }

    // The file now stands under its new name: it stays.
    void Keep() { path.clear(); }

    UniqueFd fd;
    std::string path;
};

bool WriteAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The rename lasts a power failure only once the directory is on the disk
// too. Some file systems cannot sync a directory; the file is whole anyway.
void SyncDirectory(const std::string& dir) {
    const UniqueFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.IsOpen()) {
        (void)fsync(fd.Get());
    }
}

// What ReplaceFile would replace, and the new file made next to it; error
// says what stands in the way.
struct Prepared {
    std::string target;  // path, its links followed
    bool exists = false;
    struct stat old {};
    std::string error;
};

Prepared Prepare(const std::string& path, TempFile& temp) {
    Prepared prepared;
    if (path.empty()) {
        prepared.error = "no file name";
        return prepared;
    }
    Target target = FollowLinks(path);
    if (!target.error.empty()) {
        prepared.error = target.error;
        return prepared;
    }
    prepared.target = std::move(target.path);
    prepared.exists = stat(prepared.target.c_str(), &prepared.old) == 0;
    if (prepared.exists && !S_ISREG(prepared.old.st_mode)) {
        prepared.error = prepared.target + " is not a regular file";
    } else if (prepared.exists && access(prepared.target.c_str(), W_OK) != 0) {
        // A rename would replace a file the user may not write: refuse, as
        // writing into it would be refused.
        prepared.error = Because("cannot write " + prepared.target, errno);
    } else if (!temp.Create(prepared.target)) {
        prepared.error =
            Because("cannot create a new file in " + DirectoryOf(prepared.target), errno);
    }
    return prepared;
}

}  // namespace

std::string ReplaceRefusal(const std::string& path) {
    // A file without a name where the file system makes one: no entry
    // shows in the directory, even for a moment.
    if (!path.empty()) {
        const Target target = FollowLinks(path);
        struct stat st {};
        if (target.error.empty() && stat(target.path.c_str(), &st) != 0 && errno == ENOENT) {
            const UniqueFd unnamed(
                open(DirectoryOf(target.path).c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600));
            if (unnamed.IsOpen()) {
                return "";
            }
        }
    }
    TempFile temp;  // made and removed again
    return Prepare(path, temp).error;
}

std::string ResolvedPath(const std::string& path) {
    const Target target = FollowLinks(path);
    if (!target.error.empty() || target.path.empty()) {
        return "";
    }
    char* dir = realpath(DirectoryOf(target.path).c_str(), nullptr);
    if (dir == nullptr) {
        return "";
    }
    std::string resolved = std::string(dir) + "/" + BaseNameOf(target.path);
    std::free(dir);
    return resolved;
}

ReplaceResult ReplaceFile(const std::string& path, const std::string& content) {
    TempFile temp;
    const Prepared prepared = Prepare(path, temp);
    if (!prepared.error.empty()) {
        return {false, prepared.error};
    }
    const std::string& target_path = prepared.target;
    const bool exists = prepared.exists;
    const struct stat& old = prepared.old;
    const std::string dir = DirectoryOf(target_path);
    if (exists) {
        // Only root may give a file away: for anyone else the file becomes
        // their own (EPERM), as when they copy it.
        if (fchown(temp.fd.Get(), old.st_uid, old.st_gid) != 0 && errno != EPERM) {
            return {false, Because("cannot keep the owner of " + target_path, errno)};
        }
        if (fchmod(temp.fd.Get(), old.st_mode & 0777) != 0) {
            return {false, Because("cannot keep the permissions of " + target_path, errno)};
        }
    }
    if (!WriteAll(temp.fd.Get(), content) || fsync(temp.fd.Get()) != 0) {
        return {false, Because("cannot write " + temp.path, errno)};
    }
    if (temp.fd.Reset() != 0) {
        return {false, Because("cannot write " + temp.path, errno)};
    }
    if (rename(temp.path.c_str(), target_path.c_str()) != 0) {
        return {false, Because("cannot rename " + temp.path + " to " + target_path, errno)};
    }
    temp.Keep();
    SyncDirectory(dir);
    return {true, ""};
}

}  // namespace hexfile
