// The parts of a web-view window that are the same on every system: the
// page hooks, the resource interception, the private messages and the
// window list.
#include "host/basewindow.h"

#include "host/hostfunctions.h"
#include "host/nativewindow.h"
#include "host/preload.h"
#include "host/uitask.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/uiqueue.h"
#include "fendrel/utils.h"

#include <algorithm>
#include <mutex>

#if defined(_WIN32)
#  include <process.h>
#  define HOST_PID() static_cast<int>(_getpid())
#else
#  include <unistd.h>
#  define HOST_PID() static_cast<int>(getpid())
#endif

namespace {

constexpr const char* kSource = "host/basewindow";

std::mutex g_windowsMutex;
std::vector<BaseBlkWinow*> g_windows;

// The interception remembers the first window's page origin for the process.
std::once_flag g_hostOnce;
std::string g_hostPrefix;

BaseBlkWinow* Self(void* param) {
    return static_cast<BaseBlkWinow*>(param);
}

bool WKE_CALL OnLoadUrlBegin(wkeWebView, void* param, const char* url, wkeNetJob job) {
    std::call_once(g_hostOnce, [&] { g_hostPrefix = Self(param)->host; });
    Logger_DebugF(kSource, __LINE__, "resource %s", url);
    const std::string requested = url != nullptr ? url : "";
    const std::size_t at = g_hostPrefix.empty() ? std::string::npos : requested.find(g_hostPrefix);
    if (at == std::string::npos)
        return false;
    std::string path = g_wke.wkeUtilDecodeURLEscape(requested.c_str());
    // The prefix and one separator, then the path up to a query or fragment.
    const std::size_t start = path.find(g_hostPrefix);
    if (start == std::string::npos)
        return false;
    path = path.substr(std::min(path.size(), start + g_hostPrefix.size() + 1));
    path = path.substr(0, path.find_first_of("?#"));
    std::vector<std::uint8_t> bytes = preload::Lookup(path);
    if (!bytes.empty())
        g_wke.wkeNetSetData(job, bytes.data(), static_cast<int>(bytes.size()));
    return false;
}

bool WKE_CALL OnNavigation(wkeWebView, void* param, wkeNavigationType, const wkeString url) {
    const std::wstring target = g_wke.wkeGetStringW(url);
    if (target.rfind(L"exec://", 0) == 0) {
        const std::wstring commandLine = target.substr(7);
        if (!nativewin::StartCommandLine(commandLine))
            Logger_WarnF(kSource, __LINE__, "cannot start %s", Utils::utf16ToUtf8(commandLine).c_str());
        return false;
    }
    if (target.rfind(L"file://", 0) == 0) {
        std::string path = g_wke.wkeUtilDecodeURLEscape(Utils::utf16ToUtf8(target).c_str());
        path = path.rfind("file:///", 0) == 0 ? path.substr(8) : path.substr(7);
#if !defined(_WIN32)
        path = "/" + path;  // the third slash starts the path on Linux
#endif
        jsExecState es = g_wke.wkeGlobalExec(Self(param)->webView);
        Self(param)->CallPage("acceptFileBycpp", {g_wke.jsString(es, path.c_str())});
        return false;
    }
    return true;
}

void WKE_CALL OnTitleChanged(wkeWebView, void* param, const wkeString title) {
    Self(param)->title = g_wke.wkeGetStringW(title);
}

void WKE_CALL OnLoadingFinish(wkeWebView, void* param, const wkeString, wkeLoadingResult, const wkeString) {
    Self(param)->contextHook(*Self(param));
}

bool WKE_CALL OnDownload(wkeWebView, void*, const char* url, const char*) {
    // The page already lives in a browser, which downloads it the usual way.
    Logger_InfoF(kSource, __LINE__, "download of %s left to the browser", url);
    return false;
}

// The browser window was closed: the same as closing the native window.
bool WKE_CALL OnWindowClosing(wkeWebView, void* param) {
    fendrel::ui::Post(Self(param)->window, wmsg::kSysCommand, wmsg::kScClose, 0);
    return true;
}

void WKE_CALL OnWindowDestroy(wkeWebView, void*) {}

}  // namespace

BaseWindow::BaseWindow(HWND parentWindow, std::intptr_t, const std::string& pageUrl, std::int32_t windowKind)
    : kind(windowKind), parent(parentWindow), url(pageUrl) {}

BaseBlkWinow::BaseBlkWinow(HWND parentWindow, std::intptr_t unused, const std::string& pageUrl,
                           std::int32_t windowKind)
    : BaseWindow(parentWindow, unused, pageUrl, windowKind), taskbar(nativewin::CreateTaskbar()) {}

BaseBlkWinow::~BaseBlkWinow() {
    if (window != nullptr)
        UnregisterWindow(window);
    nativewin::ReleaseTaskbar(taskbar);
}

void BaseBlkWinow::InstallHooks() {
    g_wke.wkeOnTitleChanged(webView, OnTitleChanged, this);
    g_wke.wkeOnNavigation(webView, OnNavigation, this);
    g_wke.wkeOnLoadUrlBegin(webView, OnLoadUrlBegin, this);
    g_wke.wkeOnWindowClosing(webView, OnWindowClosing, this);
    g_wke.wkeOnWindowDestroy(webView, OnWindowDestroy, this);
    g_wke.wkeOnDownload2(webView, OnDownload, this);
    g_wke.wkeOnLoadingFinish(webView, OnLoadingFinish, this);
}

bool BaseBlkWinow::CreateWebViewWindow(HINSTANCE instanceHandle, int showCommand) {
    instance = instanceHandle;
    viewWidth = outer.right - outer.left;
    viewHeight = outer.bottom - outer.top;
    if (!CreateNative(showCommand)) {
        Logger_ErrorF(kSource, __LINE__, "the native window could not be created");
        return false;
    }
    RegisterWindow(this);

    webView = g_wke.wkeCreateWebWindow(WKE_WINDOW_TYPE_CONTROL, window, inset, inset, viewWidth, viewHeight);
    if (webView == nullptr) {
        Logger_ErrorF(kSource, __LINE__, "the web view could not be created");
        return false;
    }
    if (!localStoragePath.empty())
        g_wke.wkeSetLocalStorageFullPath(webView, localStoragePath.c_str());
    if (!cookieJarPath.empty())
        g_wke.wkeSetCookieJarFullPath(webView, cookieJarPath.c_str());

    hostfunctions::BindFileFunctions();
    hostfunctions::BindSystemFunctions(this);
    hostfunctions::BindWindowFunctions(this);

    g_wke.wkeSetZoomFactor(webView, zoom);
    g_wke.wkeSetTransparent(webView, false);
    InstallHooks();

    const std::wstring inspector =
        File::Directory(L"") + fendrel::kPathSep + L"front_end" + fendrel::kPathSep + L"inspector.html";
    if (developer != 0 && File::Exist(inspector))
        g_wke.wkeSetDebugConfig(webView, "showDevTools", Utils::utf16ToUtf8(inspector).c_str());

    g_wke.wkeLoadURL(webView, url.c_str());
    Show(showCommand);
    AttachNativeView();
    return true;
}

void BaseBlkWinow::Show(int showCommand) {
    if (ShowsNativeWindow()) {
        nativewin::ShowNativeWindow(window, showCommand);
    }
    if (webView != nullptr)
        g_wke.wkeShowWindow(webView, showCommand != 0);
}

void BaseBlkWinow::CallPage(const char* function, std::vector<jsValue> arguments) {
    if (webView == nullptr)
        return;
    jsExecState es = g_wke.wkeGlobalExec(webView);
    const jsValue target = g_wke.jsGetGlobal(es, function);
    // A page that does not declare the function does not want the call.
    if (g_wke.jsTypeOf(target) != JSTYPE_FUNCTION)
        return;
    g_wke.jsCallGlobal(es, target, arguments.data(), static_cast<int>(arguments.size()));
}

void BaseBlkWinow::CallPage(const std::string& function, const PageArguments& arguments) {
    if (webView == nullptr)
        return;
    CallPage(function.c_str(), arguments(g_wke.wkeGlobalExec(webView)));
}

void BaseBlkWinow::BaseContextHook(BaseBlkWinow& self) {
    jsExecState es = g_wke.wkeGlobalExec(self.webView);
    g_wke.jsSetGlobal(es, "handle", g_wke.jsInt(static_cast<int>(reinterpret_cast<std::intptr_t>(self.window))));
    g_wke.jsSetGlobal(es, "pid", g_wke.jsInt(HOST_PID()));
    g_wke.jsSetGlobal(es, "cmdline",
                      g_wke.jsString(es, Utils::utf16ToUtf8(nativewin::ProcessCommandLine()).c_str()));
}

std::intptr_t BaseBlkWinow::BaseProcedure(BaseBlkWinow& self, std::uint32_t message, std::uintptr_t wParam,
                                          std::intptr_t lParam, bool& handled) {
    handled = true;
    switch (message) {
    case wmsg::kCopyData: {
        const auto* copy = reinterpret_cast<const nativewin::CopyData*>(lParam);
        if (copy == nullptr || copy->id != 0 || copy->size == 0 || copy->data == nullptr) {
            handled = false;
            return 0;
        }
        jsExecState es = g_wke.wkeGlobalExec(self.webView);
        self.CallPage("crossProcessDataByCpp",
                      {g_wke.jsArrayBuffer(es, static_cast<const char*>(copy->data), copy->size)});
        return 1;
    }
    case wmsg::kSysCommand:
        if ((wParam & 0xFFF0) != wmsg::kScClose) {
            handled = false;
            return 0;
        }
        if (self.closeAsQuit != 0) {
            fendrel::ui::Post(self.window, wmsg::kClose, 0, 0);
            return 0;
        }
        if (self.createAsModal != 0 && self.parent != nullptr)
            nativewin::EnableWindow(self.parent, true);
        if (self.closeAsHide != 0)
            nativewin::ShowNativeWindow(self.window, 0);
        else
            self.DestroyNative();
        return 0;
    case wmsg::kClose:
        if (self.createAsModal != 0 && self.parent != nullptr)
            nativewin::EnableWindow(self.parent, true);
        self.DestroyNative();
        return 0;
    case wmsg::kDestroy:
        if (self.trayShown)
            nativewin::TrayIcon(2, self.window, L"", 0);
        if (self.webView != nullptr) {
            g_wke.wkeDestroyWebView(self.webView);
            self.webView = nullptr;
        }
        if (self.closeAsQuit != 0)
            fendrel::ui::PostQuit(self.exitCode);
        return 0;
    case wmsg::kNcDestroy: {
        if (self.parent != nullptr)
            fendrel::ui::Post(self.parent, hostmsg::kChildClosing, reinterpret_cast<std::uintptr_t>(self.window), 0);
        UnregisterWindow(self.window);
        self.window = nullptr;
        if (self.ownsSelf)
            delete &self;
        handled = false;
        return 0;
    }
    case hostmsg::kChildClosing:
        self.CallPage("notifyWindowMSGByCpp",
                      {g_wke.jsInt(static_cast<int>(wParam)), g_wke.jsInt(1)});
        return 0;
    case hostmsg::kSetDragRect: {
        const auto* rect = reinterpret_cast<const WindowRect*>(wParam);
        if (rect == nullptr)
            return 0;
        self.caption = *rect;
        delete rect;
        return 1;  // taken: the sender must not free it
    }
    case hostmsg::kJsMessage: {
        const auto* record = reinterpret_cast<const JsMessageRecord*>(wParam);
        const char* text = reinterpret_cast<const char*>(lParam);
        jsExecState es = g_wke.wkeGlobalExec(self.webView);
        if (record != nullptr) {
            self.CallPage("ReceiveJSMessageByCpp",
                          {g_wke.jsInt(record->first),
                           g_wke.jsInt(static_cast<int>(reinterpret_cast<std::intptr_t>(self.window))),
                           g_wke.jsInt(record->second), g_wke.jsString(es, text != nullptr ? text : "")});
            delete record;
        }
        return 0;
    }
    case hostmsg::kTray:
        if (static_cast<std::uint32_t>(lParam) == 0x0203) {  // WM_LBUTTONDBLCLK
            if (!self.trayDoubleClick.empty())
                self.CallPage(self.trayDoubleClick.c_str(), {});
        } else if (static_cast<std::uint32_t>(lParam) == 0x0205) {  // WM_RBUTTONUP
            nativewin::SetForeground(self.window);
            std::vector<std::pair<int, std::string>> items;
            for (const TrayMenuItem& item : self.trayMenu)
                items.emplace_back(item.id, item.text);
            const int chosen = nativewin::PopupMenu(self.window, items);
            for (const TrayMenuItem& item : self.trayMenu) {
                if (chosen != 0 && item.id == chosen)
                    self.CallPage(item.function.c_str(), {});
            }
        }
        return 0;
    case hostmsg::kShowRunning:
        Logger_InfoF(kSource, __LINE__, "another instance asked this one to show itself (0x469)");
        nativewin::ShowMessage(self.window, L"已启动一个" + self.title + L",无法再启动第二个。", L"提示", 0);
        self.Show(4);
        return 1;
    case hostmsg::kProcessData: {
        const auto* text = reinterpret_cast<const std::wstring*>(wParam);
        jsExecState es = g_wke.wkeGlobalExec(self.webView);
        self.CallPage("processDataMsgByCpp", {g_wke.jsInt(static_cast<int>(lParam)),
                                               g_wke.jsString(es, Utils::utf16ToUtf8(text != nullptr ? *text : L"").c_str())});
        delete text;
        return 1;  // taken: the sender must not free it
    }
    default:
        handled = uitask::HandleTaskMessage(message, wParam, lParam);
        return 0;
    }
}

BaseBlkWinow* BaseBlkWinow::FromHandle(HWND handle) {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    for (BaseBlkWinow* window : g_windows) {
        if (window->window == handle)
            return window;
    }
    return nullptr;
}

std::vector<HWND> BaseBlkWinow::AllWindows() {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    std::vector<HWND> handles;
    for (BaseBlkWinow* window : g_windows)
        handles.push_back(window->window);
    return handles;
}

void RegisterWindow(BaseBlkWinow* window) {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    g_windows.push_back(window);
}

void UnregisterWindow(HWND handle) {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    g_windows.erase(std::remove_if(g_windows.begin(), g_windows.end(),
                                   [&](BaseBlkWinow* window) { return window->window == handle; }),
                    g_windows.end());
}
