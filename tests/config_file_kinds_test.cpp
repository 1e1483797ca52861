// The hex record reader and the kinds of file it is given: files of other
// formats, refused with the command that converts them; pipes, devices and
// files too large; and the causes of failed opens and reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

#include "common/unique_fd.h"
#include "hex_records.h"

namespace {

using namespace gpaktest;

// Runs body in a child process, which ends after it (or after 10 s).
pid_t InChild(const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        body();
        _exit(0);
    }
    return pid;
}

// The child's wait status.
int Reap(pid_t pid) {
    int status = -1;
    return pid > 0 && waitpid(pid, &status, 0) == pid ? status : -1;
}

// Files of S-records, raw memory images (4096 NUL bytes were a NUL fault
// before) and UTF-16 text, refused at the line that shows it with the
// command that converts them; the command gives a file that is taken, with
// the image meant.
TEST_F(ConfigFileTest, OtherFormatsAreRefusedWithTheCommandThatConvertsThem) {
    Strings srec = {SRec('0', 0, {'g', 'p', 'a', 'k'})};
    for (unsigned addr = 0; addr < 256; addr += 32) {
        srec.push_back(SRec('1', addr, Counting(addr, 32)));
    }
    srec.push_back(SRec('9', 0, {}));
    const ConfigImage counting = CountingImage();
    const std::string counting_bytes(counting.begin(), counting.end());
    // The S-records and the image as srec_cat writes them, where it is installed.
    const std::string source = dir.Write("source.hex", Join(CountingLines(16)) + kEndRecord + "\n");
    const auto by_srec_cat = [&](const char* format, const std::string& by_hand) {
        const CommandResult made = RunCommand({"/bin/sh", "-c", "exec srec_cat \"$@\"", "srec_cat",
                                               source, "-intel", "-o", dir.Path("made"), format});
        return made.status == 0 ? ReadFile(dir.Path("made")) : by_hand;
    };
    std::string utf16 = "\xFF\xFE";
    for (const char c : Join(CountingLines(16)) + kEndRecord + "\r\n") {
        utf16 += {c, '\0'};
    }
    const auto srec_cat = [&](const std::string& in, const char* format, const std::string& out) {
        return ": convert it with srec_cat " + in + " " + format + " -o " + out + " -intel";
    };
    const std::string kSRecords = "an S-record (Motorola) file, not Intel HEX";
    const auto raw = [](const char* byte_column) {
        return "a raw binary file (byte " + std::string(byte_column) + "), not Intel HEX";
    };
    const ConfigImage erased = [] {
        ConfigImage image{};
        image.fill(0xFF);
        return image;
    }();
    struct Case {
        std::string name;       // of the file
        std::string converted;  // the name the command converts it to
        std::string content;
        int line;
        std::string message;
        std::optional<ConfigImage> image;  // what the converted file gives
    };
    const std::string a = dir.Path("a."), quoted_board = "'" + dir.Path("my board'\\''s.");
    const Case cases[] = {
        {"a.s19", "a.hex", by_srec_cat("-motorola", Join(srec)), 1,
         kSRecords + srec_cat(a + "s19", "-motorola", a + "hex"), CountingImage()},
        // Named .hex, with CR LF, after a comment: never converted onto itself.
        {"b.hex", "b-intel.hex",
         "# from the bench PC\r\n\r\n" +
             Join({SRec('3', 0, Counting(0, 16)), SRec('7', 0, {})}, "\r\n"),
         3, kSRecords + srec_cat(dir.Path("b.hex"), "-motorola", dir.Path("b-intel.hex")),
         CountingImage(16)},
        {"my board's.s19", "my board's.hex", Join(srec), 1,
         kSRecords + srec_cat(quoted_board + "s19'", "-motorola", quoted_board + "hex'"),
         CountingImage()},
        {"a.bin", "a.hex", by_srec_cat("-binary", counting_bytes), 1,
         raw("0x00 at column 1") + srec_cat(a + "bin", "-binary", a + "hex"), CountingImage()},
        {"erased.bin", "erased.hex", std::string(256, '\xFF'), 1,
         raw("0xFF at column 1") +
             srec_cat(dir.Path("erased.bin"), "-binary", dir.Path("erased.hex")),
         erased},
        {"c.bin", "", "AB\nC\x01\x02", 2,
         raw("0x01 at column 2") + srec_cat(dir.Path("c.bin"), "-binary", dir.Path("c.hex")),
         std::nullopt},
        {"config.hex", "", std::string(4096, '\0'), 1,
         raw("0x00 at column 1") +
             srec_cat(dir.Path("config.hex"), "-binary", dir.Path("config-intel.hex")),
         std::nullopt},
        {"u.hex", "u-utf8.hex", utf16, 1,
         "a UTF-16 text file (byte-order mark FF FE), not plain text: convert it with "
         "iconv -f UTF-16 -t UTF-8 -o " +
             dir.Path("u-utf8.hex") + " " + dir.Path("u.hex"),
         CountingImage()},
    };
    for (const Case& c : cases) {
        const std::string path = dir.Write(c.name, c.content);
        const ConfigFileResult result = ReadConfigFile(path, image);
        EXPECT_EQ(result.status, ConfigFileStatus::kRefused) << c.name;
        EXPECT_EQ(result.refusal, path + ":" + std::to_string(c.line) + ": " + c.message);
        EXPECT_EQ(image, ConfigImage{}) << c.name;
        if (!c.image) {
            continue;
        }
        const std::string command = result.refusal.substr(result.refusal.find("with ") + 5);
        const CommandResult run = RunCommand({"/bin/sh", "-c", command});
        if (run.status == 127) {
            continue;  // no srec_cat here: the refusal is proved, the conversion not
        }
        ASSERT_EQ(run.status, 0) << command << "\n" << run.err;
        ConfigImage converted{};
        EXPECT_EQ(ReadConfigFile(dir.Path(c.converted), converted).status, ConfigFileStatus::kRead)
            << command;
        EXPECT_EQ(converted, *c.image) << command;
    }
}

// A pipe (process substitution, /dev/stdin) has no name to write beside,
// and a name that starts with '-' would be an option to srec_cat.
TEST_F(ConfigFileTest, TheConversionIsAFilterForAPipeAndNeverTakesTheNameForAnOption) {
    const std::string srec = SRec('1', 0, Counting(0, 16)) + "\n" + SRec('9', 0, {}) + "\n";
    const common::UniqueFd fd(open(dir.Write("a.s19", srec).c_str(), O_RDONLY | O_CLOEXEC));
    const std::string through_dev = "/dev/fd/" + std::to_string(fd.Get());
    EXPECT_EQ(ReadConfigFile(through_dev, image).refusal,
              through_dev +
                  ":1: an S-record (Motorola) file, not Intel HEX: convert it with "
                  "srec_cat - -motorola -o - -intel");
    dir.Write("-a.bin", "\x01");
    const pid_t child = InChild([&] {
        ConfigImage own{};
        _exit(chdir(dir.Path("").c_str()) == 0 &&
                      ReadConfigFile("-a.bin", own).refusal ==
                          "-a.bin:1: a raw binary file (byte 0x01 at column 1), not Intel HEX: "
                          "convert it with srec_cat ./-a.bin -binary -o ./-a.hex -intel"
                  ? 0
                  : 1);
    });
    EXPECT_EQ(Reap(child), 0);
}

TEST_F(ConfigFileTest, FilesLargerThan1MiBAreRefusedWithoutReadingThemToTheEnd) {
    const std::string refusal =
        ": larger than 1 MiB, far more than a hex file of a 256-byte memory";
    // Exactly 1 MiB is still read: data, then comment lines to fill it.
    std::string file = Join(CountingLines(16)) + kEndRecord + "\n";
    const std::string filler = "#" + std::string(1022, '-') + "\n";
    while (file.size() + filler.size() <= (1u << 20)) {
        file += filler;
    }
    file += std::string((1u << 20) - file.size() - 1, '-') + "\n";
    ASSERT_EQ(file.size(), 1u << 20);
    ExpectTaken(file, CountingImage());
    const ConfigFileResult big = Read(file + "\n");
    EXPECT_EQ(big.status, ConfigFileStatus::kRefused);
    EXPECT_EQ(big.refusal, dir.Path("config.hex") + refusal);
    // An endless pipe ends at once (an endless device is not read at all).
    int ends[2] = {-1, -1};
    ASSERT_EQ(pipe(ends), 0);
    const pid_t writer = InChild([&] {
        close(ends[0]);
        const std::string chunk(4096, '#');
        while (write(ends[1], chunk.data(), chunk.size()) > 0) {
        }
    });
    close(ends[1]);
    const std::string pipe_path = "/dev/fd/" + std::to_string(ends[0]);
    const ConfigFileResult endless = ReadConfigFile(pipe_path, image);
    close(ends[0]);
    EXPECT_EQ(endless.status, ConfigFileStatus::kRefused);
    EXPECT_EQ(endless.refusal, pipe_path + refusal);
    Reap(writer);
}

TEST_F(ConfigFileTest, APipeIsReadOnceItsWriterComes) {
    const std::string fifo = dir.Path("fifo.hex");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string text = Join(CountingLines(16));
    const pid_t writer = InChild([&] {
        const common::UniqueFd fd(open(fifo.c_str(), O_WRONLY | O_CLOEXEC));
        (void)!write(fd.Get(), text.data(), text.size());
    });
    const ConfigFileResult result = ReadConfigFile(fifo, image);
    EXPECT_EQ(result.status, ConfigFileStatus::kRead) << result.refusal;
    EXPECT_EQ(image, CountingImage());
    EXPECT_EQ(Reap(writer), 0);
}

// On a device a read(2) is the device's own operation: on an I2C node, a
// transfer on the bus. Such files were read before.
TEST_F(ConfigFileTest, DevicesAreRefusedBeforeAByteIsReadFromThem) {
    const std::string refusal =
        ": a character device, not a hex record file: nothing was read from it";
    for (const std::string device : {"/dev/null", "/dev/zero"}) {
        const ConfigFileResult result = ReadConfigFile(device, image);
        EXPECT_EQ(result.status, ConfigFileStatus::kRefused) << device;
        EXPECT_EQ(result.refusal, device + refusal);
    }
    // A terminal with a line waiting to be read: the line is still there.
    const common::UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.IsOpen() || grantpt(master.Get()) != 0 || unlockpt(master.Get()) != 0) {
        GTEST_SKIP() << "no pseudo-terminal: " << std::strerror(errno);
    }
    const std::string terminal = ptsname(master.Get());
    const common::UniqueFd other_end(open(terminal.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(other_end.IsOpen()) << terminal;
    const std::string line = Join(CountingLines(16, 16));
    ASSERT_EQ(write(master.Get(), line.data(), line.size()), ssize_t(line.size()));
    pollfd waiting{other_end.Get(), POLLIN, 0};
    ASSERT_EQ(poll(&waiting, 1, 10000), 1);

    const ConfigFileResult result = ReadConfigFile(terminal, image);
    EXPECT_EQ(result.status, ConfigFileStatus::kRefused);
    EXPECT_EQ(result.refusal, terminal + refusal);
    std::string left(100, '\0');
    left.resize(std::max<ssize_t>(read(other_end.Get(), left.data(), left.size()), 0));
    EXPECT_EQ(left, line);
}

TEST_F(ConfigFileTest, OpenAndReadFailuresKeepTheirCause) {
    const ConfigFileResult missing = ReadConfigFile(dir.Path("missing.hex"), image);
    EXPECT_EQ(missing.status, ConfigFileStatus::kOpenFailed);
    EXPECT_EQ(missing.error_number, ENOENT);
    const ConfigFileResult directory = ReadConfigFile(dir.Path(""), image);
    EXPECT_EQ(directory.status, ConfigFileStatus::kReadFailed);
    EXPECT_EQ(directory.error_number, EISDIR);
}

}  // namespace
