#include "cli/outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "cli/interruption.h"
#include "cli/log/log_file.h"
#include "common/unique_fd.h"
#include "config_file/replace_file.h"
#include "config_file/save.h"

namespace cli {

namespace {

// A file the run reads or writes, as the command line names it.
struct File {
    const char* option;
    const std::optional<std::string>& path;
};

// How an output file is written, and what writing it where it may not go
// would do.
struct Output {
    File file;
    const char* harm;  // "the line would be appended to it"
    const char* hint;  // "log to another file"
    const char* kind;  // "a log file"
    std::string (*usable)(const std::string& path);
};

// Whether two names are one file: the same inode (a hard link too), or,
// for a file not made yet, the same name once spelled without links.
bool Same(const std::string& a, const std::string& b) {
    if (hexfile::SameFile(a, b)) {
        return true;
    }
    const std::string resolved = hexfile::ResolvedPath(a);
    return !resolved.empty() && resolved == hexfile::ResolvedPath(b);
}

std::string SaveUsable(const std::string& path) { return hexfile::ReplaceRefusal(path); }

// Opened as the line will be, appending and never waiting; a log not made
// yet is made and removed again, so that a run refused later leaves none.
std::string LogUsable(const std::string& path) {
    if (const char* refusal = log::DeviceRefusal(path)) {
        return refusal;
    }
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    common::UniqueFd fd(open(path.c_str(), kFlags));
    if (!fd.IsOpen() && errno == ENOENT) {
        fd = common::UniqueFd(open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666));
        if (fd.IsOpen()) {
            unlink(path.c_str());
        } else if (errno == EEXIST) {
            return "";  // made meanwhile, or a link to a file not made yet
        }
    }
    if (fd.IsOpen()) {
        return "";
    }
    struct stat st {};
    if (errno == ENXIO && stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        return "a FIFO that no process reads: start its reader first";
    }
    return std::string("cannot be opened for appending: ") + std::strerror(errno);
}

}  // namespace

std::string OutputRefusal(const Settings& settings) {
    const File inputs[] = {{"-w", settings.write_file}, {"--verify", settings.verify_file}};
    const Output outputs[] = {
        {{"--save", settings.save_file},
         "the read-back would replace it",
         "save to another file",
         "a file to save to",
         SaveUsable},
        {{"--log", settings.log_file},
         "the line would be appended to it",
         "log to another file",
         "a log file",
         LogUsable},
    };
    std::vector<File> before(std::begin(inputs), std::end(inputs));
    for (const Output& output : outputs) {
        const std::optional<std::string>& path = output.file.path;
        if (!path) {
            continue;
        }
        const std::string named = std::string(output.file.option) + " " + *path + ": ";
        if (path->empty()) {
            return std::string(output.file.option) + " '': no file name";
        }
        for (const File& other : before) {
            if (other.path && Same(*path, *other.path)) {
                return named + "the same file as " + other.option + " " + *other.path + ": " +
                       output.harm + "; " + output.hint;
            }
        }
        if (*path == settings.bus || Same(*path, settings.bus)) {
            return named + "the bus, not " + output.kind;
        }
        before.push_back(output.file);
    }
    // Only once all are known to be apart. A signal meanwhile acts once
    // the files made to try are gone again.
    const SignalsDeferred deferred;
    for (const Output& output : outputs) {
        if (output.file.path) {
            if (const std::string why = output.usable(*output.file.path); !why.empty()) {
                return std::string(output.file.option) + " " + *output.file.path + ": " + why;
            }
        }
    }
    return "";
}

}  // namespace cli
