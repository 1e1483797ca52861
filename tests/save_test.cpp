// Saving a memory as a hex record file: the file's exact form, reading it
// back, and how a file is replaced as a whole.
#include "config_file/save.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <random>

#include "common/unique_fd.h"
#include "config_file/config_file.h"
#include "run_command.h"

namespace {

using gpaktest::ReadFile;
using hexfile::ReplaceFile;
using hexfile::ReplaceResult;
using Strings = std::vector<std::string>;

Strings Entries(const std::string& dir) {
    Strings names;
    DIR* d = opendir(dir.c_str());
    while (const dirent* entry = d != nullptr ? readdir(d) : nullptr) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    if (d != nullptr) {
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(SavedFile, HasTheFormOfOurExampleFile) {
    const std::string example = std::string(GPAKCFG_EXAMPLES) + "/demo-config.hex";
    ConfigImage image{};
    ASSERT_EQ(ReadConfigFile(example, image).status, ConfigFileStatus::kRead);
    EXPECT_EQ(hexfile::FormatConfigFile(image), ReadFile(example));
}

TEST(SavedFile, ReadsBackToTheSameImage) {
    gpaktest::TempDir dir;
    std::mt19937 random(9);
    std::vector<ConfigImage> images(4);
    images[1].fill(0xFF);
    for (std::size_t n = 2; n < images.size(); ++n) {
        for (std::uint8_t& byte : images[n]) {
            byte = static_cast<std::uint8_t>(random());
        }
    }
    for (const ConfigImage& image : images) {
        const std::string text = hexfile::FormatConfigFile(image);
        EXPECT_EQ(text.size(), 16u * 44 + 12);
        EXPECT_EQ(text.find_first_of("abcdef\r"), std::string::npos);
        ConfigImage back{};
        const ConfigFileResult result = ReadConfigFile(dir.Write("back.hex", text), back);
        EXPECT_EQ(result.status, ConfigFileStatus::kRead) << result.refusal;
        EXPECT_EQ(result.records, 16);
        EXPECT_EQ(back, image);
    }
}

TEST(SavedFile, GoesToAnotherFileThanTheInputHoweverItIsSpelled) {
    gpaktest::TempDir dir;
    const std::string master = dir.Write("master.hex", "m\n");
    dir.Write("other.hex", "m\n");
    ASSERT_EQ(mkdir(dir.Path("sub").c_str(), 0755), 0);
    ASSERT_EQ(link(master.c_str(), dir.Path("sub/hard.hex").c_str()), 0);
    ASSERT_EQ(symlink("../master.hex", dir.Path("sub/soft.hex").c_str()), 0);
    ASSERT_EQ(symlink("sub/soft.hex", dir.Path("soft2.hex").c_str()), 0);
    ASSERT_EQ(symlink("missing.hex", dir.Path("dangling.hex").c_str()), 0);
    const Strings same = {master,
                          dir.Path("./master.hex"),
                          dir.Path("sub//../master.hex"),
                          dir.Path("sub/hard.hex"),
                          dir.Path("sub/soft.hex"),
                          dir.Path("soft2.hex")};
    for (const std::string& save : same) {
        EXPECT_TRUE(hexfile::SameFile(save, master)) << save;
        EXPECT_TRUE(hexfile::SameFile(master, save)) << save;
    }
    const Strings other = {dir.Path("other.hex"), dir.Path("missing.hex"), dir.Path("dangling.hex"),
                           dir.Path("sub"), ""};
    for (const std::string& save : other) {
        EXPECT_FALSE(hexfile::SameFile(save, master)) << save;
    }
}

class ReplaceFileTest : public testing::Test {
protected:
    gpaktest::TempDir dir;
};

TEST_F(ReplaceFileTest, ANewFileGetsTheUsualPermissions) {
    const mode_t saved = umask(027);
    const ReplaceResult strict = ReplaceFile(dir.Path("a.hex"), "new\n");
    umask(0);
    const ReplaceResult open = ReplaceFile(dir.Path("b.hex"), "new\n");
    umask(saved);
    EXPECT_TRUE(strict.replaced) << strict.error;
    EXPECT_TRUE(open.replaced) << open.error;
    EXPECT_EQ(ModeOf(dir.Path("a.hex")), 0640u);
    EXPECT_EQ(ModeOf(dir.Path("b.hex")), 0666u);
    EXPECT_EQ(ReadFile(dir.Path("a.hex")), "new\n");
    EXPECT_EQ(Entries(dir.Path("")), (Strings{"a.hex", "b.hex"}));
}

TEST_F(ReplaceFileTest, AReplacedFileKeepsItsPermissionsAndIsNeverWrittenInPlace) {
    const std::string path = dir.Write("backup.hex", "old content\n");
    ASSERT_EQ(chmod(path.c_str(), 0604), 0);
    // Whoever still reads the old file reads it whole: the new content is
    // a new file, renamed over the old name.
    std::ifstream reader(path);
    const ReplaceResult result = ReplaceFile(path, "new content\n");
    EXPECT_TRUE(result.replaced) << result.error;
    EXPECT_EQ(ReadFile(path), "new content\n");
    EXPECT_EQ(ModeOf(path), 0604u);
    std::string old;
    std::getline(reader, old);
    EXPECT_EQ(old, "old content");
    EXPECT_EQ(Entries(dir.Path("")), Strings{"backup.hex"});
}

TEST_F(ReplaceFileTest, ASymbolicLinkIsFollowedAndStays) {
    ASSERT_EQ(mkdir(dir.Path("boards").c_str(), 0755), 0);
    dir.Write("boards/real.hex", "old\n");
    ASSERT_EQ(symlink("boards/real.hex", dir.Path("link.hex").c_str()), 0);
    ASSERT_EQ(symlink("link.hex", dir.Path("link2.hex").c_str()), 0);
    ASSERT_EQ(symlink("new.hex", dir.Path("boards/dangling.hex").c_str()), 0);

    EXPECT_TRUE(ReplaceFile(dir.Path("link2.hex"), "through two links\n").replaced);
    EXPECT_EQ(ReadFile(dir.Path("boards/real.hex")), "through two links\n");
    EXPECT_TRUE(ReplaceFile(dir.Path("boards/dangling.hex"), "created\n").replaced);
    EXPECT_EQ(ReadFile(dir.Path("boards/new.hex")), "created\n");
    struct stat st {};
    ASSERT_EQ(lstat(dir.Path("link.hex").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Entries(dir.Path("boards")), (Strings{"dangling.hex", "new.hex", "real.hex"}));

    ASSERT_EQ(symlink("loop.hex", dir.Path("loop.hex").c_str()), 0);
    const ReplaceResult loop = ReplaceFile(dir.Path("loop.hex"), "x");
    EXPECT_FALSE(loop.replaced);
    EXPECT_EQ(loop.error, "too many levels of symbolic links");
}

TEST_F(ReplaceFileTest, WhatIsNotARegularFileOrCannotBeCreatedIsLeftAlone) {
    ASSERT_EQ(mkdir(dir.Path("sub").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0644), 0);
    for (const char* name : {"sub", "fifo"}) {
        const ReplaceResult result = ReplaceFile(dir.Path(name), "x");
        EXPECT_FALSE(result.replaced);
        EXPECT_EQ(result.error, dir.Path(name) + " is not a regular file");
    }
    const ReplaceResult missing = ReplaceFile(dir.Path("none/backup.hex"), "x");
    EXPECT_FALSE(missing.replaced);
    EXPECT_EQ(missing.error,
              "cannot create a new file in " + dir.Path("none") + ": No such file or directory");
    EXPECT_EQ(ReplaceFile("", "x").error, "no file name");
    EXPECT_EQ(Entries(dir.Path("")), (Strings{"fifo", "sub"}));
    EXPECT_TRUE(Entries(dir.Path("sub")).empty());
}

// Runs check as a user other than root, in a child, when the test runs as
// root (who may write any file); returns whether it passed.
bool AsAnotherUser(const std::function<bool()>& check) {
    if (geteuid() != 0) {
        return check();
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
        _exit(dropped && check() ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST_F(ReplaceFileTest, AFileTheUserMayNotWriteIsLeftAsItWas) {
    // The directory is writable, so a rename alone would replace the file.
    ASSERT_EQ(chmod(dir.Path("").c_str(), 0777), 0);
    const std::string path = dir.Write("locked.hex", "kept\n");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_TRUE(AsAnotherUser([&] {
        const ReplaceResult result = ReplaceFile(path, "new\n");
        return !result.replaced && result.error == "cannot write " + path + ": Permission denied";
    }));
    EXPECT_EQ(ReadFile(path), "kept\n");
    EXPECT_EQ(Entries(dir.Path("")), Strings{"locked.hex"});
}

// As the kernel follows a link for a plain open (fs.protected_symlinks): in
// a sticky world-writable directory such as /tmp, only the follower's own
// links and the directory owner's. Replaced through before.
TEST_F(ReplaceFileTest, AnotherUsersLinkInAStickyWorldWritableDirectoryIsNotFollowed) {
    constexpr uid_t kNobody = 65534;
    const std::string shared = dir.Path("tmp");
    const std::string system = dir.Write("system.conf", "kept\n");
    const std::string board = shared + "/board-before.hex";
    ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(symlink(system.c_str(), board.c_str()), 0);
    if (geteuid() != 0 || lchown(board.c_str(), kNobody, kNobody) != 0) {
        GTEST_SKIP() << "needs root, to leave a link of another user";
    }
    const bool kernel_protects = ReadFile("/proc/sys/fs/protected_symlinks") == "1\n";
    struct Case {
        mode_t mode;
        uid_t dir_owner;
        uid_t link_owner;
        bool followed;
    };
    const Case cases[] = {
        {01777, 0, 0, true},              // the follower's own
        {01777, kNobody, kNobody, true},  // the directory owner's
        {00777, 0, kNobody, true},        // not sticky
        {01775, 0, kNobody, true},        // not world-writable
        {01777, 0, kNobody, false},       // another user's link in /tmp (stays so below)
    };
    for (const Case& c : cases) {
        const std::string name = "mode " + std::to_string(c.mode) + ", directory of uid " +
                                 std::to_string(c.dir_owner) + ", link of uid " +
                                 std::to_string(c.link_owner);
        ASSERT_EQ(chown(shared.c_str(), c.dir_owner, c.dir_owner), 0);
        ASSERT_EQ(chmod(shared.c_str(), c.mode), 0);
        ASSERT_EQ(lchown(board.c_str(), c.link_owner, c.link_owner), 0);
        dir.Write("system.conf", "kept\n");
        const ReplaceResult result = ReplaceFile(board, "new\n");
        EXPECT_EQ(result.replaced, c.followed) << name << ": " << result.error;
        EXPECT_EQ(ReadFile(system), c.followed ? "new\n" : "kept\n") << name;
        EXPECT_EQ(Entries(shared), Strings{"board-before.hex"}) << name;
        if (kernel_protects) {
            const common::UniqueFd opened(open(board.c_str(), O_RDONLY | O_CLOEXEC));
            EXPECT_EQ(opened.IsOpen(), c.followed) << name << ": the kernel follows otherwise";
        }
    }
    EXPECT_EQ(ReplaceFile(board, "new\n").error,
              "the symbolic link " + board + " belongs to another user (uid 65534) in the sticky " +
                  "world-writable directory " + shared +
                  ", so it is not followed (fs.protected_symlinks): Permission denied");
    // Nor further on, through a link of the follower's own.
    const std::string own = dir.Path("own.hex");
    ASSERT_EQ(symlink(board.c_str(), own.c_str()), 0);
    EXPECT_FALSE(ReplaceFile(own, "new\n").replaced);
    EXPECT_EQ(ReadFile(system), "kept\n");
}

}  // namespace
