#include "host/nativewindow.h"

#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>

namespace nativewin {

std::wstring ProcessCommandLine() {
    return GetCommandLineW();
}

bool StartCommandLine(const std::wstring& commandLine) {
    std::wstring buffer = commandLine;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        Logger_ErrorF("host/nativewindow", __LINE__, "CreateProcessW failed with %lu", GetLastError());
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, std::uint32_t type) {
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

bool OwnedByThisProcess(HWND window) {
    DWORD process = 0;
    return window != nullptr && GetWindowThreadProcessId(window, &process) != 0 &&
           process == GetCurrentProcessId();
}

bool EnableWindow(HWND window, bool enable) {
    return ::EnableWindow(window, enable ? TRUE : FALSE) != 0;
}

bool Minimize(HWND window) {
    return ::CloseWindow(window) != 0;
}

int Resize(HWND window, int width, int height) {
    if (!SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER))
        return static_cast<int>(GetLastError());
    return 1;
}

bool SetForeground(HWND window) {
    return ::SetForegroundWindow(window) != 0;
}

bool NativeRect(HWND window, std::int32_t rect[4]) {
    RECT r{};
    if (!GetWindowRect(window, &r))
        return false;
    rect[0] = r.left;
    rect[1] = r.top;
    rect[2] = r.right;
    rect[3] = r.bottom;
    return true;
}

namespace {
BOOL CALLBACK AddMonitor(HMONITOR, HDC, LPRECT rect, LPARAM list) {
    reinterpret_cast<std::vector<std::array<std::int32_t, 4>>*>(list)->push_back(
        {rect->left, rect->top, rect->right, rect->bottom});
    return TRUE;
}
}  // namespace

std::vector<std::array<std::int32_t, 4>> MonitorRects() {
    std::vector<std::array<std::int32_t, 4>> monitors;
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

HWND FindNative(const std::wstring& className, const std::wstring& title) {
    return FindWindowW(className.empty() ? nullptr : className.c_str(), title.empty() ? nullptr : title.c_str());
}

bool TrayIcon(int action, HWND window, const std::wstring& tip, int iconResource) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = 0x467;
    data.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconResource));
    lstrcpynW(data.szTip, tip.c_str(), static_cast<int>(sizeof data.szTip / sizeof data.szTip[0]));
    return Shell_NotifyIconW(static_cast<DWORD>(action), &data) != 0;
}

int PopupMenu(HWND window, const std::vector<std::pair<int, std::string>>& items) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return 0;
    for (const auto& [id, text] : items)
        AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), Utils::utf8ToUtf16(text).c_str());
    POINT cursor{};
    GetCursorPos(&cursor);
    const int chosen = static_cast<int>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr));
    DestroyMenu(menu);
    return chosen;
}

bool ShowNativeWindow(HWND window, int showCommand) {
    return ::ShowWindow(window, showCommand) != 0;
}

void* CreateTaskbar() {
    ITaskbarList3* taskbar = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&taskbar))) ||
        taskbar == nullptr)
        return nullptr;
    if (FAILED(taskbar->HrInit())) {
        taskbar->Release();
        return nullptr;
    }
    return taskbar;
}

void ReleaseTaskbar(void* taskbar) {
    if (taskbar != nullptr)
        static_cast<ITaskbarList3*>(taskbar)->Release();
}

void SetTaskbarState(void* taskbar, HWND window, int state) {
    if (taskbar != nullptr)
        static_cast<ITaskbarList3*>(taskbar)->SetProgressState(window, static_cast<TBPFLAG>(state));
}

void SetTaskbarValue(void* taskbar, HWND window, std::uint64_t done, std::uint64_t total) {
    if (taskbar != nullptr)
        static_cast<ITaskbarList3*>(taskbar)->SetProgressValue(window, done, total);
}

int NotSupportedError() {
    return ERROR_NOT_SUPPORTED;
}

HINSTANCE ProgramInstance() {
    return GetModuleHandleW(nullptr);
}

void BlockTerminationSignals() {}

void CloseOnTerminationRequest(HWND) {}

}  // namespace nativewin
