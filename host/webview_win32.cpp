#include "host/webview_native.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// All the reporter needs, made before any crash: by then the heap or a lock
// may be broken, so the filter itself only formats into a static buffer.
struct DumperLaunch {
    std::wstring head;    // the dumper, quoted, and a space
    std::wstring tail;    // a space and the three quoted texts
    std::wstring folder;  // the log's folder: the dumper's current folder, where it puts "crash"
};

std::mutex g_prepareMutex;
std::string g_version = "empty";
std::string g_first = "empty";
std::string g_second = "empty";
std::atomic<const DumperLaunch*> g_launch{nullptr};
std::atomic<DWORD> g_reportingThread{0};
wchar_t g_commandLine[32768];

// One argument in the quoting the C runtime's parser undoes: a product name
// with a space must stay one argument.
std::wstring QuoteArgument(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        quoted.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        quoted += c;
    }
    quoted.append(slashes * 2, L'\\');
    return quoted + L"\"";
}

// Under g_prepareMutex.
void PrepareLaunch() {
    auto* launch = new DumperLaunch;
    launch->head = L"\"" + File::Directory(L"") + L"\\dumper.exe\" ";
    for (const std::string* text : {&g_version, &g_first, &g_second})
        launch->tail += L" " + QuoteArgument(Utils::utf8ToUtf16(*text));
    launch->folder = Logger_Folder();
    // A record replaced here may be in use by a crash on another thread; the
    // few replaced ones in a run are left to the end of the process.
    g_launch.store(launch);
}

// No logging here: a crash inside the logger holds its lock. A fixed line on
// the standard error stream takes no lock.
void TellFailure(const char* line) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
}

// Starts the dumper beside the program with what it needs to write a dump
// of this process, and waits for it: the process must stay as it is.
LONG WINAPI CrashReporter(EXCEPTION_POINTERS* exception) {
    // One report per process: a second faulting thread waits here until the
    // first one's report is written and the process ends; a fault inside the
    // reporter itself ends the process at once.
    DWORD reporter = 0;
    if (!g_reportingThread.compare_exchange_strong(reporter, GetCurrentThreadId())) {
        if (reporter == GetCurrentThreadId())
            return EXCEPTION_CONTINUE_SEARCH;
        Sleep(INFINITE);
    }
    const DumperLaunch* launch = g_launch.load();
    if (launch == nullptr)
        return EXCEPTION_CONTINUE_SEARCH;
    const int length = std::swprintf(g_commandLine, sizeof g_commandLine / sizeof g_commandLine[0], L"%ls%lu %lu %p%ls",
                                     launch->head.c_str(), static_cast<unsigned long>(GetCurrentProcessId()),
                                     static_cast<unsigned long>(GetCurrentThreadId()), static_cast<void*>(exception),
                                     launch->tail.c_str());
    if (length < 0) {
        TellFailure("crash report: the dumper's command line is too long\r\n");
        return EXCEPTION_CONTINUE_SEARCH;
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    const wchar_t* folder = launch->folder.empty() ? nullptr : launch->folder.c_str();
    BOOL started = CreateProcessW(nullptr, g_commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                                  folder, &si, &pi);
    // A log folder removed since start-up: the dumper still runs in ours.
    if (!started && folder != nullptr)
        started = CreateProcessW(nullptr, g_commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                                 nullptr, &si, &pi);
    if (!started) {
        TellFailure("crash report: dumper.exe could not be started\r\n");
        return EXCEPTION_CONTINUE_SEARCH;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

const wchar_t* WebViewLibraryName() {
    return L"miniblink_4975_x32.dll";
}

void SetCrashReportTexts(const std::string& version, const std::string& first, const std::string& second) {
    std::lock_guard<std::mutex> lock(g_prepareMutex);
    g_version = CrashReportText(version);
    g_first = CrashReportText(first);
    g_second = CrashReportText(second);
    PrepareLaunch();
}

namespace webview_native {

void* OpenLibrary(const std::wstring& path) {
    HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr)
        Logger_ErrorF("host/webview", __LINE__, "LoadLibraryW failed with %lu",
                      static_cast<unsigned long>(GetLastError()));
    return reinterpret_cast<void*>(library);
}

void* Resolve(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void InstallCrashFilter(CrashFilter filter) {
    if (filter == nullptr) {
        std::lock_guard<std::mutex> lock(g_prepareMutex);
        PrepareLaunch();
    }
    SetUnhandledExceptionFilter(filter != nullptr ? filter : CrashReporter);
}

void ReportLoadFailure() {
    MessageBoxW(nullptr, L"加载miniblink失败，无法正常运行程序", L"提示", MB_OK | MB_ICONERROR);
}

void ReportMissingName(const char* name) {
    MessageBoxA(nullptr, "wke api not found", name, MB_OK);
}

}  // namespace webview_native
