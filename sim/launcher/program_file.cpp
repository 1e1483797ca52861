#include "launcher/program_file.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "raw/raw_io.h"

namespace gpaksim {

namespace {

struct ElfFile {
    unsigned char elf_class = 0;
    unsigned char data = 0;
    unsigned machine = 0;
    unsigned arm_float_abi = 0;  // hard or soft float calling convention of 32-bit ARM
    bool interpreter = false;    // has a PT_INTERP program header: the dynamic loader starts it
};

constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kNativeData =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

bool ReadAt(int fd, void* buf, std::size_t len, off_t offset) {
    return pread(fd, buf, len, offset) == static_cast<ssize_t>(len);
}

// False when even the file header cannot be read; a program header table
// that cannot be read leaves interpreter false, as exec would fail anyway.
template <typename Ehdr, typename Phdr>
bool ReadHeaders(int fd, ElfFile& elf) {
    Ehdr header{};
    if (!ReadAt(fd, &header, sizeof header, 0)) {
        return false;
    }
    elf.machine = header.e_machine;
    if (header.e_machine == EM_ARM) {
        elf.arm_float_abi = header.e_flags & (EF_ARM_ABI_FLOAT_HARD | EF_ARM_ABI_FLOAT_SOFT);
    }
    for (unsigned i = 0; header.e_phentsize == sizeof(Phdr) && i < header.e_phnum; ++i) {
        Phdr phdr{};
        if (!ReadAt(fd, &phdr, sizeof phdr, static_cast<off_t>(header.e_phoff + i * sizeof phdr))) {
            break;
        }
        if (phdr.p_type == PT_INTERP) {
            elf.interpreter = true;
            break;
        }
    }
    return true;
}

// False when path is no ELF file. Only files of this process's word size
// and byte order have their headers read, natively; others differ from it
// in elf_class or data anyway.
bool ReadElf(const char* path, ElfFile& elf) {
    // Never through the overrides. Only a regular file is read: a FIFO
    // opens without waiting for a writer, and a device node that took the
    // place of the file is not read from.
    const int fd = raw::Open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        raw::Close(fd);
        return false;
    }
    if (fd < 0) {
        return false;
    }
    unsigned char ident[EI_NIDENT] = {};
    bool ok = ReadAt(fd, ident, sizeof ident, 0) && std::memcmp(ident, ELFMAG, SELFMAG) == 0;
    if (ok) {
        elf.elf_class = ident[EI_CLASS];
        elf.data = ident[EI_DATA];
        if (elf.elf_class == kNativeClass && elf.data == kNativeData) {
            ok = kNativeClass == ELFCLASS64 ? ReadHeaders<Elf64_Ehdr, Elf64_Phdr>(fd, elf)
                                            : ReadHeaders<Elf32_Ehdr, Elf32_Phdr>(fd, elf);
        }
    }
    raw::Close(fd);
    return ok;
}

}  // namespace

ProgramKind InspectProgram(const std::string& path, const std::string& reference) {
    ElfFile ours;
    ElfFile elf;
    if (!ReadElf(reference.c_str(), ours) || !ReadElf(path.c_str(), elf)) {
        return ProgramKind::kOther;
    }
    if (elf.elf_class != ours.elf_class || elf.data != ours.data || elf.machine != ours.machine ||
        elf.arm_float_abi != ours.arm_float_abi) {
        return ProgramKind::kOtherMachine;
    }
    return elf.interpreter ? ProgramKind::kDynamic : ProgramKind::kStatic;
}

std::string FindProgram(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/bin:/usr/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

}  // namespace gpaksim
