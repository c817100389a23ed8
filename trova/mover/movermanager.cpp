#include "trova/mover/movermanager.h"

#include "fendrel/fastdir.h"
#include "fendrel/folderops.h"
#include "fendrel/logger.h"

#include <chrono>

namespace Trova {

namespace {

constexpr const char* kSource = "mover/movermanager";
constexpr const wchar_t* kAppSection = L"MovedAppFolder";
constexpr const wchar_t* kKnownSection = L"MovedKnownFolder";
constexpr const wchar_t* kJournalSection = L"Journal";
constexpr const wchar_t* kWindowsFolder = L"Windows";
constexpr const wchar_t* kAppsFolder = L"Apps";

// Journal operations and steps, as written into "mover.ini".
constexpr const wchar_t* kOpMoveApp = L"MoveApp";
constexpr const wchar_t* kOpRestoreApp = L"RestoreApp";
constexpr const wchar_t* kOpUndoApp = L"UndoApp";  // content going back after a failed link
constexpr const wchar_t* kOpMoveKnown = L"MoveKnown";
constexpr const wchar_t* kOpRestoreKnown = L"RestoreKnown";
constexpr const wchar_t* kOpChangeRoot = L"ChangeRoot";
constexpr const wchar_t* kStepUnlink = L"unlink";
constexpr const wchar_t* kStepCopy = L"copy";
constexpr const wchar_t* kStepDelete = L"delete";
constexpr const wchar_t* kStepLink = L"link";

#define MOVER_INFO(...) Logger_InfoWF(kSource, __LINE__, __VA_ARGS__)
#define MOVER_WARN(...) Logger_WarnWF(kSource, __LINE__, __VA_ARGS__)
#define MOVER_ERROR(...) Logger_ErrorWF(kSource, __LINE__, __VA_ARGS__)

std::wstring Join(const std::wstring& a, const std::wstring& b) {
    return a + fendrel::kPathSep + b;
}

std::wstring TrimSeparators(std::wstring path) {
    while (path.size() > 1 && path.back() == fendrel::kPathSep)
        path.pop_back();
    return path;
}

// The last component; a path without a separator is its own.
std::wstring Leaf(const std::wstring& path) {
    const std::wstring trimmed = TrimSeparators(path);
    const auto at = trimmed.rfind(fendrel::kPathSep);
    return at == std::wstring::npos ? trimmed : trimmed.substr(at + 1);
}

// inner is outer or lies below it.
bool Within(const std::wstring& inner, const std::wstring& outer) {
    if (inner.empty() || outer.empty())
        return false;
    if (inner == outer)
        return true;
    const std::wstring prefix = outer.back() == fendrel::kPathSep ? outer : outer + fendrel::kPathSep;
    return inner.compare(0, prefix.size(), prefix) == 0;
}

std::wstring Get(const RecordFile::Pairs& pairs, const wchar_t* key) {
    for (const auto& pair : pairs) {
        if (pair.first == key)
            return pair.second;
    }
    return {};
}

}  // namespace

// ------------------------------------------------------------ KnownFolderInfo

std::wstring KnownFolderInfo::s_movedRoot;

std::vector<KnownFolderInfo>& KnownFolderInfo::Table() {
    static std::vector<KnownFolderInfo> table = [] {
        struct Row {
            const wchar_t* name;
            const wchar_t* id;
            const wchar_t* local;
        };
        const Row rows[kCount] = {
            {L"Downloads", L"{374DE290-123F-4565-9164-39C4925E467B}", L"{7D83EE9B-2244-4E70-B1F5-5393042AF1E4}"},
            {L"Videos", L"{18989B1D-99B5-455B-841C-AB7C74E4DDFC}", L"{35286A68-3C57-41A1-BBB1-0EAE73D76C95}"},
            {L"Music", L"{4BD8D571-6D19-48D3-BE97-422220080E43}", L"{A0C69A99-21C8-4671-8703-7934162FCF1D}"},
            {L"Pictures", L"{33E28130-4E1E-4676-835A-98395C3BC3BB}", L"{0DDD015D-B06C-45D5-8C4C-F59713854639}"},
            {L"Documents", L"{FDD39AD0-238F-46AF-ADB4-6C85480369C7}", L"{F42EE2D3-909F-4907-8871-4C22FC0BF756}"},
            {L"Desktop", L"{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}", L"{B2C5E279-7ADD-439F-B28C-C41FE1BBF672}"},
        };
        std::vector<KnownFolderInfo> out;
        for (int i = 0; i < kCount; ++i) {
            KnownFolderInfo info;
            info.id = i;
            info.name = rows[i].name;
            info.folderId = rows[i].id;
            info.localFolderId = rows[i].local;
            info.effectiveFolderId = rows[i].id;
            out.push_back(info);
        }
        return out;
    }();
    return table;
}

KnownFolderInfo* KnownFolderInfo::ByName(const std::wstring& name) {
    for (KnownFolderInfo& info : Table()) {
        if (name == info.name)
            return &info;
    }
    return nullptr;
}

void KnownFolderInfo::RefreshPath() {
    if (s_movedRoot.empty())
        MOVER_WARN(L"KnownFolderInfo::s_movedRoot not initialized");
    effectiveFolderId = KnownFolderPaths::Path(localFolderId).empty() ? folderId : localFolderId;
    const std::wstring current = KnownFolderPaths::Path(effectiveFolderId);
    available = current.empty() ? 0 : 1;
    if (current.empty())
        return;
    isMoved = !s_movedRoot.empty() && current.find(s_movedRoot) != std::wstring::npos ? 1 : 0;
    path = current;
}

void KnownFolderInfo::Refresh() {
    RefreshPath();
    if (available)
        size = FolderOps::Measure(path).bytes;
}

std::wstring KnownFolderInfo::MovedLocation() const {
    return Join(Join(s_movedRoot, kWindowsFolder), name);
}

std::wstring KnownFolderInfo::DefaultLocation() const {
    return KnownFolderPaths::DefaultPath(effectiveFolderId);
}

std::wstring KnownFolderInfo::DisplayName() const {
    return KnownFolderPaths::DisplayName(effectiveFolderId);
}

// --------------------------------------------------------------- MoverManager

MoverManager::MoverManager(HWND owner, std::wstring folderName) : m_owner(owner), m_folderName(std::move(folderName)) {}

std::wstring MoverManager::IniPath() const {
    return Join(KnownFolderInfo::s_movedRoot, L"mover.ini");
}

bool MoverManager::IsAppFolderMoved(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(m_publishedLock);
    return m_published.count(path) != 0;
}

void MoverManager::PublishMoved() {
    std::set<std::wstring> keys;
    for (const auto& entry : m_appFolders)
        keys.insert(entry.first);
    std::lock_guard<std::mutex> lock(m_publishedLock);
    m_published = std::move(keys);
}

std::wstring MoverManager::AppLocation(const std::wstring& path) const {
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return Join(Join(KnownFolderInfo::s_movedRoot, kAppsFolder), Leaf(path) + L"_" + std::to_wstring(now));
}

void MoverManager::Load(const std::wstring& file) {
    RecordFile::Pairs apps, known, journal;
    if (!RecordFile::ReadSection(file, kAppSection, apps)) {
        MOVER_INFO(L"no record of moved folders at %ls", file.c_str());
        return;
    }
    RecordFile::ReadSection(file, kKnownSection, known);
    RecordFile::ReadSection(file, kJournalSection, journal);
    m_appFolders = PathMap(apps.begin(), apps.end());
    m_knownFolders = PathMap(known.begin(), known.end());
    m_journal = Journal{Get(journal, L"Op"),   Get(journal, L"Source"), Get(journal, L"Destination"),
                        Get(journal, L"Step"), Get(journal, L"Name"),   Get(journal, L"Previous")};
}

bool MoverManager::Save() {
    PublishMoved();
    if (KnownFolderInfo::s_movedRoot.empty())
        return false;
    return SaveTo(IniPath());
}

bool MoverManager::SaveTo(const std::wstring& file) {
    RecordFile::Pairs journal;
    if (!m_journal.op.empty()) {
        journal = {{L"Op", m_journal.op},         {L"Source", m_journal.source},
                   {L"Destination", m_journal.destination}, {L"Step", m_journal.step},
                   {L"Name", m_journal.name},     {L"Previous", m_journal.previous}};
    }
    const bool ok = RecordFile::WriteSections(
        file, {{kAppSection, RecordFile::Pairs(m_appFolders.begin(), m_appFolders.end())},
               {kKnownSection, RecordFile::Pairs(m_knownFolders.begin(), m_knownFolders.end())},
               {kJournalSection, journal}});
    if (!ok)
        MOVER_ERROR(L"cannot save the record of moved folders to %ls", file.c_str());
    return ok;
}

bool MoverManager::SetStep(const wchar_t* step) {
    m_journal.step = step;
    return Save();
}

// A change of root records its step in both roots: the page looks for the
// record in the old one until the change has succeeded, and a restart given
// either root must find it.
bool MoverManager::SetRootStep(const wchar_t* step) {
    const bool saved = SetStep(step);
    return SaveTo(Join(m_journal.source, L"mover.ini")) && saved;
}

void MoverManager::ClearJournal() {
    m_journal = Journal{};
}

void MoverManager::Init(const std::wstring& prefix) {
    const std::wstring root = prefix + m_folderName;
    m_appFolders.clear();
    m_knownFolders.clear();
    ClearJournal();
    PublishMoved();
    if (!FolderOps::IsDirectory(root) && !FolderOps::CreateFolder(root)) {
        MOVER_ERROR(L"cannot create the mover's root folder %ls", root.c_str());
        return;
    }
    FolderOps::SetHidden(root);
    KnownFolderInfo::s_movedRoot = root;
    for (const wchar_t* sub : {kWindowsFolder, kAppsFolder}) {
        const std::wstring folder = Join(root, sub);
        if (!FolderOps::IsDirectory(folder) && !FolderOps::CreateFolder(folder)) {
            MOVER_ERROR(L"cannot create the folder %ls", folder.c_str());
            return;
        }
    }
    Load(prefix + fendrel::kPathSep + m_folderName + fendrel::kPathSep + L"mover.ini");
    Recover();

    for (auto it = m_appFolders.begin(); it != m_appFolders.end();) {
        const std::wstring target = FolderOps::JunctionTarget(it->first);
        if (FolderOps::Exists(it->first) && FolderOps::IsLink(it->first) && !target.empty() &&
            FolderOps::IsDirectory(target)) {
            ++it;
        } else {
            MOVER_INFO(L"the moved folder %ls is no longer in place; its record is dropped", it->first.c_str());
            it = m_appFolders.erase(it);
        }
    }
    for (auto it = m_knownFolders.begin(); it != m_knownFolders.end();) {
        KnownFolderInfo* info = KnownFolderInfo::ByName(it->first);
        if (info != nullptr)
            info->RefreshPath();
        if (info != nullptr && info->available && info->path == it->second) {
            ++it;
        } else {
            MOVER_INFO(L"the known folder %ls was changed by someone else; its record is dropped", it->first.c_str());
            it = m_knownFolders.erase(it);
        }
    }
    PublishMoved();
}

void MoverManager::RefreshAll() {
    for (KnownFolderInfo& info : KnownFolderInfo::Table())
        info.Refresh();
}

bool MoverManager::Refused(const std::wstring& from, const std::wstring& to, bool intoRoot) const {
    if (FolderOps::IsLink(from)) {
        MOVER_WARN(L"refused: %ls is a link already", from.c_str());
        return true;
    }
    if (!FolderOps::IsDirectory(from)) {
        MOVER_WARN(L"refused: %ls is no folder", from.c_str());
        return true;
    }
    const std::wstring realFrom = FolderOps::RealPath(from);
    const std::wstring realTo = FolderOps::RealPath(to);
    if (realFrom.empty() || realTo.empty() || Within(realTo, realFrom) || Within(realFrom, realTo)) {
        MOVER_WARN(L"refused: %ls and %ls lie inside each other", from.c_str(), to.c_str());
        return true;
    }
    if (intoRoot) {
        const std::wstring realRoot = FolderOps::RealPath(KnownFolderInfo::s_movedRoot);
        if (realRoot.empty() || Within(realRoot, realFrom) || Within(realFrom, realRoot)) {
            MOVER_WARN(L"refused: the root %ls and the folder %ls lie inside each other",
                       KnownFolderInfo::s_movedRoot.c_str(), from.c_str());
            return true;
        }
    }
    if (FolderOps::Exists(to) && !FolderOps::IsEmptyDirectory(to)) {
        MOVER_WARN(L"refused: the destination %ls exists and is not an empty folder", to.c_str());
        return true;
    }
    if (!FolderOps::SameVolume(from, to)) {
        const FolderOps::Tally tally = FolderOps::Measure(from);
        const std::int64_t free = FolderOps::FreeBytes(to);
        if (!tally.complete) {
            MOVER_WARN(L"refused: %ls cannot be read whole", from.c_str());
            return true;
        }
        if (free >= 0 && tally.bytes > static_cast<std::uint64_t>(free)) {
            MOVER_WARN(L"refused: %ls needs %llu bytes, %ls has %lld free", from.c_str(),
                       static_cast<unsigned long long>(tally.bytes), to.c_str(), static_cast<long long>(free));
            return true;
        }
    }
    return false;
}

// Moves a folder tree; on Done the source path is gone. The journal's op,
// source and destination are set by the caller; the steps are recorded
// here before each happens.
MoverManager::Outcome MoverManager::MoveContent(const std::wstring& from, const std::wstring& to) {
    if (!SetStep(kStepCopy)) {
        MOVER_ERROR(L"not moving %ls: the step cannot be recorded", from.c_str());
        return Outcome::Failed;
    }
    // Both ways want the destination missing; an empty folder is ours to drop.
    if (FolderOps::IsDirectory(to) && FolderOps::IsEmptyDirectory(to) && !FolderOps::DeleteTree(to))
        return Outcome::Failed;
    if (FolderOps::SameVolume(from, to)) {
        if (FolderOps::Rename(from, to))
            return Outcome::Done;
        MOVER_WARN(L"cannot move %ls to %ls", from.c_str(), to.c_str());
        return Outcome::Failed;
    }
    if (!CopyCounted(from, to))
        return Outcome::Failed;
    if (!SetStep(kStepDelete)) {
        MOVER_WARN(L"the copy %ls is complete but the step cannot be recorded; the source stays", to.c_str());
        FolderOps::RemovePartialCopy(to, from);
        return Outcome::Failed;
    }
    if (!FolderOps::DeleteTree(from)) {
        MOVER_ERROR(L"the complete copy of %ls is at %ls; the source could not be removed whole", from.c_str(),
                    to.c_str());
        return Outcome::SourceLeft;
    }
    return Outcome::Done;
}

// Copies a tree to another volume and counts files and bytes on both sides;
// on any difference the copy's own part goes and the source stays.
bool MoverManager::CopyCounted(const std::wstring& from, const std::wstring& to) {
    const FolderOps::Tally before = FolderOps::Measure(from);
    if (!before.complete) {
        MOVER_WARN(L"not moving %ls: it cannot be read whole", from.c_str());
        return false;
    }
    if (!FolderOps::CopyTree(from, to)) {
        MOVER_WARN(L"copying %ls to %ls failed; the source stays, the partial copy goes", from.c_str(), to.c_str());
        FolderOps::RemovePartialCopy(to, from);
        return false;
    }
    const FolderOps::Tally after = FolderOps::Measure(to);
    if (after != before) {
        MOVER_WARN(L"the copy %ls holds %llu files, %llu bytes, the source %llu files, %llu bytes; the copy goes",
                   to.c_str(), static_cast<unsigned long long>(after.files),
                   static_cast<unsigned long long>(after.bytes), static_cast<unsigned long long>(before.files),
                   static_cast<unsigned long long>(before.bytes));
        FolderOps::RemovePartialCopy(to, from);
        return false;
    }
    return true;
}

std::int32_t MoverManager::Relocate(KnownFolderInfo& folder, const std::wstring& target, const wchar_t* op) {
    const std::wstring old = folder.path;
    if (Refused(old, target, op == std::wstring(kOpMoveKnown)))
        return kMoverRefused;
    if (!FolderOps::IsDirectory(target) && !FolderOps::CreateFolder(target))
        return kMoverTargetFailed;
    m_journal = Journal{op, old, target, kStepCopy, folder.name, old};
    if (!Save()) {
        ClearJournal();
        return kMoverRefused;
    }
    if (!KnownFolderPaths::SetPath(folder.effectiveFolderId, target)) {
        MOVER_WARN(L"the system did not accept %ls as the location of %ls", target.c_str(), folder.name);
        ClearJournal();
        Save();
        return kMoverShellRefused;
    }
    switch (MoveContent(old, target)) {
    case Outcome::Done:
        folder.path = target;
        return kMoverDone;
    case Outcome::SourceLeft:
        folder.path = target;
        return kMoverSourceLeft;
    case Outcome::Failed:
        break;
    }
    const bool back = KnownFolderPaths::SetPath(folder.effectiveFolderId, old);
    if (!back)
        MOVER_ERROR(L"%ls could not be pointed back to %ls", folder.name, old.c_str());
    ClearJournal();
    Save();
    return back ? kMoverContentFailed : kMoverRollbackFailed;
}

std::int32_t MoverManager::MoveKnownFolder(int id) {
    if (id < 0 || id >= KnownFolderInfo::kCount) {
        MOVER_WARN(L"no known folder has the id %d", id);
        return kMoverBadId;
    }
    if (KnownFolderInfo::s_movedRoot.empty()) {
        MOVER_WARN(L"the mover has no root folder");
        return kMoverRefused;
    }
    KnownFolderInfo& folder = KnownFolderInfo::Table()[id];
    folder.RefreshPath();
    if (!folder.available)
        return kMoverUnavailable;
    if (folder.isMoved)
        return kMoverAlreadyMoved;
    const std::wstring target = folder.MovedLocation();
    const std::int32_t code = Relocate(folder, target, kOpMoveKnown);
    if (code == kMoverSourceLeft) {
        // The folder is in use at its new place; the journal keeps the
        // remainder of the old one for the next start to remove.
        m_knownFolders[folder.name] = target;
        folder.isMoved = 1;
        Save();
        return code;
    }
    if (code != kMoverDone)
        return code;
    SetStep(kStepLink);
    const std::wstring home = folder.DefaultLocation();
    if (!home.empty()) {
        if (!FolderOps::Exists(home) && !FolderOps::CreateFolder(home))
            MOVER_WARN(L"no link left at %ls", home.c_str());
        else if (!FolderOps::CreateJunction(home, target))
            MOVER_WARN(L"no link left at %ls to %ls", home.c_str(), target.c_str());
    }
    m_knownFolders[folder.name] = target;
    folder.isMoved = 1;
    ClearJournal();
    Save();
    return kMoverDone;
}

std::int32_t MoverManager::RestoreKnownFolder(int id) {
    if (id < 0 || id >= KnownFolderInfo::kCount) {
        MOVER_WARN(L"no known folder has the id %d", id);
        return kMoverBadId;
    }
    KnownFolderInfo& folder = KnownFolderInfo::Table()[id];
    folder.RefreshPath();
    const std::wstring home = folder.DefaultLocation();
    const bool unlinked = !home.empty() && FolderOps::IsJunction(home) && FolderOps::DeleteJunction(home);
    if (!folder.available)
        return kMoverUnavailable;
    if (!folder.isMoved)
        return kMoverNotMoved;
    std::int32_t code = kMoverRefused;
    if (home.empty())
        MOVER_WARN(L"%ls has no default location to go back to", folder.name);
    else
        code = Relocate(folder, home, kOpRestoreKnown);
    if (code == kMoverDone || code == kMoverSourceLeft) {
        m_knownFolders.erase(folder.name);
        folder.isMoved = 0;
        if (code == kMoverDone)
            ClearJournal();
        Save();
        return code;
    }
    // Still moved: the old path keeps working through its link.
    if (unlinked && !FolderOps::CreateJunction(home, folder.path))
        MOVER_ERROR(L"the link %ls to %ls could not be put back", home.c_str(), folder.path.c_str());
    return code;
}

std::int32_t MoverManager::MoveAppFolder(const std::wstring& path) {
    if (IsAppFolderMoved(path))
        return 1;
    if (FolderOps::IsLink(path)) {
        MOVER_WARN(L"%ls is a link already and is not moved", path.c_str());
        return 0;
    }
    if (KnownFolderInfo::s_movedRoot.empty()) {
        MOVER_WARN(L"the mover has no root folder");
        return 0;
    }
    const std::wstring target = AppLocation(path);
    if (Refused(path, target, true))
        return 0;
    m_journal = Journal{kOpMoveApp, path, target, kStepCopy, path, L""};
    switch (MoveContent(path, target)) {
    case Outcome::Done:
        break;
    case Outcome::SourceLeft:
        Save();  // the journal says where the complete copy is
        return 0;
    case Outcome::Failed:
        MOVER_WARN(L"%ls was not moved", path.c_str());
        ClearJournal();
        Save();
        return 0;
    }
    SetStep(kStepLink);
    if (!FolderOps::CreateJunction(path, target)) {
        MOVER_WARN(L"no link can be left at %ls; the content goes back", path.c_str());
        m_journal = Journal{kOpUndoApp, target, path, kStepCopy, path, L""};
        if (MoveContent(target, path) == Outcome::Failed) {
            MOVER_ERROR(L"the content of %ls stays at %ls", path.c_str(), target.c_str());
            Save();
            return 0;
        }
        ClearJournal();
        Save();
        return 0;
    }
    m_appFolders[path] = target;
    ClearJournal();
    Save();
    return 1;
}

std::int32_t MoverManager::RestoreAppFolder(const std::wstring& path) {
    const std::wstring target = FolderOps::JunctionTarget(path);
    if (target.empty()) {
        MOVER_WARN(L"%ls is no link of a moved folder", path.c_str());
        return 0;
    }
    if (!FolderOps::IsDirectory(target)) {
        MOVER_WARN(L"the moved content of %ls is missing at %ls", path.c_str(), target.c_str());
        return 0;
    }
    m_journal = Journal{kOpRestoreApp, target, path, kStepUnlink, path, L""};
    if (!Save() || !FolderOps::DeleteJunction(path)) {
        ClearJournal();
        Save();
        return 0;
    }
    if (Refused(target, path, false)) {
        FolderOps::CreateJunction(path, target);
        ClearJournal();
        Save();
        return 0;
    }
    switch (MoveContent(target, path)) {
    case Outcome::Done:
        m_appFolders.erase(path);
        ClearJournal();
        Save();
        return 1;
    case Outcome::SourceLeft:
        m_appFolders.erase(path);
        Save();
        return 0;
    case Outcome::Failed:
        break;
    }
    if (!FolderOps::CreateJunction(path, target))
        MOVER_ERROR(L"the link %ls to %ls could not be put back", path.c_str(), target.c_str());
    ClearJournal();
    Save();
    return 0;
}

// Points every record's link at its place under the new root.
bool MoverManager::Repoint(const std::wstring& newRoot) {
    for (auto& entry : m_appFolders) {
        const std::wstring location = Join(Join(newRoot, kAppsFolder), Leaf(entry.second));
        if (FolderOps::IsJunction(entry.first))
            FolderOps::DeleteJunction(entry.first);
        if (!FolderOps::CreateJunction(entry.first, location)) {
            MOVER_ERROR(L"the link %ls to %ls could not be made", entry.first.c_str(), location.c_str());
            return false;
        }
        entry.second = location;
    }
    for (auto& entry : m_knownFolders) {
        KnownFolderInfo* folder = KnownFolderInfo::ByName(entry.first);
        if (folder == nullptr)
            continue;
        const std::wstring location = Join(Join(newRoot, kWindowsFolder), entry.first);
        if (!KnownFolderPaths::SetPath(folder->effectiveFolderId, location))
            MOVER_ERROR(L"%ls could not be pointed to %ls", entry.first.c_str(), location.c_str());
        folder->path = location;
        const std::wstring home = folder->DefaultLocation();
        if (!home.empty()) {
            if (FolderOps::IsJunction(home))
                FolderOps::DeleteJunction(home);
            if (!FolderOps::Exists(home))
                FolderOps::CreateFolder(home);
            if (!FolderOps::CreateJunction(home, location))
                MOVER_WARN(L"no link left at %ls to %ls", home.c_str(), location.c_str());
        }
        entry.second = location;
    }
    return true;
}

std::int32_t MoverManager::ChangeRoot(const std::wstring& prefix) {
    const std::wstring oldRoot = KnownFolderInfo::s_movedRoot;
    const std::wstring newRoot = prefix + m_folderName;
    if (oldRoot.empty()) {
        MOVER_WARN(L"the mover has no root folder to move");
        return 0;
    }
    if (!FolderOps::IsDirectory(prefix) && !FolderOps::CreateFolder(prefix))
        return 0;
    if (Refused(oldRoot, newRoot, false))
        return 0;
    m_journal = Journal{kOpChangeRoot, oldRoot, newRoot, kStepCopy, L"", L""};
    if (!SetStep(kStepCopy)) {
        MOVER_ERROR(L"not moving %ls: the step cannot be recorded", oldRoot.c_str());
        ClearJournal();
        return 0;
    }
    // An empty folder at the new place is ours to drop.
    const bool renamed = FolderOps::SameVolume(oldRoot, newRoot);
    const bool moved = (!FolderOps::IsDirectory(newRoot) || !FolderOps::IsEmptyDirectory(newRoot) ||
                        FolderOps::DeleteTree(newRoot)) &&
                       (renamed ? FolderOps::Rename(oldRoot, newRoot) : CopyCounted(oldRoot, newRoot));
    if (!moved) {
        MOVER_WARN(L"the root %ls stays where it is", oldRoot.c_str());
        ClearJournal();
        Save();
        return 0;
    }
    // The links move over while the old root is still whole; only then does
    // the old root go, its record last.
    KnownFolderInfo::s_movedRoot = newRoot;
    if (renamed)
        SetStep(kStepLink);
    else
        SetRootStep(kStepLink);
    return FinishChangeRoot(oldRoot, newRoot) ? 1 : 0;
}

// The links point into the new root, then the old root's copy goes; on a
// failure the journal stays for the next Init to go on from.
bool MoverManager::FinishChangeRoot(const std::wstring& oldRoot, const std::wstring& newRoot) {
    KnownFolderInfo::s_movedRoot = newRoot;
    if (!Repoint(newRoot)) {
        Save();
        return false;
    }
    if (FolderOps::Exists(oldRoot)) {
        SetRootStep(kStepDelete);
        if (!DeleteOldRoot(oldRoot)) {
            MOVER_ERROR(L"everything is in %ls; the old root %ls could not be removed whole", newRoot.c_str(),
                        oldRoot.c_str());
            Save();
            return false;
        }
    }
    ClearJournal();
    Save();
    return true;
}

// Deletes an old root with its record last: a stop part-way leaves the
// record that says where everything went.
bool MoverManager::DeleteOldRoot(const std::wstring& root) {
    std::vector<std::wstring> children;
    FastDir::List(root, [&](const FastDir::Entry& entry) {
        if (entry.name != L"mover.ini")
            children.push_back(Join(root, entry.name));
        return true;
    });
    bool whole = true;
    for (const std::wstring& child : children)
        whole = FolderOps::DeleteTree(child) && whole;
    return whole && FolderOps::DeleteTree(root);
}

// An unfinished step found in "mover.ini": the move goes on when the data
// is whole at the destination, else it is undone while the source is whole.
void MoverManager::Recover() {
    if (m_journal.op.empty())
        return;
    const Journal j = m_journal;
    MOVER_INFO(L"unfinished %ls of %ls to %ls at step %ls", j.op.c_str(), j.source.c_str(), j.destination.c_str(),
               j.step.c_str());
    std::wstring step = j.step;
    const bool app = j.op == kOpRestoreApp || j.op == kOpUndoApp;

    if (step == kStepUnlink) {
        // Nothing was moved yet; only the link may be gone.
        if (!FolderOps::IsJunction(j.destination) && !FolderOps::CreateJunction(j.destination, j.source)) {
            MOVER_ERROR(L"the content of %ls is at %ls; its link could not be put back", j.destination.c_str(),
                        j.source.c_str());
            return;
        }
        ClearJournal();
        Save();
        return;
    }
    if (step == kStepCopy) {
        if (FolderOps::IsDirectory(j.source)) {
            // The source is whole: whatever reached the destination is a partial copy.
            // Files written there since the stop are not the copy's and stay.
            if (FolderOps::IsDirectory(j.destination) &&
                !FolderOps::RemovePartialCopy(j.destination, j.source)) {
                MOVER_ERROR(L"the content is whole at %ls; %ls holds other files too, so the record is kept",
                            j.source.c_str(), j.destination.c_str());
                return;
            }
            bool undone = true;
            if (j.op == kOpMoveKnown || j.op == kOpRestoreKnown) {
                KnownFolderInfo* folder = KnownFolderInfo::ByName(j.name);
                if (folder != nullptr) {
                    folder->RefreshPath();
                    undone = KnownFolderPaths::SetPath(folder->effectiveFolderId, j.source);
                    if (j.op == kOpRestoreKnown)
                        FolderOps::CreateJunction(j.destination, j.source);
                }
            } else if (app) {
                undone = FolderOps::CreateJunction(j.destination, j.source);
                if (undone && j.op == kOpUndoApp)
                    m_appFolders[j.destination] = j.source;
            } else if (j.op == kOpChangeRoot) {
                KnownFolderInfo::s_movedRoot = j.source;
            }
            if (!undone) {
                MOVER_ERROR(L"the content of %ls is whole at %ls; it could not be linked back", j.name.c_str(),
                            j.source.c_str());
                Save();
                return;
            }
            MOVER_INFO(L"the unfinished %ls was undone; the content is at %ls", j.op.c_str(), j.source.c_str());
            ClearJournal();
            Save();
            return;
        }
        if (!FolderOps::IsDirectory(j.destination)) {
            MOVER_ERROR(L"neither %ls nor %ls holds the content; the record is kept", j.source.c_str(),
                        j.destination.c_str());
            return;
        }
        step = kStepLink;  // renamed whole
    }
    if (j.op == kOpChangeRoot) {
        m_journal.step = step;
        if (FinishChangeRoot(j.source, j.destination))
            MOVER_INFO(L"the unfinished change of root was completed; everything is in %ls", j.destination.c_str());
        return;
    }
    if (step == kStepDelete) {
        // The copy was counted complete before this step began.
        if (FolderOps::Exists(j.source) && !FolderOps::IsLink(j.source) && !FolderOps::DeleteTree(j.source)) {
            MOVER_ERROR(L"the complete copy is at %ls; %ls still could not be removed", j.destination.c_str(),
                        j.source.c_str());
            return;
        }
        step = kStepLink;
    }
    m_journal.step = step;
    if (j.op == kOpMoveApp) {
        if (!FolderOps::IsJunction(j.source) && !FolderOps::CreateJunction(j.source, j.destination)) {
            MOVER_ERROR(L"the content of %ls is at %ls; no link could be made", j.source.c_str(), j.destination.c_str());
            Save();
            return;
        }
        m_appFolders[j.source] = j.destination;
    } else if (app) {
        m_appFolders.erase(j.destination);
    } else if (j.op == kOpMoveKnown || j.op == kOpRestoreKnown) {
        KnownFolderInfo* folder = KnownFolderInfo::ByName(j.name);
        if (folder != nullptr) {
            folder->RefreshPath();
            KnownFolderPaths::SetPath(folder->effectiveFolderId, j.destination);
            folder->path = j.destination;
            if (j.op == kOpMoveKnown) {
                const std::wstring home = folder->DefaultLocation();
                if (!home.empty() && !FolderOps::Exists(home))
                    FolderOps::CreateFolder(home);
                if (!home.empty() && !FolderOps::IsJunction(home))
                    FolderOps::CreateJunction(home, j.destination);
                m_knownFolders[j.name] = j.destination;
            } else {
                m_knownFolders.erase(j.name);
            }
        }
    }
    MOVER_INFO(L"the unfinished %ls was completed; the content is at %ls", j.op.c_str(), j.destination.c_str());
    ClearJournal();
    Save();
}

}  // namespace Trova
