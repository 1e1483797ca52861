#include "shared_chip.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "raw_io.h"

namespace gpaksim {

namespace {

// Open file description locks: held per descriptor, so that no other
// descriptor the program closes can drop them, and independent of the
// flock(2) locks that programs take on the node itself.
bool Lock(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
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
        return true;
    }
    fd_ = raw::Open(path_.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd_ < 0) {
        error = Failure("cannot open it");
        return false;
    }
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
    const bool same_length = text.size() == saved_text_.size();
    if (pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
        (!same_length && ftruncate(fd_, static_cast<off_t>(text.size())) != 0)) {
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

const std::string& SharedChip::NodeFile() const {
    static const std::string kNull = "/dev/null";
    return path_.empty() ? kNull : path_;
}

namespace {

// The lock of a chip that lives in this process: a file of this process
// alone, so that runs in other processes (tests in parallel, other
// simulated programs) never meet it. Each call opens it anew through
// /proc, so that two descriptors of one process still exclude each other.
int OpenPrivateLock() {
    static const int kFile = memfd_create("gpak-sim-lock", MFD_CLOEXEC);
    if (kFile < 0) {
        return -1;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(kFile);
    return raw::Open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

}  // namespace

int SharedChip::OpenForLock() const {
    return path_.empty() ? OpenPrivateLock() : raw::Open(path_.c_str(), O_RDONLY);
}

}  // namespace gpaksim
