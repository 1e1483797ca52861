// Nothing started under gpak-sim reaches a real I2C node, however it is
// started. The test runs in a private mount namespace of its own, a fake
// machine whose /dev has "real" nodes: a plain file at /dev/i2c-1, a FIFO
// at /dev/i2c-2 and a file at /dev/i2c-7. inotify tells whether anything
// opened one of them; each route either works against the simulated chip
// or fails without touching them.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "program_file.h"
#include "sim_bench.h"

namespace {

using gpaktest::Contains;
using gpaktest::kGpakcfg;
using gpaktest::Launch;
using gpaktest::RunResult;
using gpaktest::Strings;

const Strings kFakeNodes = {"/dev/i2c-1", "/dev/i2c-2", "/dev/i2c-7"};
std::string g_no_machine;  // why the fake machine could not be made

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// Puts the entries of from_dir into to_dir, all but the I2C nodes: the
// devices and directories bound, the links copied.
void CopyEntries(const std::string& from_dir, const std::string& to_dir) {
    DIR* dir = opendir(from_dir.c_str());
    while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        const std::string from = from_dir + "/" + name;
        const std::string to = to_dir + "/" + name;
        struct stat st {};
        if (name == "." || name == ".." || name.compare(0, 3, "i2c") == 0 ||
            lstat(from.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            char target[4096] = {};
            if (readlink(from.c_str(), target, sizeof target - 1) > 0) {
                (void)symlink(target, to.c_str());
            }
        } else if (S_ISDIR(st.st_mode)) {
            mkdir(to.c_str(), 0755);
            mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
        } else {
            close(open(to.c_str(), O_WRONLY | O_CREAT, 0600));
            mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
}

// A private mount namespace (in a user namespace of our own where we are
// not root) whose /dev is a tmpfs holding the real /dev's entries.
std::string MakeFakeMachine() {
    if (gpaktest::Emulated()) {
        // qemu-user runs threads of its own, and a threaded process cannot
        // make a user namespace: the launcher would rightly refuse to run.
        return "the launcher runs under a user-mode emulator";
    }
    const std::string uid = std::to_string(geteuid());
    const std::string gid = std::to_string(getegid());
    if (geteuid() != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return Errno("unshare");
        }
        WriteText("/proc/self/setgroups", "deny");
        if (!WriteText("/proc/self/uid_map", uid + " " + uid + " 1\n") ||
            !WriteText("/proc/self/gid_map", gid + " " + gid + " 1\n")) {
            return Errno("uid_map");
        }
    } else if (unshare(CLONE_NEWNS) != 0) {
        return Errno("unshare");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return Errno("private mounts");
    }
    char staging[] = "/tmp/gpak-escape.XXXXXX";
    if (mkdtemp(staging) == nullptr ||
        mount("/dev", staging, nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
        mount("none", "/dev", "tmpfs", MS_NOSUID, "mode=0755") != 0) {
        return Errno("a tmpfs on /dev");
    }
    CopyEntries(staging, "/dev");
    umount2(staging, MNT_DETACH);
    rmdir(staging);
    if (!WriteText("/dev/i2c-1", "a real bus\n") || mkfifo("/dev/i2c-2", 0660) != 0 ||
        !WriteText("/dev/i2c-7", "another real bus\n")) {
        return Errno("the fake nodes");
    }
    return "";
}

// Whether anything opened, read or wrote the fake nodes since it was made.
class NodeWatch {
public:
    NodeWatch() {
        for (const std::string& node : kFakeNodes) {
            inotify_add_watch(fd_.Get(), node.c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY);
        }
    }
    [[nodiscard]] bool Touched() const {
        alignas(inotify_event) char events[4096];
        return read(fd_.Get(), events, sizeof events) > 0;
    }

private:
    common::UniqueFd fd_{inotify_init1(IN_NONBLOCK | IN_CLOEXEC)};
};

class Escape : public gpaktest::BenchTest {
protected:
    void SetUp() override {
        if (!g_no_machine.empty()) {
            GTEST_SKIP() << "no private mount namespace for a fake machine: " << g_no_machine;
        }
    }
    void TearDown() override {
        if (g_no_machine.empty()) {
            EXPECT_FALSE(watch.Touched()) << "a fake real node was opened";
        }
    }

    RunResult Simulated(const Strings& command, const Strings& sim = {}) {
        return bench.Run(Launch(command).Sim(sim));
    }

    NodeWatch watch;
};

TEST_F(Escape, ProgramsStartedThroughOthersReachOnlyTheSimulatedChip) {
    const std::string wrapper = bench.Write("wrapper", "#!/bin/sh\nexec " + kGpakcfg + " \"$@\"\n");
    ASSERT_EQ(chmod(wrapper.c_str(), 0755), 0);
    const std::vector<Strings> routes = {
        {"/bin/sh", "-c", kGpakcfg + " -t nvm"},
        {"/usr/bin/env", kGpakcfg, "-t", "nvm"},
        {"/usr/bin/timeout", "5", kGpakcfg, "-t", "nvm"},
        {wrapper, "-t", "nvm"},
    };
    for (const Strings& route : routes) {
        const RunResult run = Simulated(route);
        EXPECT_EQ(run.status, 0) << route[0] << "\n" << run.err;
        EXPECT_EQ(run.transfers.size(), 16u) << route[0];
        EXPECT_TRUE(run.AllAcked()) << route[0];
    }
}

TEST_F(Escape, SudoInsideTheSimulationDoesNotOpenTheRealNode) {
    const std::string sudo = gpaksim::FindProgram("sudo");
    if (sudo.empty()) {
        GTEST_SKIP() << "sudo is not installed";
    }
    const RunResult run = Simulated({sudo, "-n", kGpakcfg, "-t", "nvm"});
    // Failing is fine: what matters is that the fake node stays untouched
    // (checked when the test ends).
    EXPECT_NE(run.status, 0) << run.out;
}

TEST_F(Escape, ClientsThatBypassThePreloadFindNoBus) {
    const std::string pid = std::to_string(getpid());
    const std::string link = bench.Path("bus");
    ASSERT_EQ(symlink("/dev/i2c-1", link.c_str()), 0);
    const std::string simulated = "open, funcs 0x0eff0009";
    const std::string hidden = "error No such device or address";
    for (const std::string& path : {std::string("/dev//i2c-1"), link}) {
        const RunResult run = Simulated({ESCAPE_CLIENT, path, pid});
        EXPECT_EQ(run.status, 0) << run.err;
        for (const std::string& way :
             {"libc open: " + simulated, "libc openat: " + simulated, "raw openat: " + hidden,
              "raw openat after umount: " + hidden,
              std::string("raw openat through /proc: error Permission "
                          "denied")}) {
            EXPECT_TRUE(Contains(run.out, way));
        }
    }
    if (std::string(ESCAPE_CLIENT_STATIC).empty()) {
        return;
    }
    // A static program started by a script, out of the preload's reach.
    const RunResult run = Simulated({"/bin/sh", "-c", ESCAPE_CLIENT_STATIC " /dev/i2c-1 " + pid});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "libc open: " + hidden));
    EXPECT_TRUE(Contains(run.out, "raw openat after umount: " + hidden));
    EXPECT_FALSE(Contains(run.out, "funcs"));
}

TEST_F(Escape, AnotherBusIsAnsweredAndEveryRealOneStaysHidden) {
    RunResult run = Simulated({ESCAPE_CLIENT, "/dev/i2c-7"}, {"--bus", "7"});
    EXPECT_TRUE(Contains(run.out, "libc open: open, funcs"));
    run = Simulated({ESCAPE_CLIENT, "/dev/i2c-1"}, {"--bus", "7"});
    EXPECT_TRUE(Contains(run.out, "libc open: error No such device or address"));
}

TEST_F(Escape, ALauncherInstalledUnderABlankWorks) {
    const std::string bin = bench.Path("with blank");
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    for (const std::string& file : {std::string(GPAKSIM_BIN), std::string(GPAKSIM_LIBRARY)}) {
        const gpaktest::CommandResult copy = gpaktest::RunCommand({"/bin/cp", file, bin + "/"});
        ASSERT_EQ(copy.status, 0) << copy.err;
    }
    Launch copy = Launch::Gpakcfg({"-t", "nvm"});
    copy.launcher = bin + "/gpak-sim";
    const RunResult run = bench.Run(copy);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.transfers.size(), 16u);
}

// Where no user namespace can be made, the launcher runs nothing while a
// real node exists, and runs as before where none does.
TEST_F(Escape, WithoutNamespacesTheLauncherRefusesWhileRealNodesExist) {
    Launch without_namespaces = Launch::Gpakcfg({"-t", "nvm"});
    without_namespaces.wrapper = {"/usr/bin/unshare",
                                  "--user",
                                  "--map-current-user",
                                  "/bin/sh",
                                  "-c",
                                  "echo 0 > /proc/sys/user/max_user_namespaces && exec \"$@\"",
                                  "sh"};
    // Out of the way, under a name that is no node's.
    const auto Away = [](const std::string& node) { return "/dev/away-" + node.substr(5); };
    RunResult run = bench.Run(without_namespaces);
    if (run.err.find("unshare") == 0 || run.err.find("max_user_namespaces") != std::string::npos) {
        GTEST_SKIP() << "cannot forbid user namespaces here: " << run.err;
    }
    EXPECT_EQ(run.status, 125) << run.err;
    EXPECT_TRUE(Contains(run.err,
                         "gpak-sim: refusing to run: this machine has real I2C nodes "
                         "(/dev/i2c-1, /dev/i2c-2, /dev/i2c-7)"));
    EXPECT_TRUE(run.transfers.empty());

    for (const std::string& node : kFakeNodes) {
        ASSERT_EQ(rename(node.c_str(), Away(node).c_str()), 0);
    }
    run = bench.Run(without_namespaces);
    for (const std::string& node : kFakeNodes) {
        ASSERT_EQ(rename(Away(node).c_str(), node.c_str()), 0);
    }
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.transfers.size(), 16u);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests)) {
        g_no_machine = MakeFakeMachine();
    }
    return RUN_ALL_TESTS();
}
