#include "uiclean/enginecallbacks.h"

#include "host/basewindow.h"
#include "host/hostfunctions.h"
#include "host/nativewindow.h"
#include "host/uitask.h"

#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <functional>
#include <vector>

namespace Trova {

namespace {

// Shared by every scan of the process; they go on across scans. Relaxed
// atomics: a lost increment between threads only shifts which call is sent.
std::atomic<std::uint64_t> g_sizeCounter{0};
std::atomic<std::uint64_t> g_fileCounter{0};

// True on every N-th call: the 1st delivery is the N-th call.
bool Due(std::atomic<std::uint64_t>& counter, std::int32_t every) {
    const std::uint64_t next = (counter.load(std::memory_order_relaxed) + 1) % static_cast<std::uint64_t>(every);
    counter.store(next, std::memory_order_relaxed);
    return next == 0;
}

// On the UI thread: the page function `name` with the arguments built there.
void CallOnUi(BaseBlkWinow* owner, const std::string& name, const BaseBlkWinow::PageArguments& arguments) {
    if (owner != nullptr && !name.empty())
        owner->CallPage(name, arguments);
}

jsValue Text(jsExecState es, const std::string& text) {
    return hostfunctions::Text(es, text);
}

}  // namespace

std::string Decimal(std::uint64_t value) {
    return std::to_string(value);
}

void RunTypedTask(std::uintptr_t kind, std::intptr_t record) {
    switch (kind) {
    case kGroupTask:
    case kProgramTask:
        reinterpret_cast<uitask::TaskData<Cbk1Data>*>(record)->Run();
        break;
    case kNumberTask:
        reinterpret_cast<uitask::TaskData<std::uint64_t>*>(record)->Run();
        break;
    case kTextTask:
        reinterpret_cast<uitask::TaskData<std::string>*>(record)->Run();
        break;
    default:
        Logger_ErrorF("uiclean/enginecallbacks", __LINE__, "typed task of unknown kind %u",
                      static_cast<unsigned>(kind));
        break;
    }
}

CacheCleanCbkImple::CacheCleanCbkImple(std::int32_t sizeEvery, std::int32_t fileEvery, HWND window,
                                       BaseBlkWinow* owner)
    : m_sizeEvery(1), m_fileEvery(1), m_window(window), m_owner(owner) {
    SetThrottles(sizeEvery, fileEvery);
}

void CacheCleanCbkImple::SetThrottles(std::int32_t sizeEvery, std::int32_t fileEvery) {
    // The throttles divide: a page that sends 0 or less gets every event.
    m_sizeEvery = sizeEvery < 1 ? 1 : sizeEvery;
    m_fileEvery = fileEvery < 1 ? 1 : fileEvery;
}

void CacheCleanCbkImple::ResetCounters() {
    g_sizeCounter = 0;
    g_fileCounter = 0;
}

void CacheCleanCbkImple::OnTotal(std::uint64_t size, std::uint64_t selectedSize) {
    BaseBlkWinow* owner = m_owner;
    uitask::PostUiTask(
        [owner, size, selectedSize] {
            CallOnUi(owner, "cacheScanCbkTotal", [&](jsExecState es) {
                return std::vector<jsValue>{Text(es, Decimal(size)), Text(es, Decimal(selectedSize))};
            });
        },
        m_window);
}

namespace {
void PostEntry(HWND window, BaseBlkWinow* owner, TaskKind kind, const char* function, Cbk1Data data) {
    uitask::PostUiData<Cbk1Data>(
        std::move(data),
        [owner, function](const Cbk1Data& entry) {
            CallOnUi(owner, function, [&](jsExecState es) {
                return std::vector<jsValue>{Text(es, entry.name), Text(es, Decimal(entry.size)),
                                            Text(es, Decimal(entry.selectedSize)), Text(es, Decimal(entry.id))};
            });
        },
        window, kind);
}
}  // namespace

void CacheCleanCbkImple::OnGroup(std::string name, std::uint64_t size, std::uint64_t selectedSize, std::uint32_t id) {
    PostEntry(m_window, m_owner, kGroupTask, "cacheScanCbk0", Cbk1Data{std::move(name), size, selectedSize, id});
}

void CacheCleanCbkImple::OnProgram(std::string name, std::uint64_t size, std::uint64_t selectedSize,
                                   std::uint32_t id) {
    PostEntry(m_window, m_owner, kProgramTask, "cacheScanCbk1", Cbk1Data{std::move(name), size, selectedSize, id});
}

void CacheCleanCbkImple::OnItem(std::string name, std::uint64_t size, std::uint32_t id, bool selected) {
    BaseBlkWinow* owner = m_owner;
    uitask::PostUiTask(
        [owner, name = std::move(name), size, id, selected] {
            CallOnUi(owner, "cacheScanCbk2", [&](jsExecState es) {
                return std::vector<jsValue>{Text(es, name), Text(es, Decimal(size)), Text(es, Decimal(id)),
                                            g_wke.jsBoolean(selected)};
            });
        },
        m_window);
}

void CacheCleanCbkImple::OnItemFiles(const std::map<std::string, std::uint64_t>& files) {
    BaseBlkWinow* owner = m_owner;
    uitask::PostUiTask(
        [owner, files] {
            CallOnUi(owner, "cacheScanCbk3", [&](jsExecState es) {
                jsValue list = g_wke.jsEmptyArray(es);
                int index = 0;
                for (const auto& [path, size] : files) {
                    jsValue entry = g_wke.jsEmptyObject(es);
                    g_wke.jsSet(es, entry, "fileName", Text(es, Utils::ansiToUtf8(path)));
                    g_wke.jsSet(es, entry, "size", Text(es, Decimal(size)));
                    g_wke.jsSetAt(es, list, index++, entry);
                }
                return std::vector<jsValue>{list};
            });
        },
        m_window);
}

void CacheCleanCbkImple::OnRunningSize(std::uint64_t size, std::uint64_t selectedSize) {
    if (!Due(g_sizeCounter, m_sizeEvery))
        return;
    BaseBlkWinow* owner = m_owner;
    uitask::PostUiData<std::uint64_t>(
        size,
        [owner, selectedSize](const std::uint64_t& total) {
            CallOnUi(owner, "sizeCbk", [&](jsExecState es) {
                return std::vector<jsValue>{Text(es, Decimal(total)), Text(es, Decimal(selectedSize))};
            });
        },
        m_window, kNumberTask);
}

void CacheCleanCbkImple::OnFileFound(const std::string& path) {
    if (!Due(g_fileCounter, m_fileEvery))
        return;
    BaseBlkWinow* owner = m_owner;
    uitask::PostUiData<std::string>(
        Utils::ansiToUtf8(path),
        [owner](const std::string& name) {
            CallOnUi(owner, "cacheFileNameCbk", [&](jsExecState es) { return std::vector<jsValue>{Text(es, name)}; });
        },
        m_window, kTextTask);
}

void CacheCleanCbkImple::OnScanEnd(std::uint8_t result) {
    BaseBlkWinow* owner = m_owner;
    HWND window = m_window;
    uitask::PostUiTask(
        [owner, window, result] {
            if (owner != nullptr)
                nativewin::SetTaskbarState(owner->taskbar, window, 0);
            CallOnUi(owner, "cacheScanEndCbk", [&](jsExecState) { return std::vector<jsValue>{g_wke.jsInt(result)}; });
        },
        m_window);
}

void CacheCleanCbkImple::OnProgress(std::uint32_t finished, std::uint32_t total) {
    BaseBlkWinow* owner = m_owner;
    HWND window = m_window;
    uitask::PostUiTask(
        [owner, window, finished, total] {
            if (owner != nullptr)
                nativewin::SetTaskbarValue(owner->taskbar, window, finished, total);
            CallOnUi(owner, "cacheProgressCbk", [&](jsExecState) {
                return std::vector<jsValue>{g_wke.jsInt(static_cast<int>(finished)),
                                            g_wke.jsInt(static_cast<int>(total))};
            });
        },
        m_window);
}

ExtensionCleanCbkImple::ExtensionCleanCbkImple(HWND window, BaseBlkWinow* owner) : m_window(window), m_owner(owner) {}

namespace {
void PostNamed(HWND window, BaseBlkWinow* owner, const std::string& name, BaseBlkWinow::PageArguments arguments) {
    if (name.empty())
        return;  // the page wants nothing from this slot
    uitask::PostUiTask([owner, name, arguments = std::move(arguments)] { CallOnUi(owner, name, arguments); },
                       window);
}
}  // namespace

void ExtensionCleanCbkImple::OnTotal(std::uint64_t total) {
    PostNamed(m_window, m_owner, m_names[0],
              [total](jsExecState es) { return std::vector<jsValue>{Text(es, Decimal(total))}; });
}

void ExtensionCleanCbkImple::OnCategory(std::int32_t index, const std::string& name, std::uint64_t size) {
    PostNamed(m_window, m_owner, m_names[1], [index, name, size](jsExecState es) {
        return std::vector<jsValue>{g_wke.jsInt(index), Text(es, name), Text(es, Decimal(size))};
    });
}

void ExtensionCleanCbkImple::OnBigFiles(std::int32_t index, const std::vector<BigFileRecord>& files) {
    PostNamed(m_window, m_owner, m_names[2], [index, files](jsExecState es) {
        jsValue list = g_wke.jsEmptyArray(es);
        for (std::size_t i = 0; i < files.size(); ++i) {
            jsValue entry = g_wke.jsEmptyObject(es);
            g_wke.jsSet(es, entry, "fileName", Text(es, files[i].fileName));
            g_wke.jsSet(es, entry, "size", Text(es, Decimal(files[i].size)));
            g_wke.jsSetAt(es, list, static_cast<int>(i), entry);
        }
        return std::vector<jsValue>{g_wke.jsInt(index), list};
    });
}

void ExtensionCleanCbkImple::OnDuplicates(std::int32_t index, const std::vector<DuplicateGroup>& groups) {
    PostNamed(m_window, m_owner, m_names[3], [index, groups](jsExecState es) {
        jsValue list = g_wke.jsEmptyArray(es);
        for (std::size_t i = 0; i < groups.size(); ++i) {
            jsValue entry = g_wke.jsEmptyObject(es);
            g_wke.jsSet(es, entry, "size", Text(es, Decimal(groups[i].size)));
            jsValue members = g_wke.jsEmptyArray(es);
            for (std::size_t j = 0; j < groups[i].files.size(); ++j)
                g_wke.jsSetAt(es, members, static_cast<int>(j), Text(es, groups[i].files[j]));
            g_wke.jsSet(es, entry, "files", members);
            g_wke.jsSetAt(es, list, static_cast<int>(i), entry);
        }
        return std::vector<jsValue>{g_wke.jsInt(index), list};
    });
}

void ExtensionCleanCbkImple::OnFinished(std::int32_t result) {
    PostNamed(m_window, m_owner, m_names[4], [result](jsExecState) { return std::vector<jsValue>{g_wke.jsInt(result)}; });
}

void ExtensionCleanCbkImple::OnNumber(std::uint64_t number) {
    PostNamed(m_window, m_owner, m_names[5],
              [number](jsExecState es) { return std::vector<jsValue>{Text(es, Decimal(number))}; });
}

void ExtensionCleanCbkImple::OnCurrentPath(const std::wstring& path) {
    const std::string utf8 = Utils::utf16ToUtf8(path);
    PostNamed(m_window, m_owner, m_names[6], [utf8](jsExecState es) { return std::vector<jsValue>{Text(es, utf8)}; });
}

}  // namespace Trova
