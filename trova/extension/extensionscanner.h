// The large-file and duplicate scan: one work queue with four walkers per
// volume, a coordinator that waits for every queue, confirms duplicates and
// reports. Two of these live in the main window: index 0 finds big files,
// index 1 duplicates.
//
//   scanner.Load(L"extrules.xml", false);
//   scanner.SetCallback(&callback);
//   scanner.Start(L"C:|D:", ExtensionMode::BigFiles);   // returns at once
//   scanner.Stop(2, window);    // → OnFinished(2) with what was found so far
#pragma once

#include "trova/blockingqueue.h"
#include "trova/extension/citem.h"
#include "trova/extension/extensioncleanfile.h"

#include "fendrel/fastdir.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Trova {

class ExtensionScanner {
public:
    ExtensionScanner();
    ~ExtensionScanner();
    ExtensionScanner(const ExtensionScanner&) = delete;
    ExtensionScanner& operator=(const ExtensionScanner&) = delete;

    // A fresh rule file replaces the previous one (and its results); the
    // first that loads in the process fixes the white folders and the
    // minimum size.
    bool Load(const std::wstring& path, bool scrambled);
    void SetCallback(ExtensionCleanCbk* callback, std::uint32_t period);
    // Starts walking the "|"-separated roots; a running scan is stopped
    // first (code 1). False when the list names no root.
    bool Start(const std::wstring& roots, ExtensionMode mode);
    // Stops the running scan; its report follows with `code`. With a window,
    // that window's thread keeps answering the report's calls meanwhile.
    void Stop(std::uint8_t code, HWND window);
    // Blocks until the running scan has reported (tools and tests).
    void WaitFinished();

    // The thread of this window answers the scan's reports: the stops that
    // Load and Start make keep it answering while they wait.
    void SetWindow(HWND window) { m_window = window; }

    // How files are read for the duplicate check; tests count reads.
    void SetDigest(DigestFunction digest) { m_digest = std::move(digest); }
    void SetConfirm(ConfirmFunction confirm) { m_confirm = std::move(confirm); }
    // The whole-content check of a group as the scan makes it: files read
    // side by side; `stopping` ends it.
    static std::vector<std::vector<std::size_t>> CompareContents(const std::vector<CItem*>& group,
                                                                 const std::atomic<bool>* stopping);

    ExtensionCleanFile* Rules() const { return m_rules.get(); }
    CItem* Root() const { return m_root.get(); }

    // "C:|D:" → the pieces as this scan sees them: several roots end with
    // a separator; one root loses a trailing separator unless it is a
    // drive root ("C:\", "/").
    static std::vector<std::wstring> ParseRoots(const std::wstring& roots);

private:
    using ItemQueue = BlockingQueue<CItem*>;

    void Coordinate(ExtensionMode mode);
    void Walk(ItemQueue& queue, ExtensionMode mode);
    void ListFolder(ItemQueue& queue, CItem& folder, ExtensionMode mode);
    void AddEntry(ItemQueue& queue, CItem& folder, const std::wstring& path, const FastDir::Entry& entry,
                  ExtensionMode mode);
    void FinishPending(CItem& item);
    void MarkAllDone(CItem& item);

    std::unique_ptr<ExtensionCleanFile> m_rules;
    std::unique_ptr<CItem> m_root;
    ExtensionMode m_mode = ExtensionMode::BigFiles;
    bool m_severalRoots = false;
    ExtensionSettings m_settings;
    DigestFunction m_digest;
    ConfirmFunction m_confirm;
    HWND m_window = nullptr;

    std::mutex m_control;                    // the queues, the flags below
    std::map<std::wstring, std::unique_ptr<ItemQueue>> m_queues;
    std::atomic<bool> m_stopping{false};
    std::uint8_t m_stopCode = 0;
    std::thread m_coordinator;

    std::mutex m_doneMutex;
    std::condition_variable m_doneChanged;
    bool m_done = true;
};

}  // namespace Trova
