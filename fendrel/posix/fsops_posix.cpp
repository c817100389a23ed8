// The engines' file system, wildcard, environment, disk and INI services on
// Linux, with the semantics of the Windows calls they stand in for.
#include "../fsops.h"

#include "../utf8.h"
#include "posixhelpers.h"

#include "../file.h"
#include "../inidocument.h"
#include "../logger.h"
#include "../utils.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

using fendrel::posix::Fd;

bool CopyContents(int from, int to) {
    static constexpr std::size_t kChunk = 256 * 1024;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        const ssize_t got = read(from, buffer.get(), kChunk);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(to, buffer.get() + done, static_cast<std::size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += put;
        }
    }
}

// Keeps errno across clean-up calls that may change it.
class ErrnoKeeper {
public:
    ErrnoKeeper() : m_saved(errno) {}
    ~ErrnoKeeper() { errno = m_saved; }

private:
    int m_saved;
};

}  // namespace

bool FileSystem::Exists(const std::string& path) {
    // lstat: a link counts itself, dangling or not.
    struct stat st;
    return !path.empty() && lstat(path.c_str(), &st) == 0;
}

std::int64_t FileSystem::Size(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool FileSystem::CopyFile(const std::string& from, const std::string& to, bool overwrite) {
    // O_NOFOLLOW on both sides: a link planted where a file was expected
    // must not make the copy read or overwrite something else.
    // O_NONBLOCK: a FIFO in the way must fail the type check below, not hang.
    Fd source(open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!source.valid())
        return false;
    struct stat info;
    if (fstat(source.get(), &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // No O_TRUNC yet: the destination may turn out to be the source itself.
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (overwrite ? 0 : O_EXCL);
    Fd target(open(to.c_str(), flags, info.st_mode & 0777));
    if (!target.valid())
        return false;
    struct stat existing;
    if (fstat(target.get(), &existing) != 0)
        return false;
    // Only a regular file is replaced, and never the source itself.
    if (!S_ISREG(existing.st_mode) || (existing.st_dev == info.st_dev && existing.st_ino == info.st_ino)) {
        errno = EINVAL;
        return false;
    }
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (ftruncate(target.get(), 0) != 0 || !CopyContents(source.get(), target.get()) ||
        futimens(target.get(), times) != 0 || !target.Close()) {
        // What is there now is neither the old file nor the copy.
        ErrnoKeeper keep;
        target.Close();
        unlink(to.c_str());
        return false;
    }
    return true;
}

bool FileSystem::RemoveFile(const std::string& path, int* error) {
    // unlink removes a link itself, never its target, and refuses folders.
    if (unlink(path.c_str()) == 0)
        return true;
    if (error != nullptr)
        *error = errno;
    return false;
}

bool FileSystem::ForceDeleteFile(const std::wstring& path) {
    const std::string narrow = Utils::Utf16ToAnsi(path);
    if (narrow.empty()) {
        errno = ENOENT;
        return false;
    }
    // The parent path may pass through links the rule's pattern resolved;
    // the last component is unlinked relative to it, and unlinkat never
    // follows a final link: a link goes, its target stays. Removing a name
    // needs write access to the folder only, so read-only files go too.
    const std::size_t slash = narrow.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : narrow.substr(0, slash));
    const std::string name = slash == std::string::npos ? narrow : narrow.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return false;
    }
    fendrel::posix::Fd folder(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        return false;
    // Flag 0 (not AT_REMOVEDIR): a folder is refused with EISDIR.
    if (unlinkat(folder.get(), name.c_str(), 0) == 0)
        return true;
    ErrnoKeeper keep;
    folder.Close();
    return false;
}

std::string FileSystem::CreateTempFile(const std::string& prefix) {
    std::string name = Utils::utf16ToUtf8(File::TempPath()) + prefix + "XXXXXX";
    const int fd = mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0)
        return {};
    close(fd);
    return name;
}

std::string FileSystem::ProgramDirectory() {
    return Utils::Utf16ToAnsi(File::Directory(L""));
}

int FileSystem::LastError() {
    return errno;
}

// ---------------------------------------------------------------------------
// Wildcards

namespace {

// Characters are code points; a byte that starts no valid UTF-8 sequence
// stands for itself outside the Unicode range, so it matches only itself.
constexpr char32_t kRawByte = 0x110000;

std::u32string DecodeName(const std::string& text) {
    std::u32string out;
    out.reserve(text.size());
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        char32_t c;
        std::size_t length;
        if (fendrel::DecodeUtf8At(data, size, i, c, length)) {
            out += c;
            i += length;
        } else {
            out += kRawByte + data[i];
            ++i;
        }
    }
    return out;
}

// The process may run in the "C" locale, whose towlower knows ASCII only;
// C.UTF-8 has the full Unicode case tables and needs nothing installed.
char32_t Fold(char32_t c) {
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    if (c >= kRawByte)
        return c;
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8 != static_cast<locale_t>(nullptr))
        return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8));
    // Without it, at least Latin-1 letters fold.
    return c >= 0xC0 && c <= 0xDE && c != 0xD7 ? c + 0x20 : c;
}

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One ";"-free pattern against a whole name, characters compared after
// fold. "*" takes any run, "?" one character. Backtracks to the last "*"
// only: with no other construct that is enough, and it never goes
// exponential.
template <typename Char, typename FoldFn>
bool MatchOne(const Char* name, std::size_t nameSize, const Char* pattern, std::size_t patternSize, FoldFn fold) {
    std::size_t n = 0, p = 0, star = SIZE_MAX, resume = 0;
    while (n < nameSize) {
        if (p < patternSize && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < patternSize && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
            ++p;
            ++n;
        } else if (star != SIZE_MAX) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < patternSize && pattern[p] == '*')
        ++p;
    return p == patternSize;
}

// The list rules of the Windows call: entries split at ";", each losing its
// leading spaces; an empty pattern matches nothing.
template <typename Char, typename FoldFn>
bool MatchList(const std::basic_string<Char>& name, const std::basic_string<Char>& pattern, FoldFn fold) {
    std::size_t i = 0;
    while (i < pattern.size()) {
        while (i < pattern.size() && pattern[i] == ' ')
            ++i;
        std::size_t end = i;
        while (end < pattern.size() && pattern[end] != ';')
            ++end;
        if (MatchOne(name.data(), name.size(), pattern.data() + i, end - i, fold))
            return true;
        i = end < pattern.size() ? end + 1 : end;
    }
    return false;
}

}  // namespace

bool Wildcards::MatchSpec(const std::string& name, const std::string& pattern) {
    if (pattern == "*.*")
        return true;  // "every file", dot or no dot
    // Most names and patterns are ASCII: compare bytes, no copy, no decoding.
    if (IsAscii(name) && IsAscii(pattern))
        return MatchList(name, pattern, [](char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; });
    std::u32string n = DecodeName(name), p = DecodeName(pattern);
    for (auto* text : {&n, &p})
        for (char32_t& c : *text)
            c = Fold(c);
    return MatchList(n, p, [](char32_t c) { return c; });
}

// ---------------------------------------------------------------------------
// Environment

std::string Environment::Expand(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto open = text.find('%', i);
        if (open == std::string::npos) {
            out.append(text, i, std::string::npos);
            break;
        }
        out.append(text, i, open - i);
        const auto close = text.find('%', open + 1);
        if (close == std::string::npos) {
            out.append(text, open, std::string::npos);  // a lone "%" stays
            break;
        }
        const std::string name = text.substr(open + 1, close - open - 1);
        // getenv("A=B") would find the variable A when its value starts with
        // "B="; no variable name holds "=".
        const char* value =
            name.empty() || name.find('=') != std::string::npos ? nullptr : std::getenv(name.c_str());
        if (value != nullptr)
            out += value;
        else
            out.append(text, open, close - open + 1);  // unknown: kept whole, go on after it
        i = close + 1;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Disks

namespace {

// Kernel interfaces, memory and read-only images: nothing on them is a
// user's disk space to clean. tmpfs (/run, /dev/shm, often /tmp) is memory;
// a rule that wants /tmp names it. squashfs and erofs are mounted packages
// (snaps) and cannot be written. Network file systems and overlay (the root
// of a container) stay.
bool IsPseudoFileSystem(const std::string& type) {
    static const char* const kPseudo[] = {
        "proc",       "sysfs",      "devtmpfs",  "devpts",     "tmpfs",         "ramfs",          "cgroup",
        "cgroup2",    "securityfs", "debugfs",   "tracefs",    "pstore",        "bpf",            "mqueue",
        "hugetlbfs",  "fusectl",    "configfs",  "autofs",     "binfmt_misc",   "efivarfs",       "rpc_pipefs",
        "nsfs",       "selinuxfs",  "smackfs",   "nfsd",       "squashfs",      "erofs",          "devfs",
        "usbfs",      "xenfs",      "fuse.portal", "fuse.gvfsd-fuse", "fuse.lxcfs", "fuse.snapfuse",
    };
    for (const char* pseudo : kPseudo) {
        if (type == pseudo)
            return true;
    }
    return false;
}

// Mount information escapes space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

struct Mount {
    std::string device;  // "major:minor"
    std::string root;    // the part of that file system mounted here
    std::string point;
    std::string type;
};

// One line of /proc/self/mountinfo:
//   36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue
std::optional<Mount> ParseMountLine(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start < line.size()) {
        const auto space = line.find(' ', start);
        const std::size_t end = space == std::string::npos ? line.size() : space;
        if (end > start)
            fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    const auto separator = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 6 || separator == fields.end() || separator + 1 == fields.end() ||
        separator - fields.begin() < 6)
        return std::nullopt;
    return Mount{fields[2], Unescape(fields[3]), Unescape(fields[4]), *(separator + 1)};
}

}  // namespace

bool Disks::List(std::vector<std::string>& roots) {
    roots.clear();
    std::ifstream file("/proc/self/mountinfo");
    if (!file) {
        LOG_WARN("cannot read /proc/self/mountinfo: %s", std::strerror(errno));
        return false;
    }
    std::vector<Mount> mounts;
    std::string line;
    while (std::getline(file, line)) {
        auto mount = ParseMountLine(line);
        if (!mount)
            continue;
        // A later mount on the same point hides the earlier one.
        mounts.erase(std::remove_if(mounts.begin(), mounts.end(),
                                    [&](const Mount& m) { return m.point == mount->point; }),
                     mounts.end());
        mounts.push_back(std::move(*mount));
    }
    std::vector<const Mount*> kept;
    for (const Mount& mount : mounts) {
        if (IsPseudoFileSystem(mount.type))
            continue;
        // The same tree mounted again elsewhere (a bind mount) is one disk.
        if (std::any_of(kept.begin(), kept.end(),
                        [&](const Mount* k) { return k->device == mount.device && k->root == mount.root; }))
            continue;
        // A single file bind-mounted over another (a container's
        // /etc/hosts) is no disk. Only those need a look: checking every
        // mount could hang on an unreachable network share.
        if (mount.root != "/") {
            struct stat st;
            if (stat(mount.point.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                continue;
        }
        kept.push_back(&mount);
        roots.push_back(mount.point == "/" ? std::string() : mount.point);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Profile

std::string Profile::ReadString(const std::string& file, const std::string& section, const std::string& key) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    IniDocument document;
    if (bytes.empty() || !document.Load(bytes.data(), bytes.size()))
        return {};
    const auto value =
        document.Get(Utils::utf8ToUtf16(section).c_str(), Utils::utf8ToUtf16(key).c_str());
    if (!value)
        return {};
    std::string text = Utils::utf16ToUtf8(*value);
    // As the profile functions do: a value wholly in quotes loses them.
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return text;
}

std::vector<Disks::Space> Disks::FixedSpaces() {
    std::vector<Space> spaces;
    std::vector<std::string> roots;
    List(roots);
    for (const std::string& root : roots) {
        const std::string point = root.empty() ? "/" : root;
        struct statvfs info {};
        if (statvfs(point.c_str(), &info) != 0)
            continue;
        spaces.push_back({point, static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize,
                          static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize});
    }
    return spaces;
}

std::vector<std::string> Disks::FixedRoots(std::string& systemDrive) {
    systemDrive = "/";
    std::vector<std::string> roots;
    List(roots);
    for (std::string& root : roots) {
        if (root.empty())
            root = "/";
    }
    return roots;
}
