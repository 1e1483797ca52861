#include "bus/shared_chip.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "model/state_format.h"
#include "raw/raw_io.h"

namespace gpaksim {

namespace {

// Open file description locks on single bytes of the state file: held per
// descriptor, so that no other descriptor the program closes can drop them.
// Byte 0 is locked for each change of the state; the locks that programs
// take on the nodes with flock(2) are bytes far beyond the file's end, one
// for each node.
struct flock ByteLock(short type, off_t offset) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    return lock;
}

constexpr std::uint64_t kFnvBasis = 14695981039346656037ULL;

// FNV-1a, for the byte of a node.
std::uint64_t Mix(std::uint64_t hash, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * 1099511628211ULL;
    }
    return hash;
}

// The byte of a node of the state with key: from 1 GiB on, within a 32-bit
// off_t. Two nodes that happen to share one only wait for each other.
off_t NodeByte(std::uint64_t key, const std::string& node) {
    const std::uint64_t hash = Mix(key, node.data(), node.size());
    return static_cast<off_t>(0x40000000U | ((hash ^ (hash >> 32)) & 0x3FFFFFFFU));
}

// flock(2) on the state file, where there is one.
int FlockFile(int fd, int operation) {
    return fd < 0 ? 0 : static_cast<int>(syscall(SYS_flock, fd, operation));
}

bool Lock(int fd, short type) {
    struct flock lock = ByteLock(type, 0);
    while (fcntl(fd, type == F_UNLCK ? F_OFD_SETLK : F_OFD_SETLKW, &lock) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

std::string Failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

SharedChip::~SharedChip() { Detach(); }

void SharedChip::Detach() {
    raw::Close(fd_);
    fd_ = -1;
}

bool SharedChip::Attach(const std::string& path, bool virtual_time, std::string& error) {
    Detach();
    path_ = path;
    virtual_time_ = virtual_time;
    state_ = SimState{};
    saved_text_.clear();
    if (path_.empty()) {
        lock_key_ = kFnvBasis;  // its nodes lock on a file of this process
        return true;
    }
    fd_ = raw::Open(path_.c_str(), O_RDWR | O_CREAT, 0644);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        error = Failure("cannot open it");
        return false;
    }
    lock_key_ = Mix(Mix(kFnvBasis, &st.st_dev, sizeof st.st_dev), &st.st_ino, sizeof st.st_ino);
    // A new file is a fresh chip; write it, so that it reads as one.
    return Update([](SimState&) {}, error);
}

bool SharedChip::Load(std::string& error) {
    std::string text;
    if (!raw::ReadWhole(fd_, text, kStateFileLimit + 1)) {
        error = Failure("cannot read it");
        return false;
    }
    if (text.size() > kStateFileLimit) {
        error = "it is larger than a state file can be";
        return false;
    }
    if (text == saved_text_ && !text.empty()) {
        return true;  // unchanged since this process last saw it
    }
    ParsedState parsed = ParseState(text, virtual_time_);
    if (!parsed.ok) {
        error = parsed.error;
        return false;
    }
    state_ = parsed.state;
    saved_text_ = std::move(text);
    return true;
}

bool SharedChip::Save(std::string& error) {
    std::string text = FormatState(state_, virtual_time_);
    if (text == saved_text_) {
        return true;
    }
    // Rewritten in place: the file keeps its inode, on which the programs'
    // own locks of the node are taken.
    // A file that grows is first given its new length, so that a size
    // limit (ulimit -f) refuses the change before a byte of it is written.
    const auto length = static_cast<off_t>(text.size());
    const bool grows = text.size() > saved_text_.size();
    if (grows && ftruncate(fd_, length) != 0) {
        error = Failure("cannot write it");
        return false;
    }
    const ssize_t written = pwrite(fd_, text.data(), text.size(), 0);
    if (written != static_cast<ssize_t>(text.size()) ||
        (!grows && text.size() != saved_text_.size() && ftruncate(fd_, length) != 0)) {
        if (written >= 0) {
            errno = EIO;  // a short write sets none
        }
        error = Failure("cannot write it");
        saved_text_.clear();
        return false;
    }
    saved_text_ = std::move(text);
    return true;
}

bool SharedChip::Update(const std::function<void(SimState&)>& change, std::string& error) {
    if (path_.empty()) {
        change(state_);
        return true;
    }
    if (fd_ < 0) {
        error = "it is not open";
        return false;
    }
    if (!Lock(fd_, F_WRLCK)) {
        error = Failure("cannot lock it");
        return false;
    }
    const bool ok = Load(error) && (change(state_), Save(error));
    Lock(fd_, F_UNLCK);
    return ok;
}

namespace {

// Where the nodes of chips that live in this process lock: a file of this
// process alone, so that runs in other processes (tests in parallel, other
// simulated programs) never meet it. Each call opens it anew through
// /proc, so that two descriptors of one process still exclude each other.
int OpenPrivateLock() {
    static const int kFile = memfd_create("gpak-sim-lock", MFD_CLOEXEC);
    if (kFile < 0) {
        return -1;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(kFile);
    return raw::Open(path.c_str(), O_RDWR | O_CLOEXEC);
}

}  // namespace

void SharedChip::CloseLock(NodeLock& lock) {
    raw::Close(lock.state_fd);
    raw::Close(lock.byte_fd);
    lock = NodeLock{};
}

int SharedChip::LockNode(NodeLock& lock, const std::string& node, int operation) const {
    short type = F_UNLCK;
    switch (operation & ~LOCK_NB) {
        case LOCK_SH:
            type = F_RDLCK;
            break;
        case LOCK_EX:
            type = F_WRLCK;
            break;
        case LOCK_UN:
            break;
        default:
            errno = EINVAL;
            return -1;
    }
    // The chips of this process alone have no file to hold.
    if (lock.byte_fd < 0) {
        lock.state_fd = path_.empty() ? -1 : raw::Open(path_.c_str(), O_RDONLY);
        lock.byte_fd = path_.empty()        ? OpenPrivateLock()
                       : lock.state_fd >= 0 ? raw::Open("/dev/null", O_RDWR)
                                            : -1;
        if (lock.byte_fd < 0) {
            CloseLock(lock);
            return -1;
        }
    }
    struct flock byte = ByteLock(type, NodeByte(lock_key_, node));
    const bool wait = (operation & LOCK_NB) == 0;
    if (type != F_UNLCK && FlockFile(lock.state_fd, LOCK_SH | (wait ? 0 : LOCK_NB)) == 0 &&
        fcntl(lock.byte_fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &byte) == 0) {
        return 0;
    }
    // Unlocked, or not locked: neither is held now, as flock(2) drops a
    // lock it fails to convert.
    const int error = errno == EACCES ? EWOULDBLOCK : errno;
    byte.l_type = F_UNLCK;
    fcntl(lock.byte_fd, F_OFD_SETLK, &byte);
    FlockFile(lock.state_fd, LOCK_UN);
    if (type == F_UNLCK) {
        return 0;
    }
    errno = error;
    return -1;
}

}  // namespace gpaksim
