#include "bus/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "raw/raw_io.h"

namespace gpaksim {

namespace {

// The character devices a trace may go to: /dev/null, /dev/tty and
// whatever standard input, output or error of this process is (its
// terminal), but never anything else.
bool AllowedDevice(const struct stat& st) {
    if (!S_ISCHR(st.st_mode)) {
        return false;
    }
    if (st.st_rdev == makedev(1, 3) || st.st_rdev == makedev(5, 0)) {
        return true;
    }
    for (int fd = 0; fd <= 2; ++fd) {
        struct stat own {};
        if (fstat(fd, &own) == 0 && S_ISCHR(own.st_mode) && own.st_rdev == st.st_rdev &&
            isatty(fd) != 0) {
            return true;
        }
    }
    return false;
}

std::string Refusal(const struct stat& st) {
    if (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || AllowedDevice(st)) {
        return "";
    }
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        return "it is a device node";
    }
    if (S_ISDIR(st.st_mode)) {
        return "it is a directory";
    }
    return "it is not a file";
}

}  // namespace

std::string FormatTransfer(const TransferRecord& transfer) {
    char text[32];
    std::snprintf(text, sizeof text, "%11.6f", static_cast<double>(transfer.time_ns) / 1e9);
    std::string line = text;
    for (std::size_t i = 0; i < transfer.messages.size(); ++i) {
        const MessageRecord& msg = transfer.messages[i];
        std::snprintf(text, sizeof text, "%s0x%02X ", i == 0 ? " " : "; ", msg.addr);
        line += text;
        if (msg.read) {
            line += "R " + std::to_string(msg.len);
        } else {
            line += "W";
            for (const std::uint8_t byte : msg.bytes) {
                std::snprintf(text, sizeof text, " %02x", byte);
                line += text;
            }
        }
    }
    line += transfer.ack ? " ACK" : " NACK";
    if (transfer.name_node) {
        line += " on " + transfer.node;
    }
    if (transfer.name_chips && !transfer.chips.empty()) {
        line += " by";
        for (const std::size_t chip : transfer.chips) {
            line += " #" + std::to_string(chip);
        }
    }
    return line;
}

std::string TraceRefusal(const std::string& path) {
    if (path == "-") {
        return "";
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? "" : std::strerror(errno);
    }
    return Refusal(st);
}

TraceFile::~TraceFile() { Close(); }

void TraceFile::Close() {
    if (!to_stderr_) {
        raw::Close(fd_);
    }
    fd_ = -1;
    to_stderr_ = false;
}

bool TraceFile::Open(const std::string& path, std::string& error) {
    Close();
    if (path.empty()) {
        return true;
    }
    if (path == "-") {
        fd_ = STDERR_FILENO;
        to_stderr_ = true;
        return true;
    }
    // Looked at before it is opened: opening some devices has effects of
    // its own. And again after, in case it was replaced in between.
    error = TraceRefusal(path);
    if (!error.empty()) {
        return false;
    }
    fd_ = raw::Open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOCTTY | O_NONBLOCK, 0644);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        error = std::strerror(errno);
        Close();
        return false;
    }
    error = Refusal(st);
    if (!error.empty()) {
        Close();
        return false;
    }
    fcntl(fd_, F_SETFL, O_APPEND);  // a FIFO without reader: writes wait, as for a file
    return true;
}

void TraceFile::Write(const std::string& line) const {
    if (fd_ >= 0) {
        const raw::SavedErrno saved;
        raw::WriteAll(fd_, line + "\n");
    }
}

}  // namespace gpaksim
