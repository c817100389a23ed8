// The folder mover: the six user folders and any application folder moved
// into a root folder on another drive behind a junction (a symbolic link on
// Linux), and back. "mover.ini" in the root records what was moved and,
// while a move runs, which step it is at, so that a crash or a kill loses
// nothing: Init finishes or undoes an unfinished step.
//
// A move never ends with the data in neither place: a copy across drives is
// counted (files and bytes) before the source is deleted, and a source that
// cannot be deleted whole leaves the complete copy in place, logged and
// recorded.
#pragma once

#include "fendrel/platform.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace Trova {

// Result codes of the known-folder operations.
enum MoverCode : std::int32_t {
    kMoverDone = 0,
    kMoverBadId = 1,           // no known folder has this id
    kMoverShellRefused = 2,    // the new location was not accepted
    kMoverContentFailed = 3,   // content not moved; the folder points to its old place again
    kMoverRefused = 4,         // unsafe request refused, nothing changed
    kMoverNotMoved = 5,        // restore of a folder that is not moved
    kMoverRollbackFailed = 6,  // content not moved and pointing back failed too
    kMoverTargetFailed = 7,    // the target folder could not be created
    kMoverAlreadyMoved = 8,    // move of a folder that is already moved
    kMoverUnavailable = 9,     // the system gives no location for the folder
    kMoverSourceLeft = 10,     // content moved and in use, but the old folder could not be emptied
};

struct KnownFolderInfo {
    std::int32_t id = 0;
    const wchar_t* name = L"";
    std::wstring folderId;       // the classic known-folder id
    std::wstring localFolderId;  // the per-machine id of newer Windows
    std::int32_t available = 0;
    std::wstring effectiveFolderId;
    std::int32_t isMoved = 0;
    std::wstring path;
    std::uint64_t size = 0;

    // Location, state and size from the system.
    void Refresh();
    // The same without measuring the size.
    void RefreshPath();
    std::wstring MovedLocation() const;    // <root>/Windows/<name>
    std::wstring DefaultLocation() const;  // empty when unknown
    std::wstring DisplayName() const;      // empty when the system has none

    static std::wstring s_movedRoot;
    static constexpr int kCount = 6;
    // Downloads, Videos, Music, Pictures, Documents, Desktop: the index is the id.
    static std::vector<KnownFolderInfo>& Table();
    static KnownFolderInfo* ByName(const std::wstring& name);
};

class MoverManager {
public:
    using PathMap = std::map<std::wstring, std::wstring>;

    // folderName is joined to the prefix as it is, so it starts with a separator.
    MoverManager(HWND owner, std::wstring folderName);

    // Creates the root, loads "mover.ini", finishes or undoes an unfinished
    // step and drops records that no longer hold.
    void Init(const std::wstring& prefix);
    void RefreshAll();
    std::int32_t MoveKnownFolder(int id);
    std::int32_t RestoreKnownFolder(int id);
    // 1 moved (or already recorded), 0 not moved.
    std::int32_t MoveAppFolder(const std::wstring& path);
    // 1 restored, 0 not.
    std::int32_t RestoreAppFolder(const std::wstring& path);
    // Safe from another thread while an operation runs: it reads the state
    // as last saved (or loaded).
    bool IsAppFolderMoved(const std::wstring& path) const;
    // 1 when the root and every record moved to prefix + folder name.
    std::int32_t ChangeRoot(const std::wstring& prefix);

    const PathMap& AppFolders() const { return m_appFolders; }
    const PathMap& KnownFolders() const { return m_knownFolders; }
    // The unfinished step recorded in "mover.ini", empty when there is none.
    bool HasJournal() const { return !m_journal.op.empty(); }
    std::wstring IniPath() const;

private:
    struct Journal {
        std::wstring op, source, destination, step, name, previous;
    };
    enum class Outcome { Done, Failed, SourceLeft };

    Outcome MoveContent(const std::wstring& from, const std::wstring& to);
    bool CopyCounted(const std::wstring& from, const std::wstring& to);
    bool DeleteOldRoot(const std::wstring& root);
    bool FinishChangeRoot(const std::wstring& oldRoot, const std::wstring& newRoot);
    bool Refused(const std::wstring& from, const std::wstring& to, bool intoRoot) const;
    std::int32_t Relocate(KnownFolderInfo& folder, const std::wstring& target, const wchar_t* op);
    bool Repoint(const std::wstring& newRoot);
    void Recover();
    bool SetStep(const wchar_t* step);
    bool SetRootStep(const wchar_t* step);
    void ClearJournal();
    bool Save();
    bool SaveTo(const std::wstring& file);
    void Load(const std::wstring& file);
    std::wstring AppLocation(const std::wstring& path) const;
    void PublishMoved();

    PathMap m_appFolders;
    PathMap m_knownFolders;
    HWND m_owner;
    std::wstring m_folderName;
    Journal m_journal;
    mutable std::mutex m_publishedLock;
    std::set<std::wstring> m_published;  // keys of m_appFolders for IsAppFolderMoved
};

}  // namespace Trova
