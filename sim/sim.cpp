#include "sim.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

#include "state_file.h"

namespace gpaksim {

namespace {

// The kernel's i2c-dev limits for I2C_RDWR.
constexpr unsigned kMaxMessages = 42;
constexpr unsigned kMaxMessageLength = 8192;

std::int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct Sim {
    Options options;
    ChipState chip;
    ChipModel model{chip, options.knobs};
    std::int64_t virtual_now = 0;
    std::int64_t epoch = 0;  // clock value at the start of the run
    std::vector<TransferRecord> transfers;
    std::set<int> open_fds;
    std::set<int> closed_fds;
    int opens = 0;
    int closes = 0;
    std::vector<std::string> problems;
    int trace_fd = -1;
    int state_fd = -1;
};

Sim* g_sim = nullptr;

void Report(const std::string& problem);

std::int64_t Now(const Sim& sim) {
    return sim.options.virtual_time ? sim.virtual_now : MonotonicNs();
}

void WriteAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void TraceLine(Sim& sim, const std::string& line) {
    if (sim.trace_fd >= 0) {
        const int saved = errno;
        WriteAll(sim.trace_fd, line + "\n");
        errno = saved;
    }
}

// Rewrites the state file in place: one write of the same length each time.
void SaveState(Sim& sim) {
    if (sim.options.state_path.empty()) {
        return;
    }
    const int saved = errno;
    if (sim.state_fd < 0) {
        sim.state_fd =
            static_cast<int>(syscall(SYS_openat, AT_FDCWD, sim.options.state_path.c_str(),
                                     O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    }
    const std::string text = FormatState(sim.chip, sim.options.virtual_time, sim.virtual_now);
    if (sim.state_fd < 0 ||
        pwrite(sim.state_fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
        ftruncate(sim.state_fd, static_cast<off_t>(text.size())) != 0) {
        Report("cannot write state file " + sim.options.state_path + ": " + std::strerror(errno));
    }
    errno = saved;
}

void CheckLeftOpen() {
    if (g_sim == nullptr) {
        return;
    }
    for (const int fd : g_sim->open_fds) {
        Report("descriptor " + std::to_string(fd) + " of /dev/i2c-1 left open at exit");
    }
}

Sim& Get();

void Report(const std::string& problem) {
    Sim& sim = *g_sim;
    sim.problems.push_back(problem);
    const int saved = errno;
    std::fprintf(stderr, "gpak-sim: %s\n", problem.c_str());
    errno = saved;
    TraceLine(sim, "# " + problem);
}

void StartWith(const Options& options, std::int64_t epoch) {
    if (g_sim == nullptr) {
        g_sim = new Sim;  // lives as long as the process: overrides run until the very end
        std::atexit(CheckLeftOpen);
    }
    Sim& sim = *g_sim;
    for (const int fd : {sim.trace_fd, sim.state_fd}) {
        if (fd >= 0) {
            syscall(SYS_close, fd);
        }
    }
    for (const int fd : sim.open_fds) {
        syscall(SYS_close, fd);
    }
    sim.options = options;
    sim.chip = DefaultChip();
    sim.model.Reset();
    sim.virtual_now = 0;
    sim.transfers.clear();
    sim.open_fds.clear();
    sim.closed_fds.clear();
    sim.opens = sim.closes = 0;
    sim.problems.clear();
    sim.trace_fd = -1;
    sim.state_fd = -1;
    if (!options.trace_path.empty()) {
        sim.trace_fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, options.trace_path.c_str(),
                                                O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        if (sim.trace_fd < 0) {
            Report("cannot open trace file " + options.trace_path + ": " + std::strerror(errno));
        }
    }
    if (!options.state_path.empty()) {
        std::string error;
        if (!LoadStateFile(options.state_path, sim.chip, options.virtual_time, sim.virtual_now,
                           error)) {
            Report(error);
        }
    }
    if (options.code >= 0) {
        SetControlCode(sim.chip, static_cast<std::uint8_t>(options.code));
    }
    sim.epoch = options.virtual_time ? 0 : (epoch > 0 ? epoch : MonotonicNs());
}

bool EnvFlag(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

void StartFromEnvironment() {
    Options options;
    if (const char* v = std::getenv(env::kState)) {
        options.state_path = v;
    }
    if (const char* v = std::getenv(env::kTrace)) {
        options.trace_path = v;
    }
    if (const char* v = std::getenv(env::kCode); v != nullptr && v[0] != '\0') {
        options.code = static_cast<int>(std::strtol(v, nullptr, 0)) & 0x0F;
    }
    std::string bad_nack;
    if (const char* v = std::getenv(env::kNack)) {
        std::string list = v;
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t end = std::min(list.find(',', start), list.size());
            const std::string item = list.substr(start, end - start);
            Nack nack;
            if (!item.empty() && ParseNack(item, nack)) {
                options.knobs.nacks.push_back(nack);
            } else if (!item.empty()) {
                bad_nack = item;
            }
            start = end + 1;
        }
    }
    options.knobs.unacked_commands = EnvFlag(env::kUnackedCommands);
    options.knobs.absent = EnvFlag(env::kAbsent);
    options.no_node = EnvFlag(env::kNoNode);
    options.virtual_time = EnvFlag(env::kVirtualTime);
    std::int64_t epoch = 0;
    if (const char* v = std::getenv(env::kEpoch)) {
        epoch = std::strtoll(v, nullptr, 10);
    }
    StartWith(options, epoch);
    if (!bad_nack.empty()) {
        Report("ignoring malformed NACK knob '" + bad_nack + "'");
    }
}

Sim& Get() {
    if (g_sim == nullptr) {
        StartFromEnvironment();
    }
    return *g_sim;
}

std::string Hex(std::uint8_t byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02x", byte);
    return text;
}

int Fail(int error) {
    errno = error;
    return -1;
}

int ReadWrite(Sim& sim, const i2c_rdwr_ioctl_data* data) {
    if (data == nullptr) {
        return Fail(EFAULT);
    }
    if (data->msgs == nullptr || data->nmsgs == 0 || data->nmsgs > kMaxMessages) {
        return Fail(EINVAL);
    }
    for (unsigned i = 0; i < data->nmsgs; ++i) {
        const i2c_msg& msg = data->msgs[i];
        if (msg.len > kMaxMessageLength || (msg.flags & ~I2C_M_RD) != 0) {
            return Fail(EINVAL);  // the adapter offers plain I2C only
        }
        if (msg.buf == nullptr && msg.len > 0) {
            return Fail(EFAULT);
        }
    }
    TransferRecord record;
    record.time_ns = Now(sim) - sim.epoch;
    record.ack = true;
    bool wrote = false;
    for (unsigned i = 0; i < data->nmsgs && record.ack; ++i) {
        const i2c_msg& msg = data->msgs[i];
        MessageRecord message;
        message.addr = msg.addr;
        message.read = (msg.flags & I2C_M_RD) != 0;
        message.len = msg.len;
        if (!message.read) {
            message.bytes.assign(msg.buf, msg.buf + msg.len);
            wrote = wrote || msg.len > 1;
        }
        record.ack = sim.model.Message(msg.addr, message.read, message.bytes, msg.len, Now(sim));
        if (record.ack && message.read && msg.len > 0) {
            std::memcpy(msg.buf, message.bytes.data(), msg.len);
        }
        record.messages.push_back(std::move(message));
    }
    sim.transfers.push_back(record);
    TraceLine(sim, FormatTransfer(record));
    if (wrote) {
        SaveState(sim);
    }
    return record.ack ? static_cast<int>(data->nmsgs) : Fail(ENXIO);
}

}  // namespace

bool ParseNack(const std::string& text, Nack& nack) {
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long addr = std::strtol(s, &end, 0);
    if (end == s || errno != 0 || addr < 0 || addr > 0x7F) {
        return false;
    }
    nack.addr = static_cast<std::uint8_t>(addr);
    nack.reg = -1;
    if (*end == '\0') {
        return true;
    }
    if (*end != ':') {
        return false;
    }
    const char* r = end + 1;
    const long reg = std::strtol(r, &end, 0);
    if (end == r || *end != '\0' || errno != 0 || reg < 0 || reg > 0xFF) {
        return false;
    }
    nack.reg = static_cast<int>(reg);
    return true;
}

void Start(const Options& options) { StartWith(options, 0); }

ChipState& Chip() { return Get().chip; }
const std::vector<TransferRecord>& Transfers() { return Get().transfers; }
std::int64_t ElapsedNs() { return Now(Get()) - Get().epoch; }
int OpenDescriptors() { return static_cast<int>(Get().open_fds.size()); }
int OpenCount() { return Get().opens; }
int CloseCount() { return Get().closes; }
const std::vector<std::string>& Problems() { return Get().problems; }

std::string FormatTransfer(const TransferRecord& transfer) {
    char time[32];
    std::snprintf(time, sizeof time, "%11.6f", static_cast<double>(transfer.time_ns) / 1e9);
    std::string line = time;
    for (std::size_t i = 0; i < transfer.messages.size(); ++i) {
        const MessageRecord& msg = transfer.messages[i];
        char head[16];
        std::snprintf(head, sizeof head, "%s0x%02X ", i == 0 ? " " : "; ", msg.addr);
        line += head;
        if (msg.read) {
            line += "R " + std::to_string(msg.len);
        } else {
            line += "W";
            for (const std::uint8_t byte : msg.bytes) {
                line += " " + Hex(byte);
            }
        }
    }
    line += transfer.ack ? " ACK" : " NACK";
    return line;
}

bool IsDevicePath(const char* path) {
    return path != nullptr && std::strcmp(path, "/dev/i2c-1") == 0;
}

int Open(int flags) {
    Sim& sim = Get();
    if (sim.options.no_node) {
        return Fail(ENOENT);
    }
    if ((flags & O_ACCMODE) != O_RDWR && (flags & O_ACCMODE) != O_RDONLY &&
        (flags & O_ACCMODE) != O_WRONLY) {
        return Fail(EINVAL);
    }
    // A real descriptor stands in for the node, so the number cannot clash
    // with anything else the program opens.
    const int fd =
        static_cast<int>(syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDWR | (flags & O_CLOEXEC)));
    if (fd < 0) {
        return -1;
    }
    sim.open_fds.insert(fd);
    sim.closed_fds.erase(fd);
    ++sim.opens;
    return fd;
}

bool Owns(int fd) { return g_sim != nullptr && g_sim->open_fds.count(fd) != 0; }

bool IsI2cRequest(unsigned long request) { return (request & ~0xFFUL) == 0x0700; }

int Ioctl(unsigned long request, void* arg) {
    Sim& sim = Get();
    switch (request) {
        case I2C_RDWR:
            return ReadWrite(sim, static_cast<const i2c_rdwr_ioctl_data*>(arg));
        case I2C_FUNCS:
            if (arg == nullptr) {
                return Fail(EFAULT);
            }
            *static_cast<unsigned long*>(arg) = I2C_FUNC_I2C;
            return 0;
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE:
            // The argument is the address itself; 10-bit addressing is not offered.
            return reinterpret_cast<std::uintptr_t>(arg) > 0x7F ? Fail(EINVAL) : 0;
        case I2C_TENBIT:
            return arg != nullptr ? Fail(EINVAL) : 0;
        case I2C_PEC:
        case I2C_RETRIES:
        case I2C_TIMEOUT:
            return 0;
        case I2C_SMBUS:
            return Fail(EOPNOTSUPP);
        default:
            return Fail(ENOTTY);
    }
}

int Close(int fd) {
    Sim& sim = Get();
    sim.open_fds.erase(fd);
    sim.closed_fds.insert(fd);
    ++sim.closes;
    return static_cast<int>(syscall(SYS_close, fd));
}

bool ReportStaleUse(int fd, const char* call) {
    if (g_sim == nullptr || g_sim->closed_fds.count(fd) == 0) {
        return false;
    }
    Report(std::string(call) + " on descriptor " + std::to_string(fd) +
           " of /dev/i2c-1 after it was closed");
    return true;
}

void ForgetClosed(int fd) {
    if (g_sim != nullptr) {
        g_sim->closed_fds.erase(fd);
    }
}

bool VirtualTime() { return Get().options.virtual_time; }

void AdvanceClock(std::int64_t ns) {
    Sim& sim = Get();
    if (ns > 0) {
        sim.virtual_now += ns;
    }
    SaveState(sim);
}

}  // namespace gpaksim
