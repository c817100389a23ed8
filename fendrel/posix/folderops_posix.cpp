// Linux folder services: symbolic links stand in for junctions, trees are
// walked relative to opened folders (no length limit, never through a link),
// copies keep modes, times and extended attributes where the target allows.
#include "fendrel/folderops.h"

#include "fendrel/logger.h"
#include "fendrel/posix/posixhelpers.h"
#include "fendrel/userdirs.h"
#include "fendrel/utils.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

using fendrel::posix::Fd;

namespace {

std::string U8(const std::wstring& text) {
    return Utils::utf16ToUtf8(text);
}

std::wstring W(const std::string& text) {
    return Utils::utf8ToUtf16(text);
}

std::mutex g_faultLock;
FolderOps::Faults g_faults;

FolderOps::Faults CurrentFaults() {
    std::lock_guard<std::mutex> lock(g_faultLock);
    return g_faults;
}

// A triggered test fault: false for the caller to fail, or the end of the process.
bool Fault() {
    if (CurrentFaults().killAtFault)
        raise(SIGKILL);
    return false;
}

std::string Parent(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The deepest part of the path that exists, for volume and space questions.
std::string ExistingAncestor(std::string path) {
    struct stat st {};
    while (!path.empty() && lstat(path.c_str(), &st) != 0) {
        const std::string parent = Parent(path);
        if (parent == path)
            break;
        path = parent;
    }
    return path;
}

// Names in an opened folder, without "." and "..". false when unreadable.
bool ListNames(int dirFd, std::vector<std::string>& names) {
    const int copy = dup(dirFd);
    if (copy < 0)
        return false;
    DIR* dir = fdopendir(copy);
    if (dir == nullptr) {
        close(copy);
        return false;
    }
    rewinddir(dir);
    errno = 0;
    while (dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        names.emplace_back(entry->d_name);
    }
    const bool ok = errno == 0;
    closedir(dir);
    return ok;
}

int OpenFolderNoFollow(int at, const char* name) {
    return openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

void MeasureAt(int dirFd, FolderOps::Tally& tally) {
    std::vector<std::string> names;
    if (!ListNames(dirFd, names))
        tally.complete = false;
    for (const std::string& name : names) {
        struct stat st {};
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            tally.complete = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            Fd child(OpenFolderNoFollow(dirFd, name.c_str()));
            if (!child.valid()) {
                tally.complete = false;
                continue;
            }
            MeasureAt(child.get(), tally);
        } else {
            ++tally.files;
            if (S_ISREG(st.st_mode))
                tally.bytes += static_cast<std::uint64_t>(st.st_size);
        }
    }
}

// Deletes the folder's content; count is the files removed so far (faults).
bool DeleteContentAt(int dirFd, const std::string& shown, std::int64_t& count, std::int64_t failAfter) {
    std::vector<std::string> names;
    if (!ListNames(dirFd, names)) {
        LOG_WARN("mover: cannot list %s: %s", shown.c_str(), std::strerror(errno));
        return false;
    }
    bool ok = true;
    for (const std::string& name : names) {
        struct stat st {};
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // gone meanwhile
        if (S_ISDIR(st.st_mode)) {
            Fd child(OpenFolderNoFollow(dirFd, name.c_str()));
            if (!child.valid() || !DeleteContentAt(child.get(), shown + "/" + name, count, failAfter)) {
                ok = false;
                if (failAfter >= 0 && count >= failAfter)
                    return false;
                continue;
            }
            child.Close();
            if (unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) {
                LOG_WARN("mover: cannot remove the folder %s/%s: %s", shown.c_str(), name.c_str(), std::strerror(errno));
                ok = false;
            }
        } else {
            if (failAfter >= 0 && count >= failAfter) {
                LOG_WARN("mover: deletion of %s stopped by the test fault after %lld files", shown.c_str(),
                         static_cast<long long>(count));
                return Fault();
            }
            if (unlinkat(dirFd, name.c_str(), 0) != 0) {
                LOG_WARN("mover: cannot remove %s/%s: %s", shown.c_str(), name.c_str(), std::strerror(errno));
                ok = false;
                continue;
            }
            ++count;
        }
    }
    return ok;
}

void CopyXattrs(int fromFd, int toFd, const std::string& shown) {
    const ssize_t size = flistxattr(fromFd, nullptr, 0);
    if (size <= 0)
        return;
    std::vector<char> names(static_cast<std::size_t>(size));
    const ssize_t got = flistxattr(fromFd, names.data(), names.size());
    if (got <= 0)
        return;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
        const char* name = names.data() + at;
        at += std::strlen(name) + 1;
        const ssize_t length = fgetxattr(fromFd, name, nullptr, 0);
        if (length < 0)
            continue;
        std::vector<char> value(static_cast<std::size_t>(length) + 1);
        const ssize_t read = fgetxattr(fromFd, name, value.data(), value.size());
        // Some attributes (security.*, system.*) are the system's to set: a
        // copy without them is still complete.
        if (read < 0 || fsetxattr(toFd, name, value.data(), static_cast<std::size_t>(read), 0) != 0)
            LOG_DEBUG("mover: extended attribute %s of %s not copied", name, shown.c_str());
    }
}

bool CopyFileAt(int fromDir, int toDir, const std::string& name, const struct stat& st, const std::string& shown) {
    Fd in(openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid()) {
        LOG_WARN("mover: cannot open %s: %s", shown.c_str(), std::strerror(errno));
        return false;
    }
    Fd out(openat(toDir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid()) {
        LOG_WARN("mover: cannot create the copy of %s: %s", shown.c_str(), std::strerror(errno));
        return false;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            LOG_WARN("mover: cannot read %s: %s", shown.c_str(), std::strerror(errno));
            return false;
        }
        if (n == 0)
            break;
        if (!fendrel::posix::WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(n))) {
            LOG_WARN("mover: cannot write the copy of %s: %s", shown.c_str(), std::strerror(errno));
            return false;
        }
    }
    CopyXattrs(in.get(), out.get(), shown);
    if (fchown(out.get(), st.st_uid, st.st_gid) != 0)
        LOG_DEBUG("mover: owner of %s not kept", shown.c_str());
    fchmod(out.get(), st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out.get(), times);
    if (fsync(out.get()) != 0 || !out.Close()) {
        LOG_WARN("mover: the copy of %s did not reach the disk: %s", shown.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

bool CopyContentAt(int fromDir, int toDir, const std::string& shown, std::int64_t& count, std::int64_t failAfter) {
    std::vector<std::string> names;
    if (!ListNames(fromDir, names)) {
        LOG_WARN("mover: cannot list %s: %s", shown.c_str(), std::strerror(errno));
        return false;
    }
    for (const std::string& name : names) {
        const std::string path = shown + "/" + name;
        struct stat st {};
        if (fstatat(fromDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            LOG_WARN("mover: cannot read %s: %s", path.c_str(), std::strerror(errno));
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            Fd from(OpenFolderNoFollow(fromDir, name.c_str()));
            if (!from.valid() || mkdirat(toDir, name.c_str(), 0700) != 0) {
                LOG_WARN("mover: cannot copy the folder %s: %s", path.c_str(), std::strerror(errno));
                return false;
            }
            Fd to(OpenFolderNoFollow(toDir, name.c_str()));
            if (!to.valid() || !CopyContentAt(from.get(), to.get(), path, count, failAfter))
                return false;
            CopyXattrs(from.get(), to.get(), path);
            fchmod(to.get(), st.st_mode & 07777);
            const timespec times[2] = {st.st_atim, st.st_mtim};
            futimens(to.get(), times);
            continue;
        }
        if (failAfter >= 0 && count >= failAfter) {
            LOG_WARN("mover: copy of %s stopped by the test fault after %lld files", shown.c_str(),
                     static_cast<long long>(count));
            return Fault();
        }
        if (S_ISLNK(st.st_mode)) {
            std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
            const ssize_t n = readlinkat(fromDir, name.c_str(), target.data(), target.size() - 1);
            if (n < 0 || symlinkat(std::string(target.data(), static_cast<std::size_t>(n)).c_str(), toDir,
                                   name.c_str()) != 0) {
                LOG_WARN("mover: cannot copy the link %s: %s", path.c_str(), std::strerror(errno));
                return false;
            }
            const timespec times[2] = {st.st_atim, st.st_mtim};
            utimensat(toDir, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
        } else if (S_ISREG(st.st_mode)) {
            if (!CopyFileAt(fromDir, toDir, name, st, path))
                return false;
        } else if (S_ISFIFO(st.st_mode)) {
            if (mkfifoat(toDir, name.c_str(), st.st_mode & 07777) != 0) {
                LOG_WARN("mover: cannot copy the pipe %s: %s", path.c_str(), std::strerror(errno));
                return false;
            }
        } else {
            // Sockets and device nodes belong to running programs or the
            // system; refusing keeps the source whole.
            LOG_WARN("mover: %s is a socket or device node and cannot be copied", path.c_str());
            return false;
        }
        ++count;
    }
    return true;
}

// Removes from the copy what has a counterpart in the original; origDir may
// be -1 (no counterpart folder). True when everything went.
bool RemoveCopiedAt(int copyDir, int origDir, const std::string& shown) {
    std::vector<std::string> names;
    if (!ListNames(copyDir, names)) {
        LOG_WARN("mover: cannot list %s: %s", shown.c_str(), std::strerror(errno));
        return false;
    }
    bool all = true;
    for (const std::string& name : names) {
        const std::string path = shown + "/" + name;
        struct stat c {}, o {};
        if (fstatat(copyDir, name.c_str(), &c, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const bool twin = origDir >= 0 && fstatat(origDir, name.c_str(), &o, AT_SYMLINK_NOFOLLOW) == 0 &&
                          (c.st_mode & S_IFMT) == (o.st_mode & S_IFMT);
        if (S_ISDIR(c.st_mode)) {
            Fd child(OpenFolderNoFollow(copyDir, name.c_str()));
            Fd original(twin ? OpenFolderNoFollow(origDir, name.c_str()) : -1);
            if (!child.valid() || !RemoveCopiedAt(child.get(), original.get(), path)) {
                all = false;
                continue;
            }
            child.Close();
            if (unlinkat(copyDir, name.c_str(), AT_REMOVEDIR) != 0) {
                LOG_WARN("mover: cannot remove the folder %s: %s", path.c_str(), std::strerror(errno));
                all = false;
            }
        } else if (twin && (!S_ISREG(c.st_mode) || c.st_size <= o.st_size)) {
            if (unlinkat(copyDir, name.c_str(), 0) != 0) {
                LOG_WARN("mover: cannot remove %s: %s", path.c_str(), std::strerror(errno));
                all = false;
            }
        } else {
            LOG_WARN("mover: %s is no part of the copy and stays", path.c_str());
            all = false;
        }
    }
    return all;
}

// The six folder ids and their XDG keys.
struct XdgFolder {
    const wchar_t* id;
    const char* key;
};
constexpr XdgFolder kXdgFolders[] = {
    {L"{374DE290-123F-4565-9164-39C4925E467B}", "DOWNLOAD"},
    {L"{18989B1D-99B5-455B-841C-AB7C74E4DDFC}", "VIDEOS"},
    {L"{4BD8D571-6D19-48D3-BE97-422220080E43}", "MUSIC"},
    {L"{33E28130-4E1E-4676-835A-98395C3BC3BB}", "PICTURES"},
    {L"{FDD39AD0-238F-46AF-ADB4-6C85480369C7}", "DOCUMENTS"},
    {L"{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}", "DESKTOP"},
};

const char* XdgKey(const std::wstring& folderId) {
    std::wstring upper = folderId;
    for (auto& c : upper)
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    for (const XdgFolder& folder : kXdgFolders) {
        if (upper == folder.id)
            return folder.key;
    }
    return nullptr;
}

}  // namespace

// ------------------------------------------------------------------ FolderOps

FolderOps::Tally FolderOps::Measure(const std::wstring& folder) {
    Tally tally;
    Fd dir(OpenFolderNoFollow(AT_FDCWD, U8(folder).c_str()));
    if (!dir.valid()) {
        tally.complete = false;
        return tally;
    }
    MeasureAt(dir.get(), tally);
    return tally;
}

bool FolderOps::Exists(const std::wstring& path) {
    struct stat st {};
    return lstat(U8(path).c_str(), &st) == 0;
}

bool FolderOps::IsDirectory(const std::wstring& path) {
    struct stat st {};
    return lstat(U8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderOps::IsLink(const std::wstring& path) {
    struct stat st {};
    return lstat(U8(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool FolderOps::IsEmptyDirectory(const std::wstring& path) {
    Fd dir(OpenFolderNoFollow(AT_FDCWD, U8(path).c_str()));
    std::vector<std::string> names;
    return dir.valid() && ListNames(dir.get(), names) && names.empty();
}

bool FolderOps::CreateFolder(const std::wstring& path) {
    if (fendrel::posix::CreateFolders(U8(path), 0755))
        return true;
    LOG_WARN("mover: cannot create the folder %ls: %s", path.c_str(), std::strerror(errno));
    return false;
}

bool FolderOps::SetHidden(const std::wstring& path) {
    LOG_DEBUG("mover: Linux has no hidden attribute for %ls (only a leading dot hides a name)", path.c_str());
    return false;
}

std::wstring FolderOps::RealPath(const std::wstring& path) {
    std::string rest;
    std::string head = U8(path);
    while (!head.empty()) {
        if (char* resolved = realpath(head.c_str(), nullptr)) {
            std::string out = resolved;
            std::free(resolved);
            if (!rest.empty())
                out += (out == "/" ? "" : "/") + rest;
            return W(out);
        }
        const auto slash = head.rfind('/');
        if (slash == std::string::npos)
            return {};
        const std::string leaf = head.substr(slash + 1);
        rest = rest.empty() ? leaf : leaf + "/" + rest;
        head = slash == 0 ? "/" : head.substr(0, slash);
        if (slash == 0 && head == "/" && realpath("/", nullptr) == nullptr)
            return {};
    }
    return {};
}

bool FolderOps::SameVolume(const std::wstring& a, const std::wstring& b) {
    if (CurrentFaults().forceCopy)
        return false;
    struct stat sa {}, sb {};
    return lstat(ExistingAncestor(U8(a)).c_str(), &sa) == 0 && lstat(ExistingAncestor(U8(b)).c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev;
}

std::int64_t FolderOps::FreeBytes(const std::wstring& path) {
    if (CurrentFaults().freeBytes >= 0)
        return CurrentFaults().freeBytes;
    struct statvfs info {};
    const std::string at = ExistingAncestor(U8(path));
    if (statvfs(at.c_str(), &info) != 0) {
        LOG_WARN("mover: free space of %s unknown: %s", at.c_str(), std::strerror(errno));
        return -1;
    }
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize);
}

bool FolderOps::Rename(const std::wstring& from, const std::wstring& to) {
    struct stat st {};
    if (lstat(U8(to).c_str(), &st) == 0) {
        LOG_WARN("mover: cannot rename %ls: %ls exists", from.c_str(), to.c_str());
        return false;
    }
    if (rename(U8(from).c_str(), U8(to).c_str()) == 0)
        return true;
    LOG_WARN("mover: cannot rename %ls to %ls: %s", from.c_str(), to.c_str(), std::strerror(errno));
    return false;
}

bool FolderOps::CopyTree(const std::wstring& from, const std::wstring& to) {
    const std::string source = U8(from), target = U8(to);
    Fd in(OpenFolderNoFollow(AT_FDCWD, source.c_str()));
    struct stat st {};
    if (!in.valid() || fstat(in.get(), &st) != 0) {
        LOG_WARN("mover: cannot open the folder %s to copy: %s", source.c_str(), std::strerror(errno));
        return false;
    }
    if (mkdir(target.c_str(), 0700) != 0) {
        LOG_WARN("mover: cannot create %s: %s", target.c_str(), std::strerror(errno));
        return false;
    }
    Fd out(OpenFolderNoFollow(AT_FDCWD, target.c_str()));
    std::int64_t count = 0;
    if (!out.valid() || !CopyContentAt(in.get(), out.get(), source, count, CurrentFaults().copyFailAfterFiles))
        return false;
    CopyXattrs(in.get(), out.get(), source);
    fchmod(out.get(), st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out.get(), times);
    return true;
}

// The folder whose content is gone: its handle closed, then the folder itself.
static bool RemoveEmptied(Fd& dir, const std::string& target) {
    dir.Close();
    if (rmdir(target.c_str()) == 0)
        return true;
    LOG_WARN("mover: cannot remove the folder %s: %s", target.c_str(), std::strerror(errno));
    return false;
}

bool FolderOps::DeleteTree(const std::wstring& path) {
    const std::string target = U8(path);
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) {
        if (unlink(target.c_str()) == 0)
            return true;
        LOG_WARN("mover: cannot remove %s: %s", target.c_str(), std::strerror(errno));
        return false;
    }
    Fd dir(OpenFolderNoFollow(AT_FDCWD, target.c_str()));
    if (!dir.valid()) {
        LOG_WARN("mover: cannot open %s to remove it: %s", target.c_str(), std::strerror(errno));
        return false;
    }
    std::int64_t count = 0;
    if (!DeleteContentAt(dir.get(), target, count, CurrentFaults().deleteFailAfterFiles))
        return false;
    return RemoveEmptied(dir, target);
}

bool FolderOps::RemovePartialCopy(const std::wstring& copy, const std::wstring& original) {
    const std::string target = U8(copy);
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) {
        LOG_WARN("mover: %s is no folder copy to take back", target.c_str());
        return false;
    }
    Fd dir(OpenFolderNoFollow(AT_FDCWD, target.c_str()));
    Fd twin(OpenFolderNoFollow(AT_FDCWD, U8(original).c_str()));
    if (!dir.valid() || !RemoveCopiedAt(dir.get(), twin.get(), target))
        return false;
    return RemoveEmptied(dir, target);
}

bool FolderOps::CreateJunction(const std::wstring& path, const std::wstring& target) {
    if (CurrentFaults().failJunction) {
        LOG_WARN("mover: link at %ls refused by the test fault", path.c_str());
        return Fault();
    }
    const std::string link = U8(path);
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode) || !IsEmptyDirectory(path) || rmdir(link.c_str()) != 0) {
            LOG_WARN("mover: cannot put a link at %s: something that is not an empty folder is there", link.c_str());
            return false;
        }
    }
    if (symlink(U8(target).c_str(), link.c_str()) == 0)
        return true;
    const int error = errno;
    if (S_ISDIR(st.st_mode))
        mkdir(link.c_str(), st.st_mode & 07777);  // the empty folder it was
    LOG_WARN("mover: cannot create the link %s -> %ls: %s", link.c_str(), target.c_str(), std::strerror(error));
    return false;
}

bool FolderOps::DeleteJunction(const std::wstring& path) {
    const std::string link = U8(path);
    if (!IsLink(path)) {
        LOG_WARN("mover: %s is no link to remove", link.c_str());
        return false;
    }
    if (unlink(link.c_str()) != 0 || mkdir(link.c_str(), 0755) != 0) {
        LOG_WARN("mover: cannot replace the link %s by an empty folder: %s", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

std::wstring FolderOps::JunctionTarget(const std::wstring& path) {
    std::vector<char> buffer(PATH_MAX + 1);
    for (;;) {
        const ssize_t n = readlink(U8(path).c_str(), buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buffer.size())
            return W(std::string(buffer.data(), static_cast<std::size_t>(n)));
        buffer.resize(buffer.size() * 2);
    }
}

bool FolderOps::IsJunction(const std::wstring& path) {
    return IsLink(path);
}

void FolderOps::SetFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(g_faultLock);
    g_faults = faults;
}

FolderOps::Faults FolderOps::GetFaults() {
    return CurrentFaults();
}

// ----------------------------------------------------------- KnownFolderPaths

std::wstring KnownFolderPaths::Path(const std::wstring& folderId) {
    const char* key = XdgKey(folderId);
    return key == nullptr ? std::wstring() : W(UserDirs::Folder(key));
}

std::wstring KnownFolderPaths::DefaultPath(const std::wstring& folderId) {
    const char* key = XdgKey(folderId);
    return key == nullptr ? std::wstring() : W(UserDirs::Default(key, UserDirs::Home()));
}

bool KnownFolderPaths::SetPath(const std::wstring& folderId, const std::wstring& path) {
    const char* key = XdgKey(folderId);
    if (key == nullptr) {
        LOG_WARN("mover: %ls is no XDG user folder", folderId.c_str());
        return false;
    }
    if (UserDirs::SetFolder(key, U8(path)))
        return true;
    LOG_WARN("mover: cannot set the XDG folder %s to %ls", key, path.c_str());
    return false;
}

std::wstring KnownFolderPaths::DisplayName(const std::wstring& folderId) {
    // xdg-user-dirs names the folders in the user's language when it
    // creates them; the default location's name is that name.
    const char* key = XdgKey(folderId);
    if (key == nullptr)
        return {};
    const std::string home = UserDirs::Home();
    std::string path = UserDirs::Folder(key);
    if (path.empty() || path == home)
        return {};
    return W(path.substr(path.rfind('/') + 1));
}

// ----------------------------------------------------------------- RecordFile

namespace {

std::string Trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// Sections in file order, each with its lines as read.
struct Section {
    std::string name;
    std::vector<std::string> lines;
};

bool LoadSections(const std::string& file, std::vector<Section>& sections) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    sections.push_back(Section{});  // lines before any header
    std::string line;
    while (std::getline(in, line)) {
        const std::string trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']')
            sections.push_back(Section{trimmed.substr(1, trimmed.size() - 2), {}});
        else if (!trimmed.empty())
            sections.back().lines.push_back(Trim(line));
    }
    return !in.bad();
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

}  // namespace

bool RecordFile::ReadSection(const std::wstring& file, const std::wstring& section, Pairs& pairs) {
    pairs.clear();
    std::vector<Section> sections;
    if (!LoadSections(U8(file), sections))
        return false;
    const std::string wanted = U8(section);
    std::map<std::string, std::size_t> index;
    for (const Section& s : sections) {
        if (s.name.empty() || !SameName(s.name, wanted))
            continue;
        for (const std::string& line : s.lines) {
            const auto eq = line.find('=');
            if (eq == std::string::npos)
                continue;
            const std::string key = Trim(line.substr(0, eq));
            const std::wstring value = W(Trim(line.substr(eq + 1)));
            auto found = index.find(key);
            if (found != index.end()) {
                pairs[found->second].second = value;
            } else {
                index[key] = pairs.size();
                pairs.emplace_back(W(key), value);
            }
        }
    }
    return true;
}

bool RecordFile::WriteSections(const std::wstring& file,
                               const std::vector<std::pair<std::wstring, Pairs>>& sections) {
    const std::string path = U8(file);
    std::vector<Section> old;
    LoadSections(path, old);  // a missing file is a new one
    std::string text;
    for (const Section& s : old) {
        bool replaced = false;
        for (const auto& section : sections)
            replaced = replaced || (!s.name.empty() && SameName(s.name, U8(section.first)));
        if (replaced || (s.name.empty() && s.lines.empty()))
            continue;
        if (!s.name.empty())
            text += "[" + s.name + "]\n";
        for (const std::string& line : s.lines)
            text += line + "\n";
    }
    for (const auto& section : sections) {
        if (section.second.empty())
            continue;
        text += "[" + U8(section.first) + "]\n";
        for (const auto& pair : section.second)
            text += U8(pair.first) + "=" + U8(pair.second) + "\n";
    }
    const int error = fendrel::posix::ReplaceFile(path, text, 0644);
    if (error == 0)
        return true;
    LOG_WARN("mover: cannot write %s: %s", path.c_str(), std::strerror(error));
    return false;
}
