#include "host/nativewindow.h"

#include "host/messagebox.h"

#include "fendrel/logger.h"
#include "fendrel/uiqueue.h"
#include "fendrel/utils.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <pthread.h>
#include <thread>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nativewin {

std::wstring ProcessCommandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!raw.empty() && raw.back() == '\0')
        raw.pop_back();
    for (char& c : raw) {
        if (c == '\0')
            c = ' ';
    }
    return Utils::utf8ToUtf16(raw);
}

bool StartCommandLine(const std::wstring& commandLine) {
    const std::string command = Utils::utf16ToUtf8(commandLine);
    // Twice forked, so the child is nobody's zombie; the shell reads the
    // line as a Windows command line would be read by its program.
    const pid_t first = fork();
    if (first < 0) {
        Logger_ErrorF("host/nativewindow", __LINE__, "fork failed: %s", std::strerror(errno));
        return false;
    }
    if (first == 0) {
        setsid();
        if (fork() == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(first, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int ShowMessage(HWND, const std::wstring& text, const std::wstring& caption, std::uint32_t type) {
    constexpr std::uint32_t kButtons = 0xF;  // MB_TYPEMASK; 0 is MB_OK alone
    if ((type & kButtons) != 0) {
        // A question: inventing the user's answer could confirm what nobody chose.
        Logger_WarnF("host/nativewindow", __LINE__,
                     "messageBox: no dialog can be shown on Linux to ask \"%s: %s\" (buttons %u); answering 0",
                     Utils::utf16ToUtf8(caption).c_str(), Utils::utf16ToUtf8(text).c_str(), type & kButtons);
        return 0;
    }
    ShowMessageBox(caption, text);
    return 1;  // IDOK: the message was shown the only way there is
}

bool OwnedByThisProcess(HWND window) {
    return fendrel::ui::IsMessageWindow(window);
}

namespace {
void NoNativeWindow(const char* operation) {
    Logger_InfoF("host/nativewindow", __LINE__, "%s: a page's window has no native window on Linux", operation);
}
}  // namespace

bool EnableWindow(HWND, bool) {
    NoNativeWindow("enableWindow");
    return false;
}

bool Minimize(HWND) {
    NoNativeWindow("closeWindow");
    return false;
}

int Resize(HWND, int, int) {
    NoNativeWindow("resizeWindow");
    return EOPNOTSUPP;
}

bool SetForeground(HWND) {
    NoNativeWindow("setForegroundWindow");
    return false;
}

bool NativeRect(HWND, std::int32_t*) {
    return false;
}

std::vector<std::array<std::int32_t, 4>> MonitorRects() {
    NoNativeWindow("enumDisplayMonitors");
    return {};
}

HWND FindNative(const std::wstring&, const std::wstring&) {
    return nullptr;
}

int PopupMenu(HWND, const std::vector<std::pair<int, std::string>>&) {
    return 0;
}

bool TrayIcon(int, HWND, const std::wstring&, int) {
    NoNativeWindow("shellNotifyIcon");
    return false;
}

bool ShowNativeWindow(HWND, int) {
    return false;
}

void* CreateTaskbar() {
    return nullptr;
}

void ReleaseTaskbar(void*) {}

void SetTaskbarState(void*, HWND, int) {}

void SetTaskbarValue(void*, HWND, std::uint64_t, std::uint64_t) {}

int NotSupportedError() {
    return EOPNOTSUPP;
}

HINSTANCE ProgramInstance() {
    return nullptr;
}

namespace {
sigset_t TerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    return signals;
}
}  // namespace

void BlockTerminationSignals() {
    // Every thread started later inherits the mask, so only the waiting
    // thread below ever takes these signals.
    const sigset_t signals = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void CloseOnTerminationRequest(HWND window) {
    std::thread([window] {
        const sigset_t signals = TerminationSignals();
        int received = 0;
        if (sigwait(&signals, &received) != 0)
            return;
        Logger_InfoF("host/nativewindow", __LINE__, "signal %d: closing the window", received);
        fendrel::ui::Post(window, 0x0112, 0xF060, 0);  // WM_SYSCOMMAND, SC_CLOSE
    }).detach();
}

}  // namespace nativewin
