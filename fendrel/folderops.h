// Whole-folder services for the folder mover: links left where a folder
// was, moving and copying trees, measuring them without following links,
// the known folders the shell (Windows) or the XDG user directories (Linux)
// keep, and the mover's record file. Paths are wide strings of this
// platform; none of these calls throws, each failure logs one line.
//
// A "junction" is what a moved folder leaves behind at its old path:
//   Windows: a mount-point reparse point (tag 0xA0000003);
//   Linux:   a symbolic link to the directory.
//   CreateJunction(L"/home/ann/Data", L"/mnt/big/Clean/Apps/Data_1700")  => true
//   JunctionTarget(L"/home/ann/Data") => L"/mnt/big/Clean/Apps/Data_1700"
//   DeleteJunction(L"/home/ann/Data") => true, an empty folder stays there
#pragma once

#include "platform.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class FENDREL_API FolderOps {
public:
    // Files (everything that is not a folder: links count as one file each)
    // and the bytes of the regular files below a folder. Links and junctions
    // are never followed, so nothing is counted twice and loops cannot occur.
    struct Tally {
        std::uint64_t files = 0;
        std::uint64_t bytes = 0;
        bool complete = true;  // false when some folder could not be read
        bool operator==(const Tally& other) const { return files == other.files && bytes == other.bytes; }
        bool operator!=(const Tally& other) const { return !(*this == other); }
    };
    static Tally Measure(const std::wstring& folder);

    // Something is at the path (a dangling link too).
    static bool Exists(const std::wstring& path);
    // A real folder: not a link, not a junction, not a file.
    static bool IsDirectory(const std::wstring& path);
    // A symbolic link or (Windows) any reparse point, looked at itself.
    static bool IsLink(const std::wstring& path);
    // A real folder with nothing in it.
    static bool IsEmptyDirectory(const std::wstring& path);
    // Creates the folder and its missing parents; true when it is a folder afterwards.
    static bool CreateFolder(const std::wstring& path);
    // Windows: adds the hidden attribute. Linux has no such attribute: false.
    static bool SetHidden(const std::wstring& path);

    // The path with every link resolved; for a path that does not exist
    // (yet), its deepest existing parent resolved and the rest appended.
    // Empty when not even the first component can be resolved.
    static std::wstring RealPath(const std::wstring& path);
    // Whether the path lies on the same volume (file system) as the
    // folder; each is looked at through its deepest existing parent.
    static bool SameVolume(const std::wstring& a, const std::wstring& b);
    // Bytes free for this user on the volume holding the path; -1 unknown.
    static std::int64_t FreeBytes(const std::wstring& path);

    // Renames a folder within one volume; the destination must not exist.
    static bool Rename(const std::wstring& from, const std::wstring& to);
    // Copies a folder tree to a destination that does not exist yet:
    // files, folders, links as links, permissions, times and (Linux)
    // extended attributes where the target keeps them. A failed copy leaves
    // its partial destination for the caller to remove.
    // Windows: the shell's file operation (IFileOperation), falling back to
    // SHFileOperationW when that cannot run, which is logged.
    static bool CopyTree(const std::wstring& from, const std::wstring& to);
    // Removes a folder tree. Links and junctions inside are removed
    // themselves, never what they point to; a link given as the path is
    // removed alone. Read-only files go too.
    static bool DeleteTree(const std::wstring& path);

    // Takes back a copy that stopped part-way: removes from the copy each
    // entry whose counterpart in the original is of the same kind (a
    // regular file no larger than the original's), then emptied folders.
    // Anything else (files written there since) stays and is logged. True
    // when the copy is gone whole.
    static bool RemovePartialCopy(const std::wstring& copy, const std::wstring& original);

    // Puts a junction at the path, which must be missing or an empty folder.
    static bool CreateJunction(const std::wstring& path, const std::wstring& target);
    // Removes the junction's link and leaves an empty folder at the path.
    static bool DeleteJunction(const std::wstring& path);
    // The folder a junction points to; empty when the path is no junction.
    static std::wstring JunctionTarget(const std::wstring& path);
    static bool IsJunction(const std::wstring& path);

    // Test-only fault injection, process-wide; a negative count is off.
    // The copy fails once that many files have been copied (Linux copies
    // with its own code; the Windows shell copy ignores it), a tree deletion
    // once that many files are gone, a junction is never created.
    // forceCopy makes every volume look different from every other, so
    // moves take the copy road; killAtFault ends the process with SIGKILL
    // (Windows: TerminateProcess) where the fault would have failed the call.
    // freeBytes stands in for a full disk.
    struct Faults {
        std::int64_t copyFailAfterFiles = -1;
        std::int64_t deleteFailAfterFiles = -1;
        bool failJunction = false;
        bool forceCopy = false;
        bool killAtFault = false;
        std::int64_t freeBytes = -1;  // when not negative, the free space every volume reports
    };
    static void SetFaults(const Faults& faults);
    static Faults GetFaults();
};

// The six user folders by folder id in braces (upper case):
// Windows asks the shell, Linux reads and writes the XDG user directories
// (userdirs.h) for the six classic ids and knows no other id.
class FENDREL_API KnownFolderPaths {
public:
    // The folder's current location; empty when the system has none.
    static std::wstring Path(const std::wstring& folderId);
    // Where the folder lives by default: Windows' default path, Linux's
    // XDG default under the home folder; empty when unknown.
    static std::wstring DefaultPath(const std::wstring& folderId);
    // Points the folder at a new location (the content is not moved).
    // Windows: SHSetKnownFolderPath when the shell exports it, else
    // IKnownFolder::SetPath (logged).
    static bool SetPath(const std::wstring& folderId, const std::wstring& path);
    // The name the desktop shows: the shell's display name on Windows; on
    // Linux the name of the folder's XDG location (localized by the desktop
    // when it created the folders), else empty.
    static std::wstring DisplayName(const std::wstring& folderId);
};

// Sections of a record file of "key=value" lines, read whole.
// Windows: the profile functions. Linux: own reader and writer with the
// same rules, but keys case-sensitive since they are Linux paths.
//   Read: each line is split at its first "=", lines without one are
//   skipped, of a repeated key the last value counts.
class FENDREL_API RecordFile {
public:
    using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;
    // false when the file cannot be read (the pairs are then empty); a
    // missing section reads as no pairs.
    static bool ReadSection(const std::wstring& file, const std::wstring& section, Pairs& pairs);
    // Replaces each named section with its pairs (an empty list deletes
    // it); other sections stay. Linux replaces the file atomically.
    static bool WriteSections(const std::wstring& file, const std::vector<std::pair<std::wstring, Pairs>>& sections);
};
