// The walker's listing on Linux: getdents64 into a 64 KiB per-thread buffer,
// then one fstatat per entry relative to the open folder, so no path is
// built for the system call. SHA-512 through OpenSSL's EVP interface.
#include "../fastdir.h"
#include "../sha512state.h"

#include "../logger.h"
#include "../utils.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace FastDir {

namespace {

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

// Seconds and nanoseconds since 1970 as a FILETIME.
std::uint64_t FileTime(const struct timespec& time) {
    constexpr std::uint64_t kEpochDifference = 116444736000000000ull;  // 1601 → 1970 in 100 ns
    if (time.tv_sec < 0)
        return 0;
    return kEpochDifference + static_cast<std::uint64_t>(time.tv_sec) * 10000000ull +
           static_cast<std::uint64_t>(time.tv_nsec) / 100;
}

// File systems that show the kernel's state, not files: never walked.
bool IsPseudoFileSystem(long type) {
    switch (static_cast<unsigned long>(type)) {
    case 0x9fa0:       // proc
    case 0x62656572:   // sysfs
    case 0x1cd1:       // devpts
    case 0x27e0eb:     // cgroup
    case 0x63677270:   // cgroup2
    case 0x64626720:   // debugfs
    case 0x74726163:   // tracefs
    case 0x73636673:   // securityfs
    case 0xcafe4a11:   // bpf
    case 0x6e736673:   // nsfs
    case 0x42494e4d:   // binfmt_misc
    case 0x19800202:   // mqueue
    case 0x958458f6:   // hugetlbfs
    case 0x67596969:   // rpc_pipefs
    case 0xde5e81e4:   // efivarfs
    case 0x50495045:   // pipefs
        return true;
    default:
        return false;
    }
}

bool IsSystemTree(const std::string& path) {
    for (const char* root : {"/proc", "/sys", "/dev", "/run"}) {
        if (path == root)
            return true;
    }
    return false;
}

// open(2) for any length: a path the kernel refuses as too long is opened
// folder by folder, each step relative to the last.
int OpenAnyLength(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags);
    if (fd >= 0 || errno != ENAMETOOLONG || path.empty() || path[0] != '/')
        return fd;
    int at = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = 1;
    while (at >= 0) {
        std::size_t slash = path.find('/', start);
        while (slash == start) {  // "//"
            start = slash + 1;
            slash = path.find('/', start);
        }
        const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        const bool last = slash == std::string::npos || path.find_first_not_of('/', slash) == std::string::npos;
        const int next = openat(at, part.c_str(), last ? flags : (O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const int error = errno;
        close(at);
        if (last || next < 0) {
            errno = error;
            return next;
        }
        at = next;
        start = slash + 1;
    }
    return -1;
}

std::string Joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

bool List(const std::wstring& folder, const std::function<bool(const Entry&)>& visit) {
    const std::string path = Utils::utf16ToUtf8(folder);
    const int dir = OpenAnyLength(path.empty() ? "/" : path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    struct stat self;
    const dev_t device = fstat(dir, &self) == 0 ? self.st_dev : 0;

    thread_local std::unique_ptr<char[]> buffer(new char[65536]);
    Entry entry;
    for (bool going = true; going;) {
        const long read = syscall(SYS_getdents64, dir, buffer.get(), 65536);
        if (read <= 0) {
            if (read < 0)
                Logger_DebugF("fendrel/fastdir", __LINE__, "reading %s stopped: %s", path.c_str(), std::strerror(errno));
            break;
        }
        for (long offset = 0; going && offset < read;) {
            const auto* record = reinterpret_cast<const LinuxDirent64*>(buffer.get() + offset);
            offset += record->d_reclen;
            const char* name = record->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            struct stat st;
            if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // gone since it was listed, or not ours to see
            entry.name = Utils::utf8ToUtf16(name);
            entry.attributes = name[0] == '.' ? kAttrHidden : 0;
            entry.reparseTag = 0;
            entry.logicalSize = 0;
            entry.physicalSize = 0;
            entry.lastWrite = FileTime(st.st_mtim);
            if (S_ISLNK(st.st_mode)) {
                // A link to a folder is a folder link, never entered; a link
                // to a file is skipped by the walker.
                struct stat target;
                if (fstatat(dir, name, &target, 0) == 0 && S_ISDIR(target.st_mode))
                    entry.attributes |= kAttrDirectory;
                entry.attributes |= kAttrReparsePoint;
                entry.reparseTag = kTagSymlink;
            } else if (S_ISDIR(st.st_mode)) {
                entry.attributes |= kAttrDirectory;
                if (IsSystemTree(Joined(path, name))) {
                    entry.attributes |= kAttrHidden | kAttrSystem;
                } else if (st.st_dev != device) {
                    // A mount point: a kernel file system is protected; a
                    // real one is walked (the user chose this root).
                    struct statfs fs;
                    const int mounted = openat(dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
                    if (mounted >= 0) {
                        if (fstatfs(mounted, &fs) == 0 && IsPseudoFileSystem(fs.f_type))
                            entry.attributes |= kAttrHidden | kAttrSystem;
                        close(mounted);
                    }
                }
            } else if (S_ISREG(st.st_mode)) {
                entry.logicalSize = static_cast<std::uint64_t>(st.st_size);
                entry.physicalSize = static_cast<std::uint64_t>(st.st_blocks) * 512;
            } else {
                continue;  // sockets, pipes, devices: not files to measure
            }
            going = visit(entry);
        }
    }
    close(dir);
    return true;
}

std::wstring VolumeKey(const std::wstring& path) {
    struct stat st;
    if (stat(Utils::utf16ToUtf8(path).c_str(), &st) != 0)
        return path;
    return std::to_wstring(static_cast<unsigned long long>(st.st_dev));
}

FileReader::FileReader(const std::wstring& path) {
    const int file = OpenAnyLength(Utils::utf16ToUtf8(path), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (file < 0)
        return;
    struct stat st;
    if (fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(file);
        return;
    }
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    size = static_cast<std::uint64_t>(st.st_size);
    lastWrite = FileTime(st.st_mtim);
    posix_fadvise(file, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_handle = file;
    m_open = true;
}

FileReader::~FileReader() {
    if (m_open)
        close(static_cast<int>(m_handle));
}

std::int64_t FileReader::ReadSome(void* buffer, std::size_t want) {
    for (;;) {
        const ssize_t part = read(static_cast<int>(m_handle), buffer, want);
        if (part >= 0 || errno != EINTR)
            return part;
    }
}

struct Sha512State::Impl {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context{EVP_MD_CTX_new(), EVP_MD_CTX_free};
};

Sha512State::Sha512State() : m_impl(std::make_unique<Impl>()) {
    m_ok = m_impl->context && EVP_DigestInit_ex(m_impl->context.get(), EVP_sha512(), nullptr) == 1;
}

Sha512State::~Sha512State() = default;

bool Sha512State::Update(const void* data, std::size_t size) {
    return m_ok && EVP_DigestUpdate(m_impl->context.get(), data, size) == 1;
}

std::vector<std::uint8_t> Sha512State::Finish() {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_ok || EVP_DigestFinal_ex(m_impl->context.get(), out, &length) != 1)
        return {};
    return std::vector<std::uint8_t>(out, out + length);
}

}  // namespace FastDir
