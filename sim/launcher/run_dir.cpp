#include "launcher/run_dir.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace gpaksim::launcher {

namespace {

bool Plain(const std::string& path) { return path.find_first_of(" \t\n:") == std::string::npos; }

}  // namespace

RunDirectory::~RunDirectory() {
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
        unlink(it->c_str());
    }
    if (!dir_.empty()) {
        rmdir(dir_.c_str());
    }
}

bool RunDirectory::Create(std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    if (!Plain(base)) {
        base = "/tmp";  // the library's alias must not contain a blank
    }
    std::string pattern = base + "/gpak-sim.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot create a directory in " + base + ": " + std::strerror(errno);
        return false;
    }
    dir_ = pattern;
    return true;
}

std::string RunDirectory::File(const std::string& name) {
    files_.push_back(dir_ + "/" + name);
    return files_.back();
}

std::string RunDirectory::LibraryAlias(const std::string& library, std::string& error) {
    if (Plain(library)) {
        return library;
    }
    if (!Plain(dir_)) {
        error =
            "the preload library's path " + library + " has a blank or colon, and so has " + dir_;
        return "";
    }
    std::string alias = File("libgpaksim.so");
    if (symlink(library.c_str(), alias.c_str()) != 0) {
        error = "cannot link " + alias + ": " + std::strerror(errno);
        return "";
    }
    return alias;
}

}  // namespace gpaksim::launcher
