#include "cli/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/interruption.h"
#include "cli/say.h"
#include "cli/status.h"
#include "cli/texts.h"

namespace cli {

namespace {

int g_write_error = 0;  // errno of the first failed write to standard output

// Standard output through a stream of our own, so that the cause of a
// failed write is kept: the C library's stream forgets it. After a failed
// write the rest is dropped: the output is incomplete anyway, and a
// file-size limit or a lost reader is not met again and again.
ssize_t WriteOut(void* /*cookie*/, const char* buf, std::size_t size) {
    if (g_write_error != 0) {
        return static_cast<ssize_t>(size);
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(STDOUT_FILENO, buf + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (g_write_error == 0) {
                g_write_error = n < 0 ? errno : EIO;
            }
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

ssize_t Drop(void* /*cookie*/, const char* /*buf*/, std::size_t size) {
    return static_cast<ssize_t>(size);
}

// A stream that gives what is written to it to write.
std::FILE* WrittenBy(cookie_write_function_t* write) {
    cookie_io_functions_t functions{};
    functions.write = write;
    return fopencookie(nullptr, "w", functions);
}

}  // namespace

void PrepareStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // The lowest free descriptor: this one. Read-only, so that what
            // the run writes to a closed output still fails (EBADF) and is
            // reported, as if nothing stood there.
            const int null_fd = open("/dev/null", O_RDONLY);
            if (null_fd != fd && null_fd >= 0) {
                close(null_fd);
            }
        }
    }
    TakeFileSizeLimitAsWriteError();
    if (std::FILE* out = WrittenBy(WriteOut)) {
        stdout = out;  // a plain variable in the GNU C library
    }
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

int FinishOutput(int status) {
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || g_write_error != 0;
    if (!failed) {
        return status;
    }
    const int error = g_write_error != 0 ? g_write_error : errno;
    if (error != 0) {
        SayErrno(error, "write error");
    } else {
        Say("write error: standard output");
    }
    std::clearerr(stdout);
    g_write_error = 0;
    return status == kExitOk ? kExitFailed : status;
}

QuietOutput::QuietOutput(bool quiet) {
    std::FILE* nowhere = quiet ? WrittenBy(Drop) : nullptr;
    if (nowhere == nullptr) {
        return;  // not quiet, or out of memory: the run is as loud as without -q
    }
    std::fflush(stdout);
    saved_ = stdout;
    stdout = nowhere;  // a plain variable in the GNU C library
}

QuietOutput::~QuietOutput() {
    if (saved_ != nullptr) {
        std::fclose(stdout);
        stdout = saved_;
    }
}

void PrintHeading(const char* heading) { std::printf("%s\n%s\n", heading, texts::kRule); }

void DumpData(const ConfigImage& image) {
    std::printf("Page |  0 1 2 3 4 5 6 7 8 9 A B C D E F\n");
    std::printf("-----+---------------------------------\n");
    for (int row = 0; row < kPageCount; ++row) {
        std::printf("0x%02X | ", row);
        for (std::size_t col = 0; col < kPageSize; ++col) {
            std::printf("%02x", image[PageOffset(row) + col]);
        }
        std::printf("\n");
    }
}

}  // namespace cli
