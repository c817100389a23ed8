#include "host/hostfunctions.h"

#include "host/basewindow.h"
#include "host/hostsettings.h"
#include "host/nativewindow.h"
#include "host/uitask.h"

#include "fendrel/file.h"
#include "fendrel/fsops.h"
#include "fendrel/hostservices.h"
#include "fendrel/logger.h"
#include "fendrel/uiqueue.h"
#include "fendrel/utils.h"

#include <thread>

namespace {

constexpr const char* kSource = "host/hostfunctions";

HostSettings* g_settings = nullptr;

BaseBlkWinow* Window(void* param) {
    return static_cast<BaseBlkWinow*>(param);
}

void Bind(const char* name, wkeJsNativeFunction function, void* param, unsigned count) {
    g_wke.wkeJsBindFunction(name, function, param, count);
}

using namespace hostfunctions;

// ---- file functions -------------------------------------------------------

jsValue WKE_CALL OpenDirAndSelectFile(jsExecState es, void*) {
    return g_wke.jsBoolean(File::OpenDirAndSelectFile(ArgWide(es, 0)));
}

jsValue WKE_CALL ListDir(jsExecState es, void*) {
    const std::vector<std::wstring> names = File::ListDir(ArgWide(es, 0));
    jsValue list = g_wke.jsEmptyArray(es);
    for (std::size_t i = 0; i < names.size(); ++i)
        g_wke.jsSetAt(es, list, static_cast<int>(i), Wide(es, names[i]));
    return list;
}

jsValue WKE_CALL ReadTextFile(jsExecState es, void*) {
    return Wide(es, File::ReadTextFile(ArgWide(es, 0)));
}

jsValue WKE_CALL WriteTextToFile(jsExecState es, void*) {
    return g_wke.jsBoolean(File::WriteTextToFile(ArgWide(es, 0), ArgWide(es, 1)));
}

jsValue WKE_CALL SelectMultiFiles(jsExecState es, void*) {
    return Wide(es, File::SelectMultiFiles(ArgWindow(es, 0), ArgWide(es, 2), ArgWide(es, 1), ArgInt(es, 3)));
}

jsValue WKE_CALL TempPath(jsExecState es, void*) {
    return Wide(es, File::TempPath());
}

// "move" doubles as fail-if-exists: a move never replaces a file.
jsValue WKE_CALL CopyFileFunction(jsExecState es, void*) {
    const bool move = ArgBool(es, 2);
    return g_wke.jsBoolean(move ? FileCopy::Move(ArgWide(es, 0), ArgWide(es, 1), true)
                                : FileCopy::Copy(ArgWide(es, 0), ArgWide(es, 1), false));
}

jsValue WKE_CALL Wow64CopyFile(jsExecState es, void*) {
    const bool move = ArgBool(es, 2);
    return g_wke.jsBoolean(move ? FileCopy::Wow64Move(ArgWide(es, 0), ArgWide(es, 1), true)
                                : FileCopy::Wow64Copy(ArgWide(es, 0), ArgWide(es, 1), false));
}

jsValue WKE_CALL CreateDeepDirectory(jsExecState es, void*) {
    return g_wke.jsBoolean(File::CreateDeepDirectory(ArgWide(es, 0)));
}

jsValue WKE_CALL FileBytesSize(jsExecState es, void*) {
    return g_wke.jsInt(File::BytesSize(ArgWide(es, 0)));
}

// ---- system functions -----------------------------------------------------

jsValue WKE_CALL KernelVersion(jsExecState es, void*) {
    return Text(es, Utils::GetKernelVersion());
}

jsValue WKE_CALL GetDeviceId(jsExecState es, void*) {
    return Wide(es, Utils::utf8ToUtf16(Utils::generateHash()));
}

jsValue WKE_CALL BaseSystemInfo(jsExecState es, void*) {
    HostSettings* settings = GetHostSettings();
    auto setting = [&](std::wstring (HostSettings::*read)() const) {
        return settings != nullptr ? Utils::utf16ToUtf8((settings->*read)()) : std::string();
    };
    switch (ArgInt(es, 0)) {
    case 0:
        return Text(es, settings != nullptr ? settings->FileVersion() : std::string());
    case 1:
        return Text(es, setting(&HostSettings::ProductName));
    case 2:
        return Text(es, setting(&HostSettings::PackageName));
    case 3:
        return Text(es, Utils::generateHash());
    case 4:
        return Text(es, Utils::Is64BitSystem() ? "true" : "false");
    case 5:
        return Text(es, SystemInfo::OsVersion());
    case 6:
        return Text(es, "5");
    case 7:
        return Text(es, Utils::GetKernelVersion());
    case 8:
        return Text(es, "unimplement");
    case 9:
        return Text(es, setting(&HostSettings::Channel));
    case 10:
        return Text(es, setting(&HostSettings::WindowTitle));
    default:
        return Text(es, "");
    }
}

jsValue WKE_CALL CreateProcessWithReturnedData(jsExecState es, void*) {
    return Wide(es, Utils::CreateProcessWithReturnedData(ArgWide(es, 0)));
}

// The messages that hand a window an address (0x465, 0x46A) go only to
// windows of this process: another process would read or free memory that is
// not its own. False, logged, for any other handle.
bool MayTakeAddress(HWND target, const char* function) {
    if (nativewin::OwnedByThisProcess(target))
        return true;
    Logger_WarnF(kSource, __LINE__, "%s: refused window %p, which is not a window of this process", function,
                 static_cast<void*>(target));
    return false;
}

jsValue WKE_CALL CreateProcessWithReturnedDataAsync(jsExecState es, void*) {
    const std::wstring commandLine = ArgWide(es, 0);
    HWND target = ArgWindow(es, 1);
    const int tag = ArgInt(es, 2);
    if (!MayTakeAddress(target, "createProcessWithReturnedDataAsync"))
        return g_wke.jsFalse();
    std::thread([commandLine, target, tag] {
        auto* output = new std::wstring(Utils::CreateProcessWithReturnedData(commandLine));
        // The receiver frees the text and answers 1; a window that is gone cannot.
        if (fendrel::ui::Send(target, hostmsg::kProcessData, reinterpret_cast<std::uintptr_t>(output), tag) == 0)
            delete output;
    }).detach();
    return g_wke.jsUndefined();
}

jsValue WKE_CALL FormatMessageFunction(jsExecState es, void*) {
    return Wide(es, SystemInfo::ErrorText(static_cast<DWORD>(ArgInt(es, 0))));
}

jsValue WKE_CALL GetComputerNameFunction(jsExecState es, void*) {
    return Wide(es, SystemInfo::ComputerName());
}

jsValue WKE_CALL GetUserNameFunction(jsExecState es, void*) {
    return Wide(es, SystemInfo::UserName());
}

jsValue WKE_CALL RestartComputer(jsExecState es, void*) {
    return g_wke.jsBoolean(SystemControl::RestartComputer(static_cast<unsigned>(ArgInt(es, 0))));
}

jsValue WKE_CALL MessageBoxFunction(jsExecState es, void*) {
    return g_wke.jsInt(nativewin::ShowMessage(ArgWindow(es, 0), ArgWide(es, 1), ArgWide(es, 2),
                                              static_cast<std::uint32_t>(ArgInt(es, 3))));
}

jsValue WKE_CALL IsWindowFunction(jsExecState es, void*) {
    return g_wke.jsBoolean(BaseBlkWinow::FromHandle(ArgWindow(es, 0)) != nullptr ||
                           fendrel::ui::IsMessageWindow(ArgWindow(es, 0)));
}

// ---- window and shell functions -------------------------------------------

// A child window of the page: it owns itself and goes with its native window.
jsValue Create(jsExecState es, BaseBlkWinow* child) {
    child->ownsSelf = true;
    if (!child->CreateWebViewWindow(nativewin::ProgramInstance(), 5)) {
        if (child->window != nullptr)
            child->DestroyNative();  // deletes the child
        else
            delete child;
        return g_wke.jsInt(0);
    }
    return g_wke.jsInt(static_cast<int>(reinterpret_cast<std::intptr_t>(child->window)));
}

jsValue WKE_CALL CreateWindowFunction(jsExecState es, void* param) {
    HWND parent = ArgWindow(es, 0);
    std::string url = ArgText(es, 4);
    if (url.size() > 1024)
        url.resize(1024);
    auto* child = new BaseBlkWinow(parent, 0, url, ArgInt(es, 5));
    child->host = Window(param)->host;
    child->outer = {0, 0, ArgInt(es, 1), ArgInt(es, 2)};
    child->caption = {-1, 0, -1, 30};
    child->borderless = 1;
    child->borderlessShadow = 1;
    child->centerWindow = 1;
    child->editVisible = 0;
    child->createAsModal = parent != nullptr && ArgBool(es, 3) ? 1 : 0;
    return Create(es, child);
}

jsValue WKE_CALL CreateWindow2(jsExecState es, void* param) {
    const jsValue target = g_wke.jsArg(es, 0), rect = g_wke.jsArg(es, 1), drag = g_wke.jsArg(es, 2),
                  border = g_wke.jsArg(es, 3), behaviour = g_wke.jsArg(es, 4);
    auto integer = [&](jsValue object, const char* key) { return g_wke.jsToInt(es, g_wke.jsGet(es, object, key)); };
    auto flag = [&](jsValue object, const char* key) {
        return g_wke.jsToBoolean(es, g_wke.jsGet(es, object, key)) ? 1 : 0;
    };
    // The boxes are shown unless the page says false.
    auto box = [&](const char* key) {
        const jsValue value = g_wke.jsGet(es, behaviour, key);
        return static_cast<std::uint8_t>(!g_wke.jsIsBoolean(value) || g_wke.jsToBoolean(es, value));
    };
    const char* url = g_wke.jsToTempString(es, g_wke.jsGet(es, target, "url"));
    auto* child = new BaseBlkWinow(reinterpret_cast<HWND>(static_cast<std::intptr_t>(integer(target, "hParent"))), 0,
                                   url != nullptr ? url : "", 0);
    child->host = Window(param)->host;
    child->createAsModal = flag(target, "createAsModal");
    child->outer = {integer(rect, "left"), integer(rect, "top"), integer(rect, "right"), integer(rect, "bottom")};
    child->caption = {integer(drag, "left"), integer(drag, "top"), integer(drag, "right"), integer(drag, "bottom")};
    child->borderless = flag(border, "borderless");
    child->borderlessShadow = flag(border, "borderlessShadow");
    child->borderlessDrag = flag(border, "borderlessDrag");
    child->borderlessResize = flag(border, "borderlessResize");
    child->closeAsHide = flag(behaviour, "closeAsHide");
    child->centerWindow = flag(behaviour, "centerWindow");
    child->closeAsQuit = flag(behaviour, "closeAsQuit");
    child->editVisible = flag(behaviour, "editVisible");
    child->editHeight = integer(behaviour, "editHeight");
    child->dwExStyle = integer(behaviour, "dwExStyle");
    child->showMinbox = box("showMinbox");
    child->showMaxbox = box("showMaxbox");
    return Create(es, child);
}

jsValue WKE_CALL ShowWindowFunction(jsExecState es, void*) {
    BaseBlkWinow* target = BaseBlkWinow::FromHandle(ArgWindow(es, 0));
    if (target == nullptr)
        return g_wke.jsFalse();
    const int command = ArgInt(es, 1);
    // A page in a browser window of its own cannot be hidden from here; only
    // a native window the view draws into can (SW_HIDE is 0).
    if (command == 0 && !target->ShowsNativeWindow()) {
        Logger_WarnF(kSource, __LINE__, "showWindow: the page's browser window cannot be hidden; not hidden");
        return g_wke.jsFalse();
    }
    target->Show(command);
    return g_wke.jsTrue();
}

jsValue WKE_CALL ShowWindow2(jsExecState es, void*) {
    BaseBlkWinow* target = BaseBlkWinow::FromHandle(ArgWindow(es, 0));
    if (target == nullptr || target->webView == nullptr)
        return g_wke.jsFalse();
    target->url = ArgText(es, 1);
    g_wke.wkeLoadURL(target->webView, target->url.c_str());
    target->Show(5);
    return g_wke.jsTrue();
}

jsValue WKE_CALL CloseWindowFunction(jsExecState es, void*) {
    return g_wke.jsBoolean(nativewin::Minimize(ArgWindow(es, 0)));
}

jsValue WKE_CALL ResizeWindow(jsExecState es, void*) {
    return g_wke.jsInt(nativewin::Resize(ArgWindow(es, 0), ArgInt(es, 1), ArgInt(es, 2)));
}

jsValue WKE_CALL EnableWindowFunction(jsExecState es, void*) {
    return g_wke.jsBoolean(nativewin::EnableWindow(ArgWindow(es, 0), ArgBool(es, 1)));
}

jsValue WKE_CALL SetForegroundWindowFunction(jsExecState es, void*) {
    return g_wke.jsBoolean(nativewin::SetForeground(ArgWindow(es, 0)));
}

jsValue WKE_CALL EnumDisplayMonitors(jsExecState es, void*) {
    jsValue list = g_wke.jsEmptyArray(es);
    const char* names[] = {"left", "top", "right", "bottom"};
    int index = 0;
    for (const auto& rect : nativewin::MonitorRects()) {
        const jsValue values[] = {g_wke.jsInt(rect[0]), g_wke.jsInt(rect[1]), g_wke.jsInt(rect[2]),
                                  g_wke.jsInt(rect[3])};
        g_wke.jsSetAt(es, list, index++, g_wke.jsObject(es, names, values, 4));
    }
    return list;
}

jsValue WKE_CALL ShellNotifyIcon(jsExecState es, void* param) {
    BaseBlkWinow* self = Window(param);
    const jsValue actions = g_wke.jsArg(es, 4);
    self->trayMenu.clear();
    const char* doubleClick =
        g_wke.jsToTempString(es, g_wke.jsGet(es, g_wke.jsGet(es, actions, "LBTN_DBCLK"), "function"));
    self->trayDoubleClick = doubleClick != nullptr ? doubleClick : "";
    const jsValue menu = g_wke.jsGet(es, actions, "RBTN_CLK");
    for (int i = 0, count = g_wke.jsGetLength(es, menu); i < count; ++i) {
        const jsValue item = g_wke.jsGetAt(es, menu, i);
        const char* text = g_wke.jsToTempString(es, g_wke.jsGet(es, item, "menu"));
        const char* function = g_wke.jsToTempString(es, g_wke.jsGet(es, item, "function"));
        self->trayMenu.push_back({text != nullptr ? text : "", g_wke.jsToInt(es, g_wke.jsGet(es, item, "id")),
                                  function != nullptr ? function : ""});
    }
    const int action = ArgInt(es, 0);
    const bool done = nativewin::TrayIcon(action, ArgWindow(es, 1), ArgWide(es, 2), ArgInt(es, 3));
    if (done)
        self->trayShown = action != 2;
    return g_wke.jsBoolean(done);
}

jsValue WKE_CALL SetDragRect(jsExecState es, void*) {
    if (!MayTakeAddress(ArgWindow(es, 1), "setDragRect"))
        return g_wke.jsFalse();
    auto* rect = new WindowRect{ArgInt(es, 2), ArgInt(es, 3), ArgInt(es, 2) + ArgInt(es, 4),
                                ArgInt(es, 3) + ArgInt(es, 5)};
    if (fendrel::ui::Send(ArgWindow(es, 1), hostmsg::kSetDragRect, reinterpret_cast<std::uintptr_t>(rect), 0) == 0)
        delete rect;  // nobody took it
    return g_wke.jsUndefined();
}

jsValue WKE_CALL GetParentFunction(jsExecState es, void*) {
    BaseBlkWinow* target = BaseBlkWinow::FromHandle(ArgWindow(es, 0));
    return g_wke.jsInt(target != nullptr ? static_cast<int>(reinterpret_cast<std::intptr_t>(target->parent)) : 0);
}

jsValue WKE_CALL GetWindowRectFunction(jsExecState es, void*) {
    WindowRect rect;
    std::int32_t native[4];
    if (nativewin::NativeRect(ArgWindow(es, 0), native))
        rect = {native[0], native[1], native[2], native[3]};
    else if (BaseBlkWinow* target = BaseBlkWinow::FromHandle(ArgWindow(es, 0)))
        rect = target->outer;  // Linux: the place the page's window was given
    const char* names[] = {"left", "top", "right", "bottom"};
    const jsValue values[] = {g_wke.jsInt(rect.left), g_wke.jsInt(rect.top), g_wke.jsInt(rect.right),
                              g_wke.jsInt(rect.bottom)};
    return g_wke.jsObject(es, names, values, 4);
}

jsValue WKE_CALL FindWindowFunction(jsExecState es, void*) {
    const std::wstring className = ArgWide(es, 0);
    const std::wstring title = ArgWide(es, 1);
    if (HWND native = nativewin::FindNative(className, title))
        return g_wke.jsInt(static_cast<int>(reinterpret_cast<std::intptr_t>(native)));
    for (HWND handle : BaseBlkWinow::AllWindows()) {
        BaseBlkWinow* window = BaseBlkWinow::FromHandle(handle);
        if (window != nullptr && (className.empty() || window->className == className) &&
            (title.empty() || window->title == title))
            return g_wke.jsInt(static_cast<int>(reinterpret_cast<std::intptr_t>(handle)));
    }
    return g_wke.jsInt(0);
}

// Messages whose parameters the receiver takes for addresses: the program's
// private ones (records it reads and frees, 0x464 to 0x46D, host/basewindow.h
// and host/uitask.h) and WM_COPYDATA. From the page they would be numbers it
// chose, so they are refused here; sendCopyData builds a real WM_COPYDATA.
bool CarriesAddress(std::uint32_t message) {
    constexpr std::uint32_t kFirstPrivate = hostmsg::kChildClosing, kLastPrivate = uitask::kTask;
    return message == wmsg::kCopyData || (message >= kFirstPrivate && message <= kLastPrivate);
}

jsValue WKE_CALL SendMessageFunction(jsExecState es, void*) {
    const auto message = static_cast<std::uint32_t>(ArgInt(es, 1));
    if (CarriesAddress(message)) {
        Logger_WarnF(kSource, __LINE__, "sendMessage: refused message 0x%X, whose parameters would be taken for addresses",
                     message);
        return g_wke.jsInt(0);
    }
    return g_wke.jsInt(static_cast<int>(fendrel::ui::Send(ArgWindow(es, 0), message,
                                                          static_cast<std::uintptr_t>(ArgInt(es, 2)), ArgInt(es, 3))));
}

jsValue WKE_CALL SendCopyData(jsExecState es, void*) {
    wkeMemBuf* buffer = g_wke.jsGetArrayBuffer(es, g_wke.jsArg(es, 1));
    nativewin::CopyData copy{0, buffer != nullptr ? static_cast<std::uint32_t>(buffer->length) : 0u,
                             buffer != nullptr ? buffer->data : nullptr};
    return g_wke.jsInt(static_cast<int>(
        fendrel::ui::Send(ArgWindow(es, 0), wmsg::kCopyData, 0, reinterpret_cast<std::intptr_t>(&copy))));
}

jsValue WKE_CALL RestartApp(jsExecState es, void* param) {
    BaseBlkWinow* self = Window(param);
    if (self->releaseInstance)
        self->releaseInstance();
    DWORD processId = 0;
    const DWORD error = HostShell::StartProgram(ArgBool(es, 0) ? L"runas" : L"", File::FullPath(), L"", processId);
    if (error != 0) {
        // Closing now would end the program with no instance left (Linux
        // cannot elevate; on Windows the user may decline the prompt).
        Logger_WarnF(kSource, __LINE__, "restartApp: the new instance did not start (error %lu); this one keeps running",
                     static_cast<unsigned long>(error));
        if (self->retakeInstance)
            self->retakeInstance();
        return g_wke.jsInt(static_cast<int>(error));
    }
    // Posted, not sent: the window must not go while this call is running in its page.
    fendrel::ui::Post(self->window, wmsg::kClose, 0, 0);
    return g_wke.jsInt(static_cast<int>(processId));
}

jsValue WKE_CALL IsRunAsAdmin(jsExecState es, void*) {
    return g_wke.jsBoolean(Utils::IsRunAsAdmin() != 0 || Utils::IsProcessElevated() != 0);
}

jsValue WKE_CALL ConfSetWindowRect(jsExecState es, void*) {
    if (HostSettings* settings = GetHostSettings()) {
        const int x = ArgInt(es, 0), y = ArgInt(es, 1);
        settings->SetWindowRect(x, y, x + ArgInt(es, 2), y + ArgInt(es, 3));
    }
    return g_wke.jsUndefined();
}

jsValue WKE_CALL SetExitCode(jsExecState es, void* param) {
    Window(param)->exitCode = ArgInt(es, 0);
    return g_wke.jsUndefined();
}

jsValue WKE_CALL GetZ(jsExecState es, void*) {
    return g_wke.jsBoolean(GetHostSettings() != nullptr && GetHostSettings()->Developer());
}

jsValue WKE_CALL IsI18n(jsExecState es, void*) {
    return g_wke.jsBoolean(GetHostSettings() != nullptr && GetHostSettings()->I18n());
}

jsValue WKE_CALL GetCurrentModuleFileDirectory(jsExecState es, void*) {
    return Wide(es, File::Directory(L""));
}

jsValue WKE_CALL GetModuleFileName(jsExecState es, void*) {
    const std::wstring path = File::FullPath();
    return Wide(es, path.empty() ? L"empty" : path);
}

jsValue WKE_CALL PathFileExists(jsExecState es, void*) {
    return g_wke.jsBoolean(HostShell::PathExists(ArgWide(es, 0)));
}

jsValue WKE_CALL ShellExecuteFunction(jsExecState es, void*) {
    return g_wke.jsInt(static_cast<int>(HostShell::Execute(ArgWindow(es, 0), ArgWide(es, 1), ArgWide(es, 2),
                                                           ArgWide(es, 3), ArgWide(es, 4), ArgInt(es, 5))));
}

jsValue WKE_CALL GetSystemDirectoryFunction(jsExecState es, void*) {
    return Wide(es, SystemInfo::SystemDirectory());
}

jsValue WKE_CALL ShGetKnownFolderPath(jsExecState es, void*) {
    return Wide(es, KnownFolders::Path(ArgInt(es, 0), static_cast<DWORD>(ArgInt(es, 1)),
                                       reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(ArgInt(es, 2)))));
}

jsValue WKE_CALL ShGetKnownFolderPath2(jsExecState es, void*) {
    return Wide(es, KnownFolders::PathById(ArgWide(es, 0), static_cast<DWORD>(ArgInt(es, 1))));
}

jsValue WKE_CALL GetUserDefaultUILanguage(jsExecState es, void*) {
    return g_wke.jsInt(SystemInfo::UserDefaultUILanguage());
}

jsValue WKE_CALL AddToStartupList(jsExecState es, void*) {
    return g_wke.jsInt(static_cast<int>(StartupList::Add(ArgWide(es, 0), ArgWide(es, 1))));
}

jsValue WKE_CALL DeleteFromStartupList(jsExecState es, void*) {
    return g_wke.jsInt(static_cast<int>(StartupList::Delete(ArgWide(es, 0))));
}

jsValue WKE_CALL CheckStartupList(jsExecState es, void*) {
    return g_wke.jsBoolean(StartupList::Check(ArgWide(es, 0), ArgWide(es, 1)));
}

// Argument 2 is part of the call but carries nothing.
jsValue WKE_CALL SetFirewallRule(jsExecState es, void*) {
    return g_wke.jsBoolean(SystemControl::SetFirewallRule(ArgWide(es, 0), ArgWide(es, 1), ArgInt(es, 3),
                                                          ArgInt(es, 4), ArgBool(es, 5), ArgBool(es, 6)));
}

jsValue WKE_CALL SelectDir(jsExecState es, void*) {
    return Wide(es, File::ChooseDirectory(ArgWindow(es, 0)));
}

jsValue WKE_CALL IsProcessRunning(jsExecState es, void*) {
    return g_wke.jsBoolean(Utils::IsProcessRunning(ArgWide(es, 0)));
}

jsValue WKE_CALL ExpandEnvironmentStrings(jsExecState es, void*) {
    return Text(es, Utils::ansiToUtf8(Environment::Expand(Utils::utf8ToAnsi(ArgText(es, 0)))));
}

jsValue WKE_CALL ReadBinaryFileAsync(jsExecState es, void* param) {
    BaseBlkWinow* self = Window(param);
    const std::wstring path = ArgWide(es, 0);
    const std::string callback = ArgText(es, 1);
    uitask::RunAsyncForBytes([path] { return File::readFile(path); },
                             [self, callback](const uitask::Bytes& bytes) {
                                 jsExecState global = g_wke.wkeGlobalExec(self->webView);
                                 self->CallPage(callback.c_str(), {Bytes(global, bytes)});
                             },
                             self->window);
    return g_wke.jsNull();
}

jsValue WKE_CALL ReadBinaryFileSync(jsExecState es, void*) {
    return Bytes(es, File::readFile(ArgWide(es, 0)));
}

}  // namespace

void SetHostSettings(HostSettings* settings) {
    g_settings = settings;
}

HostSettings* GetHostSettings() {
    return g_settings;
}

namespace hostfunctions {

int ArgInt(jsExecState es, int index) {
    return g_wke.jsToInt(es, g_wke.jsArg(es, index));
}

bool ArgBool(jsExecState es, int index) {
    return g_wke.jsToBoolean(es, g_wke.jsArg(es, index));
}

std::string ArgText(jsExecState es, int index) {
    const char* text = g_wke.jsToTempString(es, g_wke.jsArg(es, index));
    return text != nullptr ? text : "";
}

std::wstring ArgWide(jsExecState es, int index) {
    return Utils::utf8ToUtf16(ArgText(es, index));
}

HWND ArgWindow(jsExecState es, int index) {
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(ArgInt(es, index)));
}

jsValue Text(jsExecState es, const std::string& utf8) {
    return g_wke.jsString(es, utf8.c_str());
}

jsValue Wide(jsExecState es, const std::wstring& text) {
    return g_wke.jsString(es, Utils::utf16ToUtf8(text).c_str());
}

jsValue Bytes(jsExecState es, const std::vector<std::uint8_t>& bytes) {
    return g_wke.jsArrayBuffer(es, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void BindFileFunctions() {
    Bind("openDirAndSelectFile", OpenDirAndSelectFile, nullptr, 0);
    Bind("listDir", ListDir, nullptr, 1);
    Bind("readTextFile", ReadTextFile, nullptr, 1);
    Bind("writeTextToFile", WriteTextToFile, nullptr, 2);
    Bind("selectMultiFiles", SelectMultiFiles, nullptr, 4);
    Bind("tempPath", TempPath, nullptr, 0);
    Bind("copyFile", CopyFileFunction, nullptr, 3);
    Bind("wow64CopyFile", Wow64CopyFile, nullptr, 3);
    Bind("createDeepDirectory", CreateDeepDirectory, nullptr, 1);
    Bind("fileBytesSize", FileBytesSize, nullptr, 1);
}

void BindSystemFunctions(BaseBlkWinow* window) {
    Bind("kernelVersion", KernelVersion, window, 0);
    Bind("getDeviceid", GetDeviceId, window, 0);
    Bind("baseSystemInfo", BaseSystemInfo, window, 1);
    Bind("createProcessWithReturnedData", CreateProcessWithReturnedData, window, 1);
    Bind("createProcessWithReturnedDataAsync", CreateProcessWithReturnedDataAsync, window, 3);
    Bind("formatMessage", FormatMessageFunction, window, 1);
    Bind("messageBox", MessageBoxFunction, window, 4);
    Bind("getComputerName", GetComputerNameFunction, window, 2);
    Bind("getUserName", GetUserNameFunction, window, 4);
    Bind("restartComputer", RestartComputer, window, 1);
    Bind("isWindow", IsWindowFunction, window, 1);
}

void BindWindowFunctions(BaseBlkWinow* window) {
    Bind("createWindow", CreateWindowFunction, window, 5);
    Bind("createWindow2", CreateWindow2, window, 5);
    Bind("showWindow", ShowWindowFunction, window, 2);
    Bind("showWindow2", ShowWindow2, window, 2);
    Bind("closeWindow", CloseWindowFunction, window, 1);
    Bind("setDragRect", SetDragRect, window, 5);
    Bind("resizeWindow", ResizeWindow, window, 3);
    Bind("enableWindow", EnableWindowFunction, window, 2);
    Bind("setForegroundWindow", SetForegroundWindowFunction, window, 1);
    Bind("getParent", GetParentFunction, window, 1);
    Bind("getWindowRect", GetWindowRectFunction, window, 1);
    Bind("enumDisplayMonitors", EnumDisplayMonitors, window, 0);
    Bind("findWindow", FindWindowFunction, window, 2);
    Bind("sendMessage", SendMessageFunction, window, 3);
    Bind("sendCopyData", SendCopyData, window, 2);
    Bind("shellNotifyIcon", ShellNotifyIcon, window, 4);
    Bind("restartApp", RestartApp, window, 1);
    Bind("isRunAsAdmin", IsRunAsAdmin, window, 0);
    Bind("confSetWindowRect", ConfSetWindowRect, window, 4);
    Bind("setExitCode", SetExitCode, window, 1);
    Bind("getZ", GetZ, window, 0);
    Bind("isI18n", IsI18n, window, 0);
    Bind("shellExecute", ShellExecuteFunction, window, 6);
    Bind("getCurrentModuleFileDirectory", GetCurrentModuleFileDirectory, window, 0);
    Bind("getModuleFileName", GetModuleFileName, window, 1);
    Bind("getSystemDirectory", GetSystemDirectoryFunction, window, 0);
    Bind("pathFileExists", PathFileExists, window, 1);
    Bind("selectDir", SelectDir, window, 0);
    Bind("isProcessRunning", IsProcessRunning, window, 1);
    Bind("shGetKnownFolderPath", ShGetKnownFolderPath, window, 3);
    Bind("shGetKnownFolderPath2", ShGetKnownFolderPath2, window, 3);
    Bind("expandEnvironmentStrings", ExpandEnvironmentStrings, window, 1);
    Bind("getUserDefaultUILanguage", GetUserDefaultUILanguage, window, 0);
    Bind("addToStartupList", AddToStartupList, window, 2);
    Bind("deleteFromStartupList", DeleteFromStartupList, window, 1);
    Bind("checkStartupList", CheckStartupList, window, 2);
    Bind("setFirewallRule", SetFirewallRule, window, 5);
    Bind("readBinaryFileAsync", ReadBinaryFileAsync, window, 1);
    Bind("readBinaryFileSync", ReadBinaryFileSync, window, 1);
}

}  // namespace hostfunctions
