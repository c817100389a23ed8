#include "trova/extension/extensionscanner.h"

#include "trova/extension/samecontent.h"

#include "fendrel/fastdir.h"
#include "fendrel/logger.h"
#include "fendrel/platform.h"
#include "fendrel/utils.h"

#include <algorithm>
#include <cwctype>
#include <exception>
#include <stdexcept>

namespace Trova {

namespace {

constexpr const char* kSource = "extension/extensionscanner";

// Only one coordinator of any scanner runs at a time in the process.
std::mutex g_coordinatorMutex;

std::wstring Trimmed(const std::wstring& text) {
    const std::size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

bool IsDriveRoot(const std::wstring& path) {
#if defined(FENDREL_WINDOWS)
    return path.size() == 3 && path[1] == L':' && path[2] == L'\\';
#else
    return path == L"/";
#endif
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
            return false;
    }
    return true;
}

bool IsFolderLink(const FastDir::Entry& entry) {
    return (entry.attributes & FastDir::kAttrReparsePoint) != 0 &&
           (entry.reparseTag == FastDir::kTagMountPoint || entry.reparseTag == FastDir::kTagSymlink);
}

constexpr std::uint32_t kHiddenSystem = FastDir::kAttrHidden | FastDir::kAttrSystem;

}  // namespace

ExtensionScanner::ExtensionScanner() : m_rules(std::make_unique<ExtensionCleanFile>()) {
    m_digest = [](const CItem& item, std::uint64_t limit) { return FastDir::Sha512(item.Path(), limit, nullptr).bytes; };
    m_confirm = [this](const std::vector<CItem*>& group) { return CompareContents(group, &m_stopping); };
}

std::vector<std::vector<std::size_t>> ExtensionScanner::CompareContents(const std::vector<CItem*>& group,
                                                                        const std::atomic<bool>* stopping) {
    std::vector<ContentCandidate> files;
    for (const CItem* item : group)
        files.push_back({item->Path(), item->logicalSize.load(), item->lastWrite});
    return SameContent(files, [stopping] {
        if (stopping != nullptr && stopping->load())
            throw std::runtime_error("the scan is stopping");
    });
}

ExtensionScanner::~ExtensionScanner() {
    Stop(1, nullptr);
}

bool ExtensionScanner::Load(const std::wstring& path, bool scrambled) {
    Stop(1, m_window);
    ExtensionCleanCbk* callback = m_rules->categories.callback;
    const std::uint32_t period = m_rules->period;
    m_root.reset();  // the items the old categories point at go first
    m_rules = std::make_unique<ExtensionCleanFile>();
    m_rules->categories.callback = callback;
    m_rules->period = period;
    const bool loaded = m_rules->Load(path, scrambled);
    if (loaded)
        ApplyExtensionSettingsOnce(*m_rules);
    return loaded;
}

void ExtensionScanner::SetCallback(ExtensionCleanCbk* callback, std::uint32_t period) {
    m_rules->categories.callback = callback;
    m_rules->period = period == 0 ? 1 : period;
    m_rules->filesAdded = 0;
}

std::vector<std::wstring> ExtensionScanner::ParseRoots(const std::wstring& roots) {
    std::vector<std::wstring> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = roots.find(L'|', start);
        std::wstring piece = Trimmed(roots.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start));
        if (!piece.empty())
            pieces.push_back(std::move(piece));
        if (bar == std::wstring::npos)
            break;
        start = bar + 1;
    }
    if (pieces.size() >= 2) {
        for (std::wstring& piece : pieces) {
            if (piece.back() != fendrel::kPathSep)
                piece += fendrel::kPathSep;
        }
    } else if (pieces.size() == 1) {
        std::wstring& piece = pieces[0];
        if (piece.size() == 2 && piece[1] == L':')
            piece += L'\\';
        else if (piece.size() > 1 && piece.back() == fendrel::kPathSep && !IsDriveRoot(piece))
            piece.pop_back();
    }
    return pieces;
}

bool ExtensionScanner::Start(const std::wstring& roots, ExtensionMode mode) {
    Stop(1, m_window);
    const std::vector<std::wstring> pieces = ParseRoots(roots);
    if (pieces.empty()) {
        Logger_Warn(kSource, __LINE__, "no folder to scan was given");
        return false;
    }
    m_mode = mode;
    m_settings = ExtensionScanSettings();
    m_severalRoots = pieces.size() > 1;
    if (m_severalRoots) {
        m_root = std::make_unique<CItem>(CItem::kComputer | CItem::kRoot, L"This PC", nullptr);
        for (const std::wstring& piece : pieces)
            m_root->Adopt(std::make_unique<CItem>(CItem::kDrive, piece, m_root.get()));
    } else if (IsDriveRoot(pieces[0])) {
        m_root = std::make_unique<CItem>(CItem::kDrive | CItem::kRoot, pieces[0], nullptr);
    } else {
        m_root = std::make_unique<CItem>(CItem::kDirectory | CItem::kRoot, pieces[0], nullptr);
    }
    {
        std::lock_guard<std::mutex> doneGuard(m_doneMutex);
        m_done = false;
    }
    std::lock_guard<std::mutex> guard(m_control);
    m_stopping = false;
    m_stopCode = 0;
    m_coordinator = std::thread([this, mode] { Coordinate(mode); });
    return true;
}

void ExtensionScanner::Stop(std::uint8_t code, HWND window) {
    std::vector<ItemQueue*> queues;
    {
        std::lock_guard<std::mutex> guard(m_control);
        if (!m_coordinator.joinable())
            return;
        if (!m_stopping.exchange(true))
            m_stopCode = code;
        for (auto& [key, queue] : m_queues)
            queues.push_back(queue.get());
    }
    for (ItemQueue* queue : queues)
        queue->Stop(code, window);
    ItemQueue::RunWhilePumping([this] { m_coordinator.join(); }, window);
    std::lock_guard<std::mutex> guard(m_control);
    m_queues.clear();
}

void ExtensionScanner::WaitFinished() {
    std::unique_lock<std::mutex> lock(m_doneMutex);
    m_doneChanged.wait(lock, [this] { return m_done; });
}

void ExtensionScanner::Coordinate(ExtensionMode mode) {
    std::lock_guard<std::mutex> exclusive(g_coordinatorMutex);
    std::vector<CItem*> walks;
    if (m_root->Type() == CItem::kComputer) {
        for (const auto& drive : m_root->folder->children)
            walks.push_back(drive.get());
    } else {
        walks.push_back(m_root.get());
    }

    std::vector<ItemQueue*> started;
    {
        std::lock_guard<std::mutex> guard(m_control);
        if (!m_stopping) {
            for (CItem* item : walks) {
                const std::wstring key = FastDir::VolumeKey(item->Path());
                std::unique_ptr<ItemQueue>& queue = m_queues[key];
                if (!queue) {
                    queue = ItemQueue::Create();
                    ItemQueue* raw = queue.get();
                    raw->Start([this, raw, mode] { Walk(*raw, mode); });
                    started.push_back(raw);
                }
                // The computer over several drives waits for all of them.
                for (CItem* up = item; up != nullptr; up = up->parent) {
                    if (up->folder->pending.fetch_add(1) == 0)
                        up->folder->scanStart = CItem::NowSeconds();
                }
                queue->Push(item);
            }
        }
    }

    std::uint8_t code = 0;
    for (ItemQueue* queue : started) {
        const std::uint8_t result = queue->WaitDone();
        code = result == 1 ? 0 : result;
    }
    if (m_stopping)
        code = m_stopCode;
    // The walkers are idle: let them go before the tree is read.
    for (ItemQueue* queue : started)
        queue->Stop(code == 0 ? 1 : code, nullptr);
    MarkAllDone(*m_root);

    if (mode == ExtensionMode::Duplicates && code == 0)
        m_rules->ConfirmDuplicates(m_confirm, 4, m_stopping);
    if (m_stopping)
        code = m_stopCode;
    m_rules->Report(mode, code);
    {
        std::lock_guard<std::mutex> guard(m_doneMutex);
        m_done = true;
    }
    m_doneChanged.notify_all();
}

void ExtensionScanner::Walk(ItemQueue& queue, ExtensionMode mode) {
    for (;;) {
        CItem* item = queue.Pop();
        if (item->folder) {
            item->folder->scanEnd = 0;
            if (item->folder->scanStart == 0)
                item->folder->scanStart = CItem::NowSeconds();
        }
        if (item->Type() == CItem::kDirectory || item->Type() == CItem::kDrive)
            ListFolder(queue, *item, mode);
        FinishPending(*item);
    }
}

void ExtensionScanner::ListFolder(ItemQueue& queue, CItem& folder, ExtensionMode mode) {
    const std::wstring path = folder.Path();
    // The queue's stop leaves by an exception, which must not cross the
    // listing (another library): it is kept and thrown again after it.
    std::exception_ptr stopped;
    const bool listed = FastDir::List(path, [&](const FastDir::Entry& entry) {
        try {
            AddEntry(queue, folder, path, entry, mode);
            return true;
        } catch (...) {
            stopped = std::current_exception();
            return false;
        }
    });
    if (stopped)
        std::rethrow_exception(stopped);
    if (!listed)
        Logger_DebugF(kSource, __LINE__, "cannot list %s", Utils::utf16ToUtf8(path).c_str());
}

void ExtensionScanner::AddEntry(ItemQueue& queue, CItem& folder, const std::wstring& path,
                                const FastDir::Entry& entry, ExtensionMode mode) {
    if (!entry.IsDirectory()) {
        if ((entry.attributes & FastDir::kAttrHidden) != 0)
            return;  // hidden, or hidden and system
        if ((entry.attributes & FastDir::kAttrReparsePoint) != 0 && entry.reparseTag == FastDir::kTagSymlink)
            return;  // a link to a file: its target is counted where it lives
        if (m_settings.minimumSize != 0 && entry.logicalSize < m_settings.minimumSize)
            return;
        queue.WaitIfSuspended();
        for (CItem* up = &folder; up != nullptr; up = up->parent) {
            up->folder->files.fetch_add(1);
            up->physicalSize.fetch_add(entry.physicalSize);
            up->logicalSize.fetch_add(entry.logicalSize);
        }
        auto file = std::make_unique<CItem>(CItem::kFile, entry.name, &folder);
        file->physicalSize = entry.physicalSize;
        file->logicalSize = entry.logicalSize;
        file->lastWrite = entry.lastWrite;
        file->attributes = entry.attributes;
        CItem* added = folder.Adopt(std::move(file));
        m_rules->OnFile(*added, mode, m_digest);
        return;
    }
    if ((entry.attributes & kHiddenSystem) == kHiddenSystem)
        return;  // protected folders are never entered
    std::wstring childPath = path;
    if (childPath.empty() || childPath.back() != fendrel::kPathSep)
        childPath += fendrel::kPathSep;
    childPath += entry.name;
    for (const std::wstring& white : m_settings.whiteFolders) {
        if (SameFolder(white, childPath))
            return;
    }
    for (CItem* up = &folder; up != nullptr; up = up->parent)
        up->folder->folders.fetch_add(1);
    auto child = std::make_unique<CItem>(CItem::kDirectory, entry.name, &folder);
    child->lastWrite = entry.lastWrite;
    child->attributes = entry.attributes;
    CItem* added = folder.Adopt(std::move(child));
    if (IsFolderLink(entry)) {
        added->MarkDone();  // an item, never walked: it leads elsewhere
        return;
    }
    for (CItem* up = added; up != nullptr; up = up->parent) {
        if (up->folder->pending.fetch_add(1) == 0)
            up->folder->scanStart = CItem::NowSeconds();
    }
    queue.Push(added);
}

void ExtensionScanner::FinishPending(CItem& item) {
    for (CItem* up = &item; up != nullptr; up = up->parent) {
        if (up->folder && up->folder->pending.fetch_sub(1) == 1)
            up->MarkDone();
    }
}

void ExtensionScanner::MarkAllDone(CItem& item) {
    if (item.folder) {
        for (const auto& child : item.folder->children)
            MarkAllDone(*child);
    }
    item.MarkDone();
}

}  // namespace Trova
