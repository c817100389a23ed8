// A window of the program: a native window that holds one web view. On
// Windows it is a real top-level window (kept hidden when the web view shows
// its page in a browser window of its own); on Linux it is a handle in the
// UI-thread message queue of fendrel/uiqueue.h. Either way it receives the
// program's private messages and runs the page's host functions.
#pragma once

#include "host/webview.h"

#include "fendrel/platform.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ConfigBase;

// The program's private window messages (WM_USER + 100 + k).
namespace hostmsg {
constexpr std::uint32_t kChildClosing = 0x464;     // wParam: the child window
constexpr std::uint32_t kSetDragRect = 0x465;      // wParam: a new DragRect, freed by the receiver
constexpr std::uint32_t kTray = 0x467;             // tray icon notification
constexpr std::uint32_t kJsMessage = 0x468;        // wParam: JsMessageRecord*, lParam: UTF-8 text
constexpr std::uint32_t kShowRunning = 0x469;      // a second instance asks to be shown
constexpr std::uint32_t kProcessData = 0x46A;      // wParam: std::wstring*, lParam: tag
// 0x46B to 0x46D carry UI tasks (host/uitask.h).
}  // namespace hostmsg

// Window messages with their Windows numbers, for the portable procedure.
namespace wmsg {
constexpr std::uint32_t kDestroy = 0x0002;
constexpr std::uint32_t kClose = 0x0010;
constexpr std::uint32_t kCopyData = 0x004A;
constexpr std::uint32_t kNcDestroy = 0x0082;
constexpr std::uint32_t kSysCommand = 0x0112;
constexpr std::uintptr_t kScClose = 0xF060;
}  // namespace wmsg

struct WindowRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct JsMessageRecord {
    std::int32_t first = 0;
    std::int32_t second = 0;
};

class BaseBlkWinow;

class BaseWindow {
public:
    BaseWindow(HWND parent, std::intptr_t unused, const std::string& url, std::int32_t kind);
    virtual HWND GetHandle() const { return window; }
    virtual ~BaseWindow() = default;

    std::int32_t kind;
    wkeWebView webView = nullptr;
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    HWND parent = nullptr;
    std::int32_t createAsModal = 0;
    std::string url;
    WindowRect outer;
    WindowRect caption{-1, 0, -1, 60};
    std::int32_t borderlessResize = 1;
    std::int32_t borderlessDrag = 1;
    std::int32_t borderless = 1;
    std::int32_t borderlessShadow = 1;
    std::int32_t inset = 1;
    std::int32_t closeAsHide = 0;
    std::int32_t centerWindow = 0;
    std::int32_t editVisible = 0;
    std::int32_t editHeight = 0;
    std::int32_t closeAsQuit = 0;
    std::int32_t dwExStyle = 0;
    void* cursor = nullptr;  // HCURSOR on Windows
    std::wstring title;
    std::int32_t minWidth = 0;
    std::int32_t minHeight = 0;
};

// A window's message procedure: `handled` false passes the message on to
// the base procedure (and then to the system's default handling).
using WindowProcedure = std::intptr_t (*)(BaseBlkWinow& self, std::uint32_t message, std::uintptr_t wParam,
                                          std::intptr_t lParam, bool& handled);
// Runs when a page has finished loading; sets the page's start-up globals.
using ContextHook = void (*)(BaseBlkWinow& self);

struct TrayMenuItem {
    std::string text;
    std::int32_t id = 0;
    std::string function;
};

class BaseBlkWinow : public BaseWindow {
public:
    BaseBlkWinow(HWND parent, std::intptr_t unused, const std::string& url, std::int32_t kind);
    ~BaseBlkWinow() override;

    // Copies the configuration's window settings, then CreateWebViewWindow
    // with the program's instance. The window handle, or null.
    HWND CreateFromConfig(const ConfigBase& config, int showCommand);
    // Registers the class, creates the native window and its web view,
    // binds the host functions, installs the hooks and loads the URL.
    bool CreateWebViewWindow(HINSTANCE instanceHandle, int showCommand);

    // The procedure every window starts with; others fall back to it.
    static std::intptr_t BaseProcedure(BaseBlkWinow& self, std::uint32_t message, std::uintptr_t wParam,
                                       std::intptr_t lParam, bool& handled);
    static void BaseContextHook(BaseBlkWinow& self);

    // The window of a handle made by this process, or null.
    static BaseBlkWinow* FromHandle(HWND handle);
    static std::vector<HWND> AllWindows();

    // Calls a page function by name when the page declares it.
    void CallPage(const char* function, std::vector<jsValue> arguments);
    // The same with the arguments built in the page's global state, where
    // they must be made; nothing happens while there is no web view.
    using PageArguments = std::function<std::vector<jsValue>(jsExecState)>;
    void CallPage(const std::string& function, const PageArguments& arguments);
    // Shows the page (the web view decides how) and, on Windows, the native window when it has a role.
    void Show(int showCommand);

    std::wstring className = L"commonWin";
    WindowProcedure procedure = BaseProcedure;
    ContextHook contextHook = BaseContextHook;
    // Gives up the single-instance lock (a restart must be able to start),
    // and takes it back when the new instance did not start.
    std::function<void()> releaseInstance;
    std::function<void()> retakeInstance;
    std::int32_t exitCode = 0;
    void* taskbar = nullptr;        // ITaskbarList3 on Windows; null when it cannot be made
    HWND edit = nullptr;
    std::string host;               // page origin prefix of the resource interception
    std::int32_t developer = 0;     // configuration "z"
    std::int32_t enableHotkey = 0;
    float zoom = 1.0f;
    std::int32_t viewWidth = 0;
    std::int32_t viewHeight = 0;
    std::wstring localStoragePath;
    std::wstring cookieJarPath;
    std::uint8_t showMinbox = 1;
    std::uint8_t showMaxbox = 1;
    std::string trayDoubleClick;
    std::vector<TrayMenuItem> trayMenu;
    bool trayShown = false;
    // Windows made by the page's "createWindow" own themselves and are
    // deleted when their native window goes.
    bool ownsSelf = false;
    bool sizedOnce = false;

    // The system side; defined per platform.
    bool CreateNative(int showCommand);
    void DestroyNative();
    // Whether the web view draws into the native window (an embedded
    // engine), which is then shown; a view with a browser window of its own
    // leaves it hidden.
    bool ShowsNativeWindow() const;
    // Windows: drag and hot keys on a web view child window, the layout.
    void AttachNativeView();
    static std::intptr_t DefaultHandling(HWND window, std::uint32_t message, std::uintptr_t wParam,
                                         std::intptr_t lParam);

private:
    void InstallHooks();
};

// The standard loop of the UI thread; returns the exit code given to the
// quit message. The accelerator table id is used on Windows.
int RunMessageLoop(HINSTANCE instance, int acceleratorId);

// The window list of the process (all threads' windows are UI-thread windows).
void RegisterWindow(BaseBlkWinow* window);
void UnregisterWindow(HWND handle);
