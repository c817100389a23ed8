// The system side of the window host that the portable window code needs,
// one implementation per platform (nativewindow_win32.cpp / _posix.cpp).
#pragma once

#include "fendrel/platform.h"

#include <cstdint>
#include <array>
#include <string>
#include <utility>
#include <vector>

namespace nativewin {

// The data of a copy-data message, laid out as Win32's COPYDATASTRUCT.
struct CopyData {
    std::uintptr_t id;
    std::uint32_t size;
    const void* data;
};

// The process's command line as one text.
std::wstring ProcessCommandLine();
// Starts a command line without waiting for it; false when it did not start.
bool StartCommandLine(const std::wstring& commandLine);
// A modal message; the button pressed. Linux has no dialog: the text goes
// to standard error and the log, and only a box whose one button is OK
// (type & 0xF == 0) answers IDOK (1); any other set of buttons would need
// the user's answer, so it answers 0 and logs that no dialog can ask.
int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, std::uint32_t type);
// Whether a window belongs to this process. Messages that carry addresses
// (a record the receiver frees) may go only to such a window: an address
// means nothing in another process. Windows: GetWindowThreadProcessId;
// Linux: a live window of the process's message queue.
bool OwnedByThisProcess(HWND window);
// Windows: EnableWindow, ShowWindow; Linux: no native state, false.
bool EnableWindow(HWND window, bool enable);
bool ShowNativeWindow(HWND window, int showCommand);
// Window operations of the page's window functions. Linux has no native
// window state behind a page: they fail (false, an error number, nothing)
// and say so in the log.
bool Minimize(HWND window);                                 // CloseWindow
int Resize(HWND window, int width, int height);             // SetWindowPos result, or the error number
bool SetForeground(HWND window);
bool NativeRect(HWND window, std::int32_t rect[4]);         // GetWindowRect
std::vector<std::array<std::int32_t, 4>> MonitorRects();  // EnumDisplayMonitors
HWND FindNative(const std::wstring& className, const std::wstring& title);

// The tray icon of `window`: add (0), modify (1) or delete (2).
bool TrayIcon(int action, HWND window, const std::wstring& tip, int iconResource);

// Shows a pop-up menu of (id, UTF-8 text) at the cursor; the chosen id, or 0.
int PopupMenu(HWND window, const std::vector<std::pair<int, std::string>>& items);

// The taskbar button's progress (Windows ITaskbarList3; Linux has none and
// the page shows progress itself): created per window, null when missing.
void* CreateTaskbar();
void ReleaseTaskbar(void* taskbar);
void SetTaskbarState(void* taskbar, HWND window, int state);  // 0 none, 2 normal
void SetTaskbarValue(void* taskbar, HWND window, std::uint64_t done, std::uint64_t total);

// The system's error number for "not supported" (ERROR_NOT_SUPPORTED, EOPNOTSUPP).
int NotSupportedError();

// The process's main instance handle (null on Linux).
HINSTANCE ProgramInstance();

// Linux: a termination request (SIGTERM, SIGINT, SIGHUP) closes `window`
// the way its close box would, so the configuration is saved on the way
// out. BlockTerminationSignals must run before the process starts threads.
// Windows: nothing to do (the system sends the window WM_CLOSE itself).
void BlockTerminationSignals();
void CloseOnTerminationRequest(HWND window);

}  // namespace nativewin
