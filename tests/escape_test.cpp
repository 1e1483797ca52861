// Nothing started under gpak-sim reaches a real I2C node, however it is
// started. The test runs in a private mount namespace of its own, a fake
// machine whose /dev has "real" nodes: a plain file at /dev/i2c-1, a FIFO
// at /dev/i2c-2 and a file at /dev/i2c-7; as root, a test adds device
// nodes where no list of nodes could reach them. inotify tells whether
// anything opened one of them; each route either works against the
// simulated chip or fails without touching them.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "options.h"
#include "run_command.h"

namespace {

using gpaktest::CommandResult;
using gpaktest::ReadFile;
using gpaktest::RunCommand;
using Strings = std::vector<std::string>;

const Strings kFakeNodes = {"/dev/i2c-1", "/dev/i2c-2", "/dev/i2c-7"};
std::string g_no_machine;  // why the fake machine could not be made

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// A private mount namespace (in a user namespace of our own where we are
// not root) whose /dev is a tmpfs holding the real /dev's entries.
std::string MakeFakeMachine() {
    if (!gpaksim::Emulator().empty()) {
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
    DIR* dir = opendir(staging);
    while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        const std::string from = std::string(staging) + "/" + name;
        const std::string to = "/dev/" + name;
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
    umount2(staging, MNT_DETACH);
    rmdir(staging);
    if (!WriteText("/dev/i2c-1", "a real bus\n") || mkfifo("/dev/i2c-2", 0660) != 0 ||
        !WriteText("/dev/i2c-7", "another real bus\n")) {
        return Errno("the fake nodes");
    }
    return "";
}

// Whatever opened, read or wrote the fake nodes since it was made, or the
// files in the directories among paths (not the directories themselves).
class NodeWatch {
public:
    explicit NodeWatch(const Strings& paths = kFakeNodes)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        for (const std::string& path : paths) {
            inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY);
        }
    }
    ~NodeWatch() { close(fd_); }
    NodeWatch(const NodeWatch&) = delete;
    NodeWatch& operator=(const NodeWatch&) = delete;

    int Events() const {
        alignas(inotify_event) char buffer[4096];
        int events = 0;
        ssize_t n = 0;
        while ((n = read(fd_, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                events += (event->mask & IN_ISDIR) == 0 ? 1 : 0;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return events;
    }

private:
    int fd_;
};

class Escape : public testing::Test {
protected:
    void SetUp() override {
        if (!g_no_machine.empty()) {
            GTEST_SKIP() << "no private mount namespace for a fake machine: " << g_no_machine;
        }
    }
    void TearDown() override {
        if (g_no_machine.empty()) {
            EXPECT_EQ(watch.Events(), 0) << "a fake real node was opened";
        }
    }

    CommandResult Simulated(const Strings& sim, const Strings& command) {
        Strings argv = {GPAKSIM_BIN, "--state", state, "--trace", trace};
        argv.insert(argv.end(), sim.begin(), sim.end());
        argv.push_back("--");
        argv.insert(argv.end(), command.begin(), command.end());
        return RunCommand(argv);
    }

    // A launch that must run nothing and say why.
    void ExpectRefused(const Strings& sim, const std::string& why) {
        const std::string marker = dir.Path("ran");
        const CommandResult run = Simulated(sim, {"/bin/touch", marker});
        EXPECT_EQ(run.status, 125) << sim[1] << "\n" << run.err;
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
        EXPECT_EQ(access(marker.c_str(), F_OK), -1) << sim[1];
    }

    int TracedTransfers() const {
        std::istringstream in(ReadFile(trace));
        int count = 0;
        for (std::string line; std::getline(in, line);) {
            count += line.find(" ACK") != std::string::npos ? 1 : 0;
        }
        return count;
    }

    gpaktest::TempDir dir;
    std::string state = dir.Path("chip.state");
    std::string trace = dir.Path("bus.trace");
    NodeWatch watch;
};

TEST_F(Escape, ProgramsStartedThroughOthersReachOnlyTheSimulatedChip) {
    const std::string wrapper = dir.Write("wrapper", "#!/bin/sh\nexec " GPAKCFG_BIN " \"$@\"\n");
    ASSERT_EQ(chmod(wrapper.c_str(), 0755), 0);
    const std::vector<Strings> routes = {
        {"/bin/sh", "-c", GPAKCFG_BIN " -t nvm"},
        {"/usr/bin/env", GPAKCFG_BIN, "-t", "nvm"},
        {"/usr/bin/timeout", "5", GPAKCFG_BIN, "-t", "nvm"},
        {wrapper, "-t", "nvm"},
    };
    int transfers = 0;
    for (const Strings& route : routes) {
        const CommandResult run = Simulated({"--virtual-time"}, route);
        EXPECT_EQ(run.status, 0) << route[0] << "\n" << run.err;
        transfers += 16;
        EXPECT_EQ(TracedTransfers(), transfers) << route[0];
    }
}

TEST_F(Escape, SudoInsideTheSimulationDoesNotOpenTheRealNode) {
    const CommandResult probe = RunCommand({"/bin/sh", "-c", "command -v sudo"});
    if (probe.status != 0) {
        GTEST_SKIP() << "sudo is not installed";
    }
    const std::string sudo = probe.out.substr(0, probe.out.find('\n'));
    const CommandResult run = Simulated({}, {sudo, "-n", GPAKCFG_BIN, "-t", "nvm"});
    // Failing is fine: what matters is that the fake node stays untouched
    // (checked when the test ends).
    EXPECT_NE(run.status, 0) << run.out;
}

TEST_F(Escape, ClientsThatBypassThePreloadFindNoBus) {
    const std::string pid = std::to_string(getpid());
    const std::string link = dir.Path("bus");
    ASSERT_EQ(symlink("/dev/i2c-1", link.c_str()), 0);
    const std::string simulated = "open, funcs 0x0eff0009";
    const std::string hidden = "error No such device or address";
    for (const std::string& path : {std::string("/dev//i2c-1"), link}) {
        const CommandResult run = Simulated({}, {ESCAPE_CLIENT, path, pid});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("libc open: " + simulated), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("libc openat: " + simulated), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("raw openat: " + hidden), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("raw openat after umount: " + hidden), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("raw openat through /proc: error Permission denied"),
                  std::string::npos)
            << run.out;
    }
    if (std::string(ESCAPE_CLIENT_STATIC).empty()) {
        return;
    }
    // A static program started by a script, out of the preload's reach.
    const CommandResult run =
        Simulated({}, {"/bin/sh", "-c", ESCAPE_CLIENT_STATIC " /dev/i2c-1 " + pid});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("libc open: " + hidden), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("raw openat after umount: " + hidden), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("funcs"), std::string::npos) << run.out;
}

TEST_F(Escape, AnotherBusIsAnsweredAndEveryRealOneStaysHidden) {
    CommandResult run = Simulated({"--bus", "7"}, {ESCAPE_CLIENT, "/dev/i2c-7"});
    EXPECT_NE(run.out.find("libc open: open, funcs"), std::string::npos) << run.out;
    run = Simulated({"--bus", "7"}, {ESCAPE_CLIENT, "/dev/i2c-1"});
    EXPECT_NE(run.out.find("libc open: error No such device or address"), std::string::npos)
        << run.out;
}

TEST_F(Escape, ALauncherInstalledUnderABlankWorks) {
    const std::string bin = dir.Path("with blank");
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    for (const std::string& file : {std::string(GPAKSIM_BIN), std::string(GPAKSIM_LIBRARY)}) {
        const CommandResult copy = RunCommand({"/bin/cp", file, bin + "/"});
        ASSERT_EQ(copy.status, 0) << copy.err;
    }
    const CommandResult run = RunCommand(
        {bin + "/gpak-sim", "--trace", trace, "--virtual-time", "--", GPAKCFG_BIN, "-t", "nvm"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(TracedTransfers(), 16);
}

// The launcher's own files and descriptors are routes too: nothing runs.
TEST_F(Escape, LaunchesThatWouldReachANodeOrLoseTheTraceRunNothing) {
    ExpectRefused({"--state", "/dev/i2c-2"}, "/dev/i2c-2: it is not a regular file");
    ExpectRefused({"--trace", dir.Path("no/such/dir/trace")}, "No such file or directory");
    const CommandResult inherited =
        RunCommand({"/bin/sh", "-c", "exec 5</dev && exec \"$0\" -- /bin/true", GPAKSIM_BIN});
    EXPECT_EQ(inherited.status, 125);
    EXPECT_NE(inherited.err.find("descriptor 5 is a directory"), std::string::npos)
        << inherited.err;
}

// The routes that no list of nodes covers: a second mount of /dev (as a
// chroot's), a node outside /dev, one made after the launch. The device
// nodes have /dev/null's number, so that an open would succeed and show,
// or the I2C major; making them needs root.
TEST_F(Escape, NoDeviceNodeOpensWhereverItLivesOrWheneverItAppears) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "making device nodes needs root";
    }
    const std::string chroot_dev = dir.Path("chroot-dev");
    const std::string elsewhere = dir.Path("elsewhere");
    // Undone whatever happens: the chroot's /dev is the machine's, which
    // removing the test's directory must never walk into.
    struct Undo {
        std::string mount;
        ~Undo() {
            umount2(mount.c_str(), MNT_DETACH);
            unlink("/dev/i2c-4");
            unlink("/dev/i2c-5");
        }
    } undo{chroot_dev};
    ASSERT_EQ(mkdir(chroot_dev.c_str(), 0755) | mkdir(elsewhere.c_str(), 0755), 0);
    ASSERT_EQ(mount("/dev", chroot_dev.c_str(), nullptr, MS_BIND | MS_REC, nullptr), 0);
    ASSERT_EQ(mknod("/dev/i2c-4", S_IFCHR | 0666, makedev(1, 3)) |
                  mknod((elsewhere + "/bus").c_str(), S_IFCHR | 0666, makedev(1, 3)) |
                  mknod((elsewhere + "/i2c-major").c_str(), S_IFCHR | 0666, makedev(89, 255)),
              0);
    NodeWatch devices({"/dev", elsewhere});
    ExpectRefused({"--state", "/dev/i2c-4"}, "/dev/i2c-4: it is a device node");
    ExpectRefused({"--trace", elsewhere + "/i2c-major"}, "it is a device node");
    const std::string denied = "libc open: error Permission denied";
    for (const std::string& node :
         {chroot_dev + "/i2c-4", elsewhere + "/bus", elsewhere + "/i2c-major"}) {
        const CommandResult run = Simulated({}, {ESCAPE_CLIENT, node});
        EXPECT_NE(run.out.find(denied), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("raw openat: error Permission denied"), std::string::npos)
            << run.out;
    }
    const CommandResult tool =
        Simulated({}, {GPAKCFG_BIN, "--bus", chroot_dev + "/i2c-4", "-t", "nvm"});
    EXPECT_NE(tool.status, 0) << tool.out;
    // A node made while the command runs: in the machine's /dev, which the
    // chroot's mount shows.
    const std::string ready = dir.Path("ready");
    const std::string go = dir.Path("go");
    ASSERT_EQ(mkfifo(ready.c_str(), 0600) | mkfifo(go.c_str(), 0600), 0);
    const std::string client = std::string(ESCAPE_CLIENT) + " ";
    const CommandResult later =
        RunCommand({"/usr/bin/timeout", "20", "/bin/sh", "-c",
                    "\"$0\" -- /bin/sh -c 'echo >" + ready + "; read x <" + go + "; " + client +
                        chroot_dev + "/i2c-5; " + client + "/dev/i2c-5' & read y <" + ready +
                        " && mknod /dev/i2c-5 c 1 3 && echo >" + go + "; wait $!",
                    GPAKSIM_BIN});
    EXPECT_NE(later.out.find(denied), std::string::npos) << later.out << later.err;
    EXPECT_NE(later.out.find("libc open: error No such file or directory"), std::string::npos)
        << later.out;
    EXPECT_EQ(devices.Events(), 0) << "a device node was opened";
}

// Where no user namespace can be made, the launcher runs nothing while a
// real node exists, and runs as before where none does.
TEST_F(Escape, WithoutNamespacesTheLauncherRefusesWhileRealNodesExist) {
    const auto without_namespaces = [&](const Strings& command) {
        Strings argv = {"/usr/bin/unshare",
                        "--user",
                        "--map-current-user",
                        "/bin/sh",
                        "-c",
                        "echo 0 > /proc/sys/user/max_user_namespaces && exec \"$@\"",
                        "sh",
                        GPAKSIM_BIN,
                        "--trace",
                        trace,
                        "--virtual-time",
                        "--"};
        argv.insert(argv.end(), command.begin(), command.end());
        return RunCommand(argv);
    };
    // Out of the way, under a name that is no node's.
    const auto Away = [](const std::string& node) { return "/dev/away-" + node.substr(5); };
    CommandResult run = without_namespaces({GPAKCFG_BIN, "-t", "nvm"});
    if (run.err.find("unshare") == 0 || run.err.find("max_user_namespaces") != std::string::npos) {
        GTEST_SKIP() << "cannot forbid user namespaces here: " << run.err;
    }
    EXPECT_EQ(run.status, 125) << run.err;
    EXPECT_NE(run.err.find("gpak-sim: refusing to run: this machine has real I2C nodes "
                           "(/dev/i2c-1, /dev/i2c-2, /dev/i2c-7)"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(trace), "");

    for (const std::string& node : kFakeNodes) {
        ASSERT_EQ(rename(node.c_str(), Away(node).c_str()), 0);
    }
    run = without_namespaces({GPAKCFG_BIN, "-t", "nvm"});
    for (const std::string& node : kFakeNodes) {
        ASSERT_EQ(rename(Away(node).c_str(), node.c_str()), 0);
    }
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(TracedTransfers(), 16);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests)) {
        g_no_machine = MakeFakeMachine();
    }
    return RUN_ALL_TESTS();
}
