#include "uiclean/mainblkwindow.h"

#include "host/hostfunctions.h"
#include "host/nativewindow.h"
#include "host/uitask.h"
#include "trova/clean/nametables.h"
#include "uiclean/fileicon.h"
#include "uiclean/i18nconfig.h"
#include "uiclean/imagepreview.h"

#include "fendrel/file.h"
#include "fendrel/fsops.h"
#include "fendrel/logger.h"
#include "fendrel/processtree.h"
#include "fendrel/uiqueue.h"
#include "fendrel/utils.h"

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <thread>

namespace {

constexpr const char* kSource = "uiclean/mainblkwindow";
constexpr std::int32_t kDefaultThrottle = 10000;

using namespace hostfunctions;

MainBlkWindow* Self(void* param) {
    return static_cast<MainBlkWindow*>(param);
}

// An unsigned 32-bit decimal number, as std::stoul reads it, nothing else.
std::uint32_t ParseNumber(const std::string& text) {
    std::size_t used = 0;
    const unsigned long long value = std::stoull(text, &used, 10);
    if (used != text.size() || text.empty() || text[0] == '-' || text[0] == '+')
        throw std::invalid_argument("invalid stoul argument");
    if (value > 0xFFFFFFFFull)
        throw std::out_of_range("stoul argument out of range");
    return static_cast<std::uint32_t>(value);
}

// The localized "already running" text has one "%s" (or "%ls") for the
// window title; it is filled here rather than by printf, whose "%s" means
// different things in wide formats on the two systems. At most 512 characters.
std::wstring FillTitle(const std::wstring& format, const std::wstring& title) {
    std::wstring text;
    bool filled = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size()) {
            if (format[i + 1] == L'%') {
                text += L'%';
                ++i;
                continue;
            }
            const std::size_t skip = format.compare(i + 1, 2, L"ls") == 0 ? 2 : format[i + 1] == L's' ? 1 : 0;
            if (skip != 0 && !filled) {
                text += title;
                filled = true;
                i += skip;
                continue;
            }
        }
        text += format[i];
    }
    return text.substr(0, 512);
}

// Functions whose engines are not part of this build yet: they say so and
// answer their failure value, and their callbacks report the failure.
void Unavailable(const char* function) {
    Logger_WarnF(kSource, __LINE__, "%s is not available in this version", function);
}

// A worker of the window with its page callback. It counts itself in
// before its thread starts, so the window's destructor cannot miss it.
void RunWorker(MainBlkWindow* self, std::function<void()> work, std::function<void()> ui) {
    self->WorkerStarted();
    uitask::RunAsync(std::move(work), std::move(ui), self->window, 0, [self] { self->WorkerEnded(); });
}

jsValue WKE_CALL GetDriveLetters(jsExecState es, void*) {
    std::string systemDrive;
    const std::vector<std::string> roots = Disks::FixedRoots(systemDrive);
    jsValue letters = g_wke.jsEmptyArray(es);
    for (std::size_t i = 0; i < roots.size(); ++i)
        g_wke.jsSetAt(es, letters, static_cast<int>(i), Text(es, roots[i]));
    jsValue result = g_wke.jsEmptyObject(es);
    g_wke.jsSet(es, result, "driveLetters", letters);
    g_wke.jsSet(es, result, "systemDrive", Text(es, systemDrive));
    return result;
}

jsValue WKE_CALL GetDiskInfo(jsExecState es, void*) {
    jsValue list = g_wke.jsEmptyArray(es);
    int index = 0;
    for (const Disks::Space& disk : Disks::FixedSpaces()) {
        jsValue entry = g_wke.jsEmptyObject(es);
        g_wke.jsSet(es, entry, "drive", Text(es, disk.root));
        g_wke.jsSet(es, entry, "totalMbs", g_wke.jsDouble(es, static_cast<double>(disk.totalBytes) / 1024 / 1024));
        g_wke.jsSet(es, entry, "freeMbs", g_wke.jsDouble(es, static_cast<double>(disk.freeBytes) / 1024 / 1024));
        g_wke.jsSetAt(es, list, index++, entry);
    }
    return list;
}

jsValue WKE_CALL DeleteFileFunction(jsExecState es, void*) {
    const std::wstring path = ArgWide(es, 0);
    if (FileSystem::ForceDeleteFile(path))
        return g_wke.jsTrue();
    Logger_WarnF(kSource, __LINE__, "%d", FileSystem::LastError());
    return g_wke.jsFalse();
}

jsValue WKE_CALL SetLanguageId(jsExecState es, void*) {
    I18nConfig::Instance().SetLanguage(static_cast<std::uint16_t>(ArgInt(es, 0) & 0xFFFF));
    return g_wke.jsNull();
}

jsValue WKE_CALL GetLanguageId(jsExecState es, void*) {
    return g_wke.jsInt(I18nConfig::Instance().GetLangId());
}

jsValue WKE_CALL ExportBcu(jsExecState es, void* param) {
    MainBlkWindow* self = Self(param);
    const std::string callback = ArgText(es, 0);
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    RunWorker(
        self,
        [bytes] {
            const std::string temp = FileSystem::CreateTempFile("TMP");
            if (temp.empty()) {
                Logger_WarnF(kSource, __LINE__, "exportBCU: no temporary file for the inventory (error %d)",
                             FileSystem::LastError());
                return;
            }
            const std::wstring file = Utils::AnsiToUtf16(temp);
            std::wstring tool = File::Directory(L"") + fendrel::kPathSep + L"bcu" + fendrel::kPathSep + L"BCU-console";
#if defined(_WIN32)
            tool += L".exe";
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK;  // 0x101
            startup.wShowWindow = SW_HIDE;
            const LPSTARTUPINFOW hidden = &startup;
#else
            const LPSTARTUPINFOW hidden = nullptr;  // a console tool opens no window here
#endif
            // Both paths quoted: a user name with a space puts one in the temporary folder.
            const DWORD started =
                Utils::CreateAndWaitProcessB(L"\"" + tool + L"\" export \"" + file + L"\" /Q /U /V", hidden);
            if (started != 0)
                Logger_WarnF(kSource, __LINE__, "exportBCU: %s could not be started (error %lu)",
                             Utils::utf16ToUtf8(tool).c_str(), static_cast<unsigned long>(started));
            *bytes = File::readFile(file);
            if (started == 0 && bytes->empty())
                Logger_WarnF(kSource, __LINE__, "exportBCU: the export tool left no inventory in %s", temp.c_str());
            // The page gets the bytes; the file would only pile up, one per visit.
            int error = 0;
            if (!FileSystem::RemoveFile(temp, &error))
                Logger_WarnF(kSource, __LINE__, "exportBCU: the temporary file %s could not be removed (error %d)",
                             temp.c_str(), error);
        },
        [self, callback, bytes] {
            self->CallPage(callback, [&](jsExecState global) { return std::vector<jsValue>{Bytes(global, *bytes)}; });
        });
    return g_wke.jsNull();
}

// The window's mover, or null with one log line when the page has not
// called moverInit yet.
std::shared_ptr<Trova::MoverManager> MoverOf(MainBlkWindow* self, const char* function) {
    auto mover = self->Mover();
    if (!mover)
        Logger_WarnF(kSource, __LINE__, "%s before moverInit: there is no folder mover yet", function);
    return mover;
}

jsValue WKE_CALL MoverInit(jsExecState es, void* param) {
    MainBlkWindow* self = Self(param);
    const std::wstring name = ArgWide(es, 0);
    const std::wstring prefix = ArgWide(es, 1);
    auto mover = std::make_shared<Trova::MoverManager>(self->window, name);
    {
        // Init finishes unfinished steps it finds recorded: never while one runs.
        std::unique_lock<std::mutex> lock(self->MoverMutex(), std::try_to_lock);
        if (!lock.owns_lock()) {
            Logger_WarnF(kSource, __LINE__, "moverInit while a folder is being moved: the mover stays as it is");
            return g_wke.jsNull();
        }
        mover->Init(prefix);
    }
    self->SetMover(std::move(mover));
    return g_wke.jsNull();
}

struct KnownFolderRow {
    std::int32_t id;
    std::wstring name;
    bool isMoved;
    std::wstring path;
    std::uint64_t size;
};

jsValue WKE_CALL MoverGetKnownFoldersInfo(jsExecState es, void* param) {
    MainBlkWindow* self = Self(param);
    const std::string callback = ArgText(es, 0);
    auto mover = MoverOf(self, "moverGetKnownFoldersInfo");
    auto rows = std::make_shared<std::vector<KnownFolderRow>>();
    RunWorker(
        self,
        [self, mover, rows] {
            if (!mover)
                return;
            std::lock_guard<std::mutex> lock(self->MoverMutex());
            mover->RefreshAll();
            for (const Trova::KnownFolderInfo& info : Trova::KnownFolderInfo::Table()) {
                std::wstring name = info.DisplayName();
                rows->push_back({info.id, name.empty() ? std::wstring(info.name) : name, info.isMoved != 0,
                                 info.path, info.size});
            }
        },
        [self, callback, rows] {
            self->CallPage(callback, [&](jsExecState global) {
                jsValue list = g_wke.jsEmptyArray(global);
                int index = 0;
                for (const KnownFolderRow& row : *rows) {
                    jsValue entry = g_wke.jsEmptyObject(global);
                    g_wke.jsSet(global, entry, "id", g_wke.jsInt(row.id));
                    g_wke.jsSet(global, entry, "name", Wide(global, row.name));
                    g_wke.jsSet(global, entry, "isMoved", g_wke.jsBoolean(row.isMoved));
                    g_wke.jsSet(global, entry, "path", Wide(global, row.path));
                    g_wke.jsSet(global, entry, "size", Wide(global, std::to_wstring(row.size)));
                    g_wke.jsSetAt(global, list, index++, entry);
                }
                return std::vector<jsValue>{list};
            });
        });
    return g_wke.jsNull();
}

// A mover operation on a worker, its 32-bit result handed to the callback
// as a code with the tag, or as a boolean with or without the tag.
enum class MoverAnswer { Code, TaggedBool, Bool };

jsValue RunMover(jsExecState es, void* param, const char* function, const char* callback, MoverAnswer answer,
                 std::function<std::int32_t(Trova::MoverManager&)> operation) {
    MainBlkWindow* self = Self(param);
    const int tag = answer == MoverAnswer::Bool ? 0 : ArgInt(es, 1);
    auto mover = MoverOf(self, function);
    // A failure for the page when there is no mover: a code no operation gives.
    auto result = std::make_shared<std::int32_t>(answer == MoverAnswer::Code ? Trova::kMoverRefused : 0);
    RunWorker(
        self,
        [self, mover, result, operation] {
            if (!mover)
                return;
            std::lock_guard<std::mutex> lock(self->MoverMutex());
            *result = operation(*mover);
        },
        [self, callback, tag, result, answer] {
            self->CallPage(callback, [&](jsExecState) {
                switch (answer) {
                case MoverAnswer::Code:
                    return std::vector<jsValue>{g_wke.jsInt(*result), g_wke.jsInt(tag)};
                case MoverAnswer::TaggedBool:
                    return std::vector<jsValue>{g_wke.jsBoolean(*result != 0), g_wke.jsInt(tag)};
                case MoverAnswer::Bool:
                    break;
                }
                return std::vector<jsValue>{g_wke.jsBoolean(*result != 0)};
            });
        });
    return g_wke.jsNull();
}

jsValue WKE_CALL MoverMoveKnownFolder(jsExecState es, void* param) {
    const int id = ArgInt(es, 0);
    return RunMover(es, param, "moverMoveKnownFolder", "moverMoveKnownFolderCbk", MoverAnswer::Code,
                    [id](Trova::MoverManager& mover) { return mover.MoveKnownFolder(id); });
}

jsValue WKE_CALL MoverRestoreKnownFolder(jsExecState es, void* param) {
    const int id = ArgInt(es, 0);
    return RunMover(es, param, "moverRestoreKnownFolder", "moverRestoreKnownFolderCbk", MoverAnswer::Code,
                    [id](Trova::MoverManager& mover) { return mover.RestoreKnownFolder(id); });
}

jsValue WKE_CALL MoverIsAppFolderMoved(jsExecState es, void* param) {
    auto mover = MoverOf(Self(param), "moverIsAppFolderMoved");
    return g_wke.jsBoolean(mover && mover->IsAppFolderMoved(ArgWide(es, 0)));
}

jsValue WKE_CALL MoverMoveAppFolder(jsExecState es, void* param) {
    const std::wstring path = ArgWide(es, 0);
    return RunMover(es, param, "moverMoveAppFolder", "moverMoveAppFolderCbk", MoverAnswer::TaggedBool,
                    [path](Trova::MoverManager& mover) { return mover.MoveAppFolder(path); });
}

jsValue WKE_CALL MoverRestoreAppFolder(jsExecState es, void* param) {
    const std::wstring path = ArgWide(es, 0);
    return RunMover(es, param, "moverRestoreAppFolder", "moverRestoreAppFolderCbk", MoverAnswer::TaggedBool,
                    [path](Trova::MoverManager& mover) { return mover.RestoreAppFolder(path); });
}

jsValue WKE_CALL MoverChangeRoot(jsExecState es, void* param) {
    const std::wstring prefix = ArgWide(es, 0);
    return RunMover(es, param, "moverChangeRoot", "moverChangeRootCbk", MoverAnswer::Bool,
                    [prefix](Trova::MoverManager& mover) { return mover.ChangeRoot(prefix); });
}

jsValue WKE_CALL GetIconBuffer(jsExecState es, void* param) {
    const std::vector<std::uint8_t> icon = fileicon::IconForFile(ArgWide(es, 0), Self(param)->DefaultIcon());
    return icon.empty() ? g_wke.jsNull() : Bytes(es, icon);
}

jsValue WKE_CALL LaunchAndWait(jsExecState es, void* param) {
    MainBlkWindow* self = Self(param);
    const std::wstring commandLine = ArgWide(es, 0);
    const int tag = ArgInt(es, 1);
    // 0 once the program and all it started have ended, else the start's error.
    auto result = std::make_shared<std::uint32_t>(0);
    RunWorker(
        self, [commandLine, result] { *result = ProcessTree::ProcessTreeWaiter(std::wstring(), commandLine); },
        [self, tag, result] {
            self->CallPage("launchAndWaitCbk", [&](jsExecState) {
                return std::vector<jsValue>{g_wke.jsInt(static_cast<int>(*result)), g_wke.jsInt(tag)};
            });
        });
    return g_wke.jsNull();
}

jsValue WKE_CALL PreviewImage(jsExecState es, void* param) {
    // The preview opens the file by its name in the process code page.
    const std::string path = Utils::Utf16ToAnsi(ArgWide(es, 0));
    return g_wke.jsBoolean(imagepreview::PreviewFile(Self(param)->window, path));
}

}  // namespace

MainBlkWindow::MainBlkWindow(HWND parentWindow, std::intptr_t unused, const std::string& pageUrl, std::int32_t kind)
    : BaseBlkWinow(parentWindow, unused, pageUrl, kind) {
    className = L"qem-trova-main";
    procedure = MainProcedure;
    // The web view does not exist yet: these reach it once it is made.
    Bind();
    contextHook = BaseContextHook;
    I18nConfig& config = I18nConfig::Instance();
    // An empty setting names no database (it would resolve to the program's folder).
    const std::wstring rules =
        config.TrashdatPath().empty() ? std::wstring() : I18nConfig::ResolvePath(config.TrashdatPath());
    if (rules.empty())
        Logger_WarnF(kSource, __LINE__, "no rule database found (trashdatPath \"%s\"); a scan will find nothing",
                     Utils::utf16ToUtf8(config.TrashdatPath()).c_str());
    else
        m_cache.LoadAsync(rules, config.Encryption());
}

MainBlkWindow::~MainBlkWindow() {
    std::unique_lock<std::mutex> lock(m_workersMutex);
    m_workersDone.wait(lock, [this] { return m_workers == 0; });
}

const std::vector<std::uint8_t>& MainBlkWindow::DefaultIcon() {
    if (!m_defaultIconBuilt) {
        m_defaultIcon = fileicon::SystemDefaultIcon();
        m_defaultIconBuilt = true;
    }
    return m_defaultIcon;
}

std::shared_ptr<Trova::MoverManager> MainBlkWindow::Mover() const {
    std::lock_guard<std::mutex> lock(m_moverMutex);
    return m_mover;
}

void MainBlkWindow::SetMover(std::shared_ptr<Trova::MoverManager> mover) {
    std::lock_guard<std::mutex> lock(m_moverMutex);
    m_mover = std::move(mover);
}

void MainBlkWindow::WorkerStarted() {
    std::lock_guard<std::mutex> lock(m_workersMutex);
    ++m_workers;
}

void MainBlkWindow::WorkerEnded() {
    std::lock_guard<std::mutex> lock(m_workersMutex);
    --m_workers;
    m_workersDone.notify_all();
}

std::uint32_t MainBlkWindow::BridgeId(std::uint32_t id) {
    return I18nConfig::Instance().Encryption() ? id ^ Trova::g_idMask : id;
}

Trova::CacheCleanCbkImple* MainBlkWindow::EnsureCacheCallback() {
    if (m_cacheCallback == nullptr)
        m_cacheCallback = new Trova::CacheCleanCbkImple(kDefaultThrottle, kDefaultThrottle, window, this);
    return m_cacheCallback;
}

jsValue WKE_CALL MainBlkWindow::CacheScanInit(jsExecState es, void* param) {
    MainBlkWindow* self = Self(param);
    self->EnsureCacheCallback()->SetThrottles(ArgInt(es, 0), ArgInt(es, 1));
    nativewin::SetTaskbarState(self->taskbar, self->window, 2);
    return g_wke.jsNull();
}

jsValue WKE_CALL MainBlkWindow::CacheScanStart(jsExecState, void* param) {
    MainBlkWindow* self = Self(param);
    // Without cacheScanInit the scan reports with the default throttles.
    Trova::CacheCleanCbkImple* callback = self->EnsureCacheCallback();
    self->WorkerStarted();
    std::thread([self, callback] {
        {
            std::lock_guard<std::mutex> one(self->m_scanMutex);
            self->m_cache.groups.Reset();
            self->m_cache.ResetCount();
            const std::uint8_t result = self->m_cache.Scan(true, callback);
            callback->OnScanEnd(result);
        }
        self->WorkerEnded();
    }).detach();
    return g_wke.jsNull();
}

jsValue WKE_CALL MainBlkWindow::CacheScanStop(jsExecState, void* param) {
    MainBlkWindow* self = Self(param);
    RunWorker(self, [self] { self->m_cache.Stop(2); },
              [self] { self->CallPage("cacheScanStopCbk", [](jsExecState) { return std::vector<jsValue>{g_wke.jsInt(2)}; }); });
    return g_wke.jsUndefined();
}

jsValue WKE_CALL MainBlkWindow::CacheDeleteOne(jsExecState es, void* param) {
    MainBlkWindow* self = Self(param);
    std::uint32_t groupId = 0;
    std::uint32_t programId = 0;
    std::vector<std::uint32_t> items;
    try {
        groupId = ParseNumber(ArgText(es, 0));
        programId = ParseNumber(ArgText(es, 1));
        const jsValue list = g_wke.jsArg(es, 2);
        for (int i = 0, count = g_wke.jsGetLength(es, list); i < count; ++i) {
            const char* text = g_wke.jsToTempString(es, g_wke.jsGetAt(es, list, i));
            items.push_back(BridgeId(ParseNumber(text != nullptr ? text : "")));
        }
    } catch (const std::exception& error) {
        // Nothing starts: the page sent something that is no rule id.
        Logger_ErrorF(kSource, __LINE__, "cacheDeleteOne: %s", error.what());
        return g_wke.jsUndefined();
    }
    RunWorker(
        self,
        [self, groupId, programId, items] {
            const int result = self->m_cache.Delete(BridgeId(groupId), BridgeId(programId), items);
            if (result != 0)
                Logger_WarnF(kSource, __LINE__, "deletion of group %u program %u ended with %d", groupId, programId,
                             result);
        },
        [self, groupId, programId] {
            self->CallPage("cacheDeleteOneCbk", [&](jsExecState global) {
                return std::vector<jsValue>{Text(global, Trova::Decimal(groupId)), Text(global, Trova::Decimal(programId))};
            });
        });
    return g_wke.jsUndefined();
}

jsValue WKE_CALL MainBlkWindow::ExtensionScanStart(jsExecState es, void* param) {
    MainBlkWindow* self = Self(param);
    const int index = ArgInt(es, 0);
    ArgBool(es, 2);  // read and not used
    const jsValue names = g_wke.jsArg(es, 4);
    if (index < 0 || index > 1 || g_wke.jsGetLength(es, names) != 7)
        return g_wke.jsFalse();
    std::array<std::string, 7> callbackNames;
    for (int i = 0; i < 7; ++i) {
        const char* name = g_wke.jsToTempString(es, g_wke.jsGetAt(es, names, i));
        callbackNames[static_cast<std::size_t>(i)] = name != nullptr ? name : "";
    }
    auto& callback = self->m_extensionCallbacks[static_cast<std::size_t>(index)];
    if (!callback)
        callback = std::make_unique<Trova::ExtensionCleanCbkImple>(self->window, self);
    callback->SetNames(callbackNames);
    callback->SetOptionA(ArgInt(es, 5));
    callback->SetPeriod(ArgInt(es, 6));
    callback->ResetCounters();

    auto& scanner = self->m_extensionScanners[static_cast<std::size_t>(index)];
    if (!scanner)
        scanner = std::make_unique<Trova::ExtensionScanner>();
    // This thread answers the calls of a scan being replaced.
    scanner->SetWindow(self->window);
    I18nConfig& config = I18nConfig::Instance();
    if (!scanner->Load(config.ExtdatPath(), config.Encryption()))
        Logger_WarnF(kSource, __LINE__, "the extension rule file did not load; the scan finds no category");
    scanner->SetCallback(callback.get(), static_cast<std::uint32_t>(callback->Period()));
    return g_wke.jsBoolean(scanner->Start(ArgWide(es, 3), static_cast<Trova::ExtensionMode>(index)));
}

jsValue WKE_CALL MainBlkWindow::ExtensionScanStop(jsExecState es, void* param) {
    MainBlkWindow* self = Self(param);
    const int index = ArgInt(es, 0);
    if (index < 0 || index > 1 || !self->m_extensionScanners[static_cast<std::size_t>(index)])
        return g_wke.jsNull();
    Trova::ExtensionScanner* scanner = self->m_extensionScanners[static_cast<std::size_t>(index)].get();
    // Not on this thread: the stopped scan reports to it.
    std::thread([scanner] { scanner->Stop(2, nullptr); }).detach();
    return g_wke.jsNull();
}

std::intptr_t MainBlkWindow::MainProcedure(BaseBlkWinow& base, std::uint32_t message, std::uintptr_t wParam,
                                           std::intptr_t lParam, bool& handled) {
    auto& self = static_cast<MainBlkWindow&>(base);
    handled = true;
    if (message == uitask::kTaskData) {
        Trova::RunTypedTask(wParam, lParam);
        return 0;
    }
    if (message == hostmsg::kShowRunning) {
        Logger_InfoF(kSource, __LINE__, "another instance asked this one to show itself (0x469)");
        Trova::NameTables& tables = Trova::NameTables::Instance();
        const std::string caption = tables.LanguageFeature() ? tables.BigfileText(207) : std::string();
        const std::string format = tables.LanguageFeature() ? tables.BigfileText(208) : std::string();
        if (!caption.empty() && !format.empty()) {
            nativewin::ShowMessage(self.window, FillTitle(Utils::utf8ToUtf16(format), self.title),
                                   Utils::utf8ToUtf16(caption), 0);
        } else {
            nativewin::ShowMessage(self.window, L"已启动一个" + self.title + L",无法再启动第二个。", L"提示", 0);
        }
        self.Show(4);
        return 1;
    }
    if (message == wmsg::kSysCommand && (wParam & 0xFFF0) == wmsg::kScClose && self.closeAsQuit != 0) {
        imagepreview::CloseImagePreview();
        // The walkers may be waiting for this thread: it keeps answering them
        // while they are stopped.
        self.m_cache.Stop(2, self.window);
        for (auto& scanner : self.m_extensionScanners) {
            if (scanner)
                scanner->Stop(2, self.window);
        }
        fendrel::ui::Post(self.window, wmsg::kClose, 0, 0);
        return 0;
    }
    handled = false;
    return 0;
}

void MainBlkWindow::Bind() {
    g_wke.wkeSetDragEnable(webView, false);
    g_wke.wkeSetDragDropEnable(webView, false);
    const struct {
        const char* name;
        wkeJsNativeFunction function;
        unsigned count;
        bool withWindow;
    } functions[] = {
        {"cacheScanInit", CacheScanInit, 2, true},
        {"cacheScanStart", CacheScanStart, 3, true},
        {"cacheScanStop", CacheScanStop, 0, true},
        {"cacheDeleteOne", CacheDeleteOne, 3, true},
        {"extensionScanStart", ExtensionScanStart, 5, true},
        {"extensionScanStop", ExtensionScanStop, 1, true},
        {"exportBCU", ExportBcu, 1, true},
        {"getDriveLetters", GetDriveLetters, 0, true},
        {"moverInit", MoverInit, 2, true},
        {"moverGetKnownFoldersInfo", MoverGetKnownFoldersInfo, 0, true},
        {"moverMoveKnownFolder", MoverMoveKnownFolder, 2, true},
        {"moverRestoreKnownFolder", MoverRestoreKnownFolder, 2, true},
        {"moverIsAppFolderMoved", MoverIsAppFolderMoved, 0, true},
        {"moverMoveAppFolder", MoverMoveAppFolder, 2, true},
        {"moverRestoreAppFolder", MoverRestoreAppFolder, 2, true},
        {"moverChangeRoot", MoverChangeRoot, 1, true},
        {"getIconBuffer", GetIconBuffer, 1, true},
        {"deleteFile", DeleteFileFunction, 1, false},
        {"setLanguageId", SetLanguageId, 1, false},
        {"getLanguageId", GetLanguageId, 0, false},
        {"getDiskInfo", GetDiskInfo, 0, true},
        {"launchAndWait", LaunchAndWait, 2, true},
        {"previewImage", PreviewImage, 1, true},
    };
    for (const auto& entry : functions)
        g_wke.wkeJsBindFunction(entry.name, entry.function, entry.withWindow ? this : nullptr, entry.count);
}
