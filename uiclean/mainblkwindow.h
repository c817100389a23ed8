// The program's one application window: a web-view window that owns the
// junk engine and offers the page the application functions on top of the
// generic host functions. Each function returns at once; results come back
// later as calls of the page's global functions on the UI thread.
#pragma once

#include "host/basewindow.h"
#include "trova/clean/cacheclean.h"
#include "trova/extension/extensionscanner.h"
#include "trova/mover/movermanager.h"
#include "uiclean/enginecallbacks.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class MainBlkWindow : public BaseBlkWinow {
public:
    // The start-up passes no parent, the configured url and kind 3.
    MainBlkWindow(HWND parent, std::intptr_t unused, const std::string& url, std::int32_t kind);
    // Waits for the window's worker threads (a scan or a deletion still
    // reporting) before the engine goes.
    ~MainBlkWindow() override;

    Trova::CacheClean& Cache() { return m_cache; }
    Trova::CacheCleanCbkImple* CacheCallback() const { return m_cacheCallback; }
    Trova::ExtensionCleanCbkImple* ExtensionCallback(int index) const { return m_extensionCallbacks[index].get(); }

    // The rule ids the page sends and the engine takes differ by the mask
    // while the data files are scrambled.
    static std::uint32_t BridgeId(std::uint32_t id);

    // The page's functions, as bound (public for the tests' fake web view).
    static jsValue WKE_CALL CacheScanInit(jsExecState es, void* param);
    static jsValue WKE_CALL CacheScanStart(jsExecState es, void* param);
    static jsValue WKE_CALL CacheScanStop(jsExecState es, void* param);
    static jsValue WKE_CALL CacheDeleteOne(jsExecState es, void* param);
    static jsValue WKE_CALL ExtensionScanStart(jsExecState es, void* param);
    static jsValue WKE_CALL ExtensionScanStop(jsExecState es, void* param);

    // The folder mover, null until the page's first moverInit. Workers hold
    // their own reference, so a second moverInit cannot pull it from under them.
    std::shared_ptr<Trova::MoverManager> Mover() const;
    void SetMover(std::shared_ptr<Trova::MoverManager> mover);
    // Mover operations run one at a time: they share one record file.
    std::mutex& MoverMutex() { return m_moverRunMutex; }

    // The system's generic file icon (an image file; empty when there is
    // none), built on the first call and kept while the window lives. UI thread.
    const std::vector<std::uint8_t>& DefaultIcon();

    // Counts a worker of this window in and out; the destructor waits for none.
    void WorkerStarted();
    void WorkerEnded();

private:
    static std::intptr_t MainProcedure(BaseBlkWinow& self, std::uint32_t message, std::uintptr_t wParam,
                                       std::intptr_t lParam, bool& handled);
    void Bind();
    Trova::CacheCleanCbkImple* EnsureCacheCallback();

    Trova::CacheClean m_cache;
    // Created by the first cacheScanInit (or a scan started without one) and
    // kept for the process: a scan thread that outlives a scan still reports
    // through it.
    Trova::CacheCleanCbkImple* m_cacheCallback = nullptr;
    std::array<std::unique_ptr<Trova::ExtensionCleanCbkImple>, 2> m_extensionCallbacks;
    // Index 0 finds big files, 1 duplicates. Declared after their callbacks:
    // they stop (and report) before the callbacks go.
    std::array<std::unique_ptr<Trova::ExtensionScanner>, 2> m_extensionScanners;

    // Scans run one at a time; a second start waits for the first.
    std::mutex m_scanMutex;
    std::shared_ptr<Trova::MoverManager> m_mover;
    mutable std::mutex m_moverMutex;
    std::mutex m_moverRunMutex;
    std::mutex m_workersMutex;
    std::condition_variable m_workersDone;
    int m_workers = 0;
    std::vector<std::uint8_t> m_defaultIcon;
    bool m_defaultIconBuilt = false;
};
