// File on Linux: paths are UTF-32 wide strings converted to UTF-8 for the
// system calls, with "/" as the separator. Search patterns ("folder/*.txt")
// are matched in own code with the Windows rules: "*" and "?", case-insensitive.
#include "../file.h"

#include "../fsops.h"
#include "posixhelpers.h"

#include "../logger.h"
#include "../utils.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fendrel::posix {
// Defined in utils_posix.cpp: starts argv without waiting; 0 or the errno.
int SpawnDetached(const std::vector<std::string>& argv, pid_t& pid);
}  // namespace fendrel::posix

namespace {

constexpr std::uint64_t k4GiB = 1ull << 32;

std::string Native(const std::wstring& path) {
    return Utils::utf16ToUtf8(path);
}

using fendrel::posix::Fd;
using fendrel::posix::WriteAll;

struct Entry {
    std::wstring name;
    bool isDirectory;
};

// Entries of the pattern's folder whose names match its last component, in
// readdir order ("." and ".." included when they match); false when the
// folder cannot be read. A link counts as a directory when it leads to one,
// as a directory link does on Windows.
bool MatchEntries(const std::wstring& pattern, std::vector<Entry>& out) {
    const auto slash = pattern.rfind(L'/');
    const std::wstring folder = slash == std::wstring::npos ? L"." : slash == 0 ? L"/" : pattern.substr(0, slash);
    // Shell wildcard rules, "*.*" matching names without a dot included.
    const std::string wildcard = Native(slash == std::wstring::npos ? pattern : pattern.substr(slash + 1));
    DIR* dir = opendir(Native(folder).c_str());
    if (dir == nullptr) {
        return false;
    }
    while (dirent* entry = readdir(dir)) {
        if (!Wildcards::MatchSpec(entry->d_name, wildcard)) {
            continue;
        }
        std::wstring name = Utils::utf8ToUtf16(entry->d_name);
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st {};
            isDirectory = fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        out.push_back({std::move(name), isDirectory});
    }
    closedir(dir);
    return true;
}

HINSTANCE ShellResult(std::uintptr_t value) {
    return reinterpret_cast<HINSTANCE>(value);
}

// The shell's return convention: above 32 is success, 32 or less an error.
constexpr std::uintptr_t kShellSuccess = 33;
constexpr std::uintptr_t kShellOutOfResources = 0;
constexpr std::uintptr_t kShellFileNotFound = 2;
constexpr std::uintptr_t kShellAccessDenied = 5;
constexpr std::uintptr_t kShellNoAssociation = 31;

void LogNoDialog(const char* what) {
    static std::atomic_flag logged = ATOMIC_FLAG_INIT;
    if (!logged.test_and_set()) {
        LOG_INFO("%s: no native file dialog on Linux; the page hides it", what);
    }
}

}  // namespace

std::wstring File::FullPath() {
    std::string buffer(1024, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return Utils::utf8ToUtf16(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring File::TempPath() {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    if (path.back() != '/') {
        path += '/';
    }
    return Utils::utf8ToUtf16(path);
}

bool File::Exist(const std::wstring& path) {
    // lstat: a dangling link still occupies the name, so it "exists" here.
    struct stat st {};
    return !path.empty() && lstat(Native(path).c_str(), &st) == 0;
}

std::int64_t File::BytesSize64(const std::wstring& path) {
    struct stat st {};
    if (path.empty() || stat(Native(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool File::CreateDeepDirectory(const std::wstring& path) {
    // The Windows rule "shorter than 3 characters is invalid" guards against
    // "C:"; on Linux "/" is a complete, existing path, so only an empty path
    // (or one with an embedded NUL) is refused. A relative path is created
    // under the current folder, as mkdir -p does.
    const std::string native = Native(path);
    if (native.empty() || native.find('\0') != std::string::npos) {
        return false;
    }
    for (auto slash = native.find('/', 1);; slash = native.find('/', slash + 1)) {
        const std::string prefix = native.substr(0, slash);
        if (prefix.back() != '/') {
            mkdir(prefix.c_str(), 0777);  // an existing part is fine; the final check decides
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int File::CountFileInDir(const std::wstring& pattern) {
    std::vector<Entry> entries;
    if (!MatchEntries(pattern, entries) || entries.empty()) {
        return -1;
    }
    int files = 0;
    for (const auto& entry : entries) {
        files += entry.isDirectory ? 0 : 1;
    }
    return files;
}

std::vector<std::wstring> File::ListDir(const std::wstring& pattern) {
    std::vector<Entry> entries;
    std::vector<std::wstring> names;
    if (MatchEntries(pattern, entries)) {
        for (auto& entry : entries) {
            names.push_back(std::move(entry.name));
        }
    }
    return names;
}

std::vector<std::wstring> File::GetFilesInDir(const std::wstring& folder) {
    const std::wstring prefix = !folder.empty() && folder.back() == L'/' ? folder : folder + L'/';
    std::vector<Entry> entries;
    std::vector<std::wstring> files;
    if (MatchEntries(prefix + L"*", entries)) {
        for (const auto& entry : entries) {
            if (!entry.isDirectory) {
                files.push_back(prefix + entry.name);
            }
        }
    }
    return files;
}

bool File::Copy(const File& source, const std::wstring& destination, bool move) {
    const std::string from = Native(source.Path());
    const std::string to = Native(destination);
    Fd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0 || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    // Opening the destination truncates it: if it is the source under another
    // spelling (or a hard link), that would destroy the data being copied.
    struct stat target {};
    if (stat(to.c_str(), &target) == 0 && target.st_dev == st.st_dev && target.st_ino == st.st_ino) {
        return false;
    }
    Fd out(open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777));
    if (out.get() < 0) {
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 18);
    for (;;) {
        const ssize_t n = read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    if (ok) {
        // Like the Windows copy: the permissions and the modification time come along.
        fchmod(out.get(), st.st_mode & 07777);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(out.get(), times);
    }
    ok = out.Close() && ok;
    if (!ok) {
        unlink(to.c_str());  // a partial copy is of no use to anyone
        return false;
    }
    if (move && unlink(from.c_str()) != 0) {
        LOG_WARN("File::Copy: copied but could not remove the source (errno %d)", errno);
    }
    return true;
}

bool File::Delete(const File& file) {
    return unlink(Native(file.Path()).c_str()) == 0;
}

std::vector<std::uint8_t> File::readFile(const std::wstring& path) {
    Fd fd(open(Native(path).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) >= k4GiB) {
        return {};
    }
    // Read to the end rather than to st_size: files under /proc report 0.
    std::vector<std::uint8_t> data(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == data.size()) {
            if (data.size() >= k4GiB) {
                return {};
            }
            data.resize(data.size() * 2);
        }
        const ssize_t n = read(fd.get(), data.data() + used, data.size() - used);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return {};
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    data.resize(used);
    return data;
}

bool File::WriteBytes(const std::wstring& path, const std::string& bytes) {
    Fd fd(open(Native(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    return fd.get() >= 0 && WriteAll(fd.get(), bytes.data(), bytes.size()) && fd.Close();
}

HINSTANCE File::OpenFileBySystem(const std::wstring& file, const std::vector<std::wstring>& arguments,
                                 int showCommand) {
    const std::string path = Native(file);
    struct stat st {};
    const bool onPath = !path.empty() && path.find('/') == std::string::npos;
    if (!onPath && stat(path.c_str(), &st) != 0) {
        return ShellResult(kShellFileNotFound);
    }
    std::vector<std::string> argv;
    const bool program = onPath || (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0);
    if (program) {
        argv.push_back(path);
        for (const auto& argument : arguments) {
            argv.push_back(Native(argument));
        }
    } else {
        argv = {"xdg-open", path};  // documents and folders go to the desktop's opener
    }
    pid_t pid = 0;
    const int error = fendrel::posix::SpawnDetached(argv, pid);
    if (error == 0) {
        return ShellResult(kShellSuccess);
    }
    if (!program && error == ENOENT) {
        LOG_WARN("OpenFileBySystem: xdg-open is not installed; cannot open %s", path.c_str());
        return ShellResult(kShellNoAssociation);
    }
    return ShellResult(error == ENOENT ? kShellFileNotFound
                       : error == EACCES ? kShellAccessDenied
                                         : kShellOutOfResources);
}

bool File::OpenDirAndSelectFile(const std::wstring& path) {
    // There is no portable "select this item" request; the folder is opened.
    const std::string native = Native(path);
    struct stat st {};
    if (native.empty() || lstat(native.c_str(), &st) != 0) {
        return false;
    }
    const auto slash = native.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    pid_t pid = 0;
    const int error = fendrel::posix::SpawnDetached({"xdg-open", folder}, pid);
    if (error != 0) {
        LOG_WARN("OpenDirAndSelectFile: cannot start xdg-open (errno %d)", error);
    }
    return error == 0;
}

std::wstring File::ChooseDirectory(HWND owner) {
    LogNoDialog("ChooseDirectory");
    return {};
}

std::wstring File::SelectMultiFiles(HWND owner, const std::wstring& initialFolder, const std::wstring& filter,
                                    int filterIndex) {
    LogNoDialog("SelectMultiFiles");
    return {};
}
