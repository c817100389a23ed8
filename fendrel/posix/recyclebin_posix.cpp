#include "../recyclebin.h"

#include "../fsops.h"
#include "posixhelpers.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using fendrel::posix::Fd;

namespace {

// The Trash folders of this user that exist now: the home one and, on each
// real mount, the shared ".Trash/$UID" (only under a sticky, real folder, as
// the Trash rules demand, else another user could plant it) and ".Trash-$UID".
std::vector<std::string> TrashFolders() {
    std::vector<std::string> bins;
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        bins.push_back(std::string(data) + "/Trash");
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        bins.push_back(std::string(home) + "/.local/share/Trash");
    }
    const std::string uid = std::to_string(getuid());
    std::vector<std::string> roots;
    Disks::List(roots);
    for (const auto& root : roots) {
        struct stat st{};
        const std::string shared = root + "/.Trash";
        if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0)
            bins.push_back(shared + "/" + uid);
        bins.push_back(root + "/.Trash-" + uid);
    }
    // Keep only real folders; the home bin may also sit on a listed mount.
    std::vector<std::string> found;
    std::vector<std::pair<dev_t, ino_t>> ids;
    for (const auto& bin : bins) {
        struct stat st{};
        if (lstat(bin.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        bool seen = false;
        for (const auto& id : ids)
            seen = seen || (id.first == st.st_dev && id.second == st.st_ino);
        if (seen)
            continue;
        ids.emplace_back(st.st_dev, st.st_ino);
        found.push_back(bin);
    }
    return found;
}

// Opens a folder below parent without following a link at the last step.
int OpenSubfolder(int parent, const char* name) {
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::vector<std::string> Names(int folder) {
    std::vector<std::string> names;
    const int copy = dup(folder);
    if (copy < 0)
        return names;
    DIR* dir = fdopendir(copy);
    if (dir == nullptr) {
        close(copy);
        return names;
    }
    rewinddir(dir);
    while (dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

// Bytes of the entry's files as a listing shows them: a link counts its own
// size (never its target's) and a directory link is never entered; folders
// themselves add nothing, as on Windows.
std::uint64_t EntrySize(int parent, const std::string& name) {
    struct stat st{};
    if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode))
        return static_cast<std::uint64_t>(st.st_size);
    std::uint64_t total = 0;
    Fd folder(OpenSubfolder(parent, name.c_str()));
    if (!folder.valid())
        return total;
    for (const auto& child : Names(folder.get()))
        total += EntrySize(folder.get(), child);
    return total;
}

std::uint64_t FolderContentSize(int bin, const char* sub) {
    Fd folder(OpenSubfolder(bin, sub));
    if (!folder.valid())
        return 0;
    std::uint64_t total = 0;
    for (const auto& name : Names(folder.get()))
        total += EntrySize(folder.get(), name);
    return total;
}

// Removes name below parent with everything in it; links are removed as
// links. True when it is gone (or was never there).
bool RemoveTree(int parent, const std::string& name) {
    struct stat st{};
    if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT;
    bool ok = true;
    {
        Fd folder(OpenSubfolder(parent, name.c_str()));
        if (!folder.valid())
            return false;
        for (const auto& child : Names(folder.get()))
            ok = RemoveTree(folder.get(), child) && ok;
    }
    return (unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) && ok;
}

bool EmptyBin(const std::string& path) {
    Fd bin(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!bin.valid())
        return errno == ENOENT;
    bool ok = true;
    Fd files(OpenSubfolder(bin.get(), "files"));
    Fd info(OpenSubfolder(bin.get(), "info"));
    if (files.valid()) {
        for (const auto& name : Names(files.get())) {
            const bool gone = RemoveTree(files.get(), name);
            ok = gone && ok;
            // An info record without its file would show a ghost entry.
            if (gone && info.valid())
                unlinkat(info.get(), (name + ".trashinfo").c_str(), 0);
        }
    }
    if (info.valid()) {
        // Records whose file is already gone describe nothing.
        for (const auto& name : Names(info.get())) {
            const std::string suffix = ".trashinfo";
            if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            const std::string file = name.substr(0, name.size() - suffix.size());
            struct stat st{};
            if (!files.valid() || (fstatat(files.get(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT))
                unlinkat(info.get(), name.c_str(), 0);
        }
    }
    if (Fd expunged(OpenSubfolder(bin.get(), "expunged")); expunged.valid()) {
        for (const auto& name : Names(expunged.get()))
            ok = RemoveTree(expunged.get(), name) && ok;
    }
    if (unlinkat(bin.get(), "directorysizes", 0) != 0 && errno != ENOENT)
        ok = false;
    return ok;
}

}  // namespace

bool RecycleBin::QuerySize(std::uint64_t& bytes) {
    bytes = 0;
    for (const auto& path : TrashFolders()) {
        Fd bin(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!bin.valid())
            continue;
        bytes += FolderContentSize(bin.get(), "files");
        bytes += FolderContentSize(bin.get(), "expunged");
    }
    return true;
}

bool RecycleBin::Empty() {
    bool ok = true;
    for (const auto& path : TrashFolders())
        ok = EmptyBin(path) && ok;
    return ok;
}
