// Nothing started under gpak-sim reaches a real I2C node, however it is
// started. The test runs in a fake machine (fake_machine.h) whose /dev has
// "real" nodes; as root, a test adds device nodes where no list of nodes
// could reach them. inotify tells whether anything opened one of them;
// each route either works against the simulated chip or fails without
// touching them.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "fake_machine.h"
#include "launcher/program_file.h"
#include "sim_bench.h"

namespace gpaktest {
namespace {

std::string g_no_namespaces;  // why the launcher cannot make its namespaces here
std::string g_no_machine;     // why the fake machine could not be made

// Where the launcher cannot make its namespaces it rightly refuses to run
// beside the fake machine's "real" nodes: the routes are tested where it
// can, and skipped, with the reason, where it cannot.
class Escape : public BenchTest {
protected:
    void SetUp() override {
        if (NeedsNamespaces() && !g_no_namespaces.empty()) {
            GTEST_SKIP() << "the launcher cannot make its namespaces here: " << g_no_namespaces;
        }
        if (!g_no_machine.empty()) {
            GTEST_SKIP() << "no private mount namespace for a fake machine: " << g_no_machine;
        }
    }
    [[nodiscard]] virtual bool NeedsNamespaces() const { return true; }
    void TearDown() override {
        if (g_no_machine.empty()) {
            EXPECT_EQ(watch.Events(), 0) << "a fake real node was opened";
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
        const CommandResult copy = RunCommand({"/bin/cp", file, bin + "/"});
        ASSERT_EQ(copy.status, 0) << copy.err;
    }
    Launch copy = Launch::Gpakcfg({"-t", "nvm"});
    copy.launcher = bin + "/gpak-sim";
    const RunResult run = bench.Run(copy);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.transfers.size(), 16u);
}

// The launcher's own files and descriptors are routes too: nothing runs.
TEST_F(Escape, LaunchesThatWouldReachANodeOrLoseTheTraceRunNothing) {
    EXPECT_TRUE(
        LaunchRefused(bench, {"--state", "/dev/i2c-2"}, "/dev/i2c-2: it is not a regular file"));
    EXPECT_TRUE(LaunchRefused(bench, {"--trace", bench.Path("no/such/dir/trace")},
                              "No such file or directory"));
    // A COMMAND that is no program file was opened and read before the
    // sandbox was made (a FIFO hung); a directory is refused alike.
    for (const std::string& command : {std::string("/dev/i2c-2"), std::string("/dev")}) {
        const RunResult refused = bench.Run(Launch({command}));
        EXPECT_EQ(refused.status, 125) << command;
        EXPECT_TRUE(Contains(refused.err, "gpak-sim: cannot run " + command + ": ")) << refused.err;
        EXPECT_TRUE(Contains(refused.err, "not a program file; nothing was opened")) << refused.err;
    }
    Launch inherited({"/bin/true"});
    inherited.wrapper = {"/bin/sh", "-c", "exec 5</dev && exec \"$@\"", "sh"};
    const RunResult run = bench.Run(inherited);
    EXPECT_EQ(run.status, 125);
    EXPECT_TRUE(Contains(run.err, "descriptor 5 is a directory"));
}

// The routes that no list of nodes covers: a second mount of /dev (as a
// chroot's), a node outside /dev, one made after the launch. The device
// nodes have /dev/null's number, so that an open would succeed and show,
// or the I2C major; making them needs root.
TEST_F(Escape, NoDeviceNodeOpensWhereverItLivesOrWheneverItAppears) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "making device nodes needs root";
    }
    const std::string chroot_dev = bench.Path("chroot-dev");
    const std::string elsewhere = bench.Path("elsewhere");
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
    EXPECT_TRUE(LaunchRefused(bench, {"--state", "/dev/i2c-4"}, "/dev/i2c-4: it is a device node"));
    EXPECT_TRUE(LaunchRefused(bench, {"--trace", elsewhere + "/i2c-major"}, "it is a device node"));
    for (const std::string& device : {std::string("/dev/i2c-4"), elsewhere + "/i2c-major"}) {
        const RunResult refused = bench.Run(Launch({device, "-t", "nvm"}));
        EXPECT_EQ(refused.status, 125) << device;
        EXPECT_TRUE(Contains(refused.err, "a character device, not a program file")) << refused.err;
    }
    const std::string denied = "libc open: error Permission denied";
    for (const std::string& node :
         {chroot_dev + "/i2c-4", elsewhere + "/bus", elsewhere + "/i2c-major"}) {
        const RunResult run = Simulated({ESCAPE_CLIENT, node});
        EXPECT_TRUE(Contains(run.out, denied));
        EXPECT_TRUE(Contains(run.out, "raw openat: error Permission denied"));
    }
    EXPECT_NE(Simulated({kGpakcfg, "--bus", chroot_dev + "/i2c-4", "-t", "nvm"}).status, 0);
    // A node made while the command runs: in the machine's /dev, which the
    // chroot's mount shows.
    const std::string ready = bench.Path("ready");
    const std::string go = bench.Path("go");
    ASSERT_EQ(mkfifo(ready.c_str(), 0600) | mkfifo(go.c_str(), 0600), 0);
    const std::string client = std::string(ESCAPE_CLIENT) + " ";
    Launch later({"/bin/sh", "-c",
                  "echo >" + ready + "; read x <" + go + "; " + client + chroot_dev + "/i2c-5; " +
                      client + "/dev/i2c-5"});
    later.wrapper = {
        "/usr/bin/timeout",
        "20",
        "/bin/sh",
        "-c",
        "\"$@\" & read y <" + ready + " && mknod /dev/i2c-5 c 1 3 && echo >" + go + "; wait $!",
        "sh"};
    const RunResult run = bench.Run(later);
    EXPECT_TRUE(Contains(run.out, denied)) << run.err;
    EXPECT_TRUE(Contains(run.out, "libc open: error No such file or directory"));
    EXPECT_EQ(devices.Events(), 0) << "a device node was opened";
}

// Where no user namespace can be made, the launcher runs nothing while a
// real node exists, and runs as before where none does: on a machine that
// makes them, under a user namespace that forbids more of them.
class EscapeWithoutNamespaces : public Escape {
protected:
    [[nodiscard]] bool NeedsNamespaces() const override { return false; }
};

TEST_F(EscapeWithoutNamespaces, TheLauncherRefusesWhileRealNodesExist) {
    Launch without_namespaces = Launch::Gpakcfg({"-t", "nvm"});
    if (g_no_namespaces.empty()) {
        without_namespaces.wrapper = {"/usr/bin/unshare",
                                      "--user",
                                      "--map-current-user",
                                      "/bin/sh",
                                      "-c",
                                      "echo 0 > /proc/sys/user/max_user_namespaces && exec \"$@\"",
                                      "sh"};
    }
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
}  // namespace gpaktest

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests)) {
        gpaktest::g_no_namespaces = gpaktest::NoNamespacesHere();
        gpaktest::g_no_machine = gpaktest::MakeFakeMachine();
    }
    return RUN_ALL_TESTS();
}
