#include "host/webview_native.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex g_textsMutex;
std::string g_version = "empty";
std::string g_first = "empty";
std::string g_second = "empty";

// Starts the dumper beside the program with what it needs to write a dump
// of this process, and waits for it: the process must stay as it is.
LONG WINAPI CrashReporter(EXCEPTION_POINTERS* exception) {
    std::wstring dumper = File::Directory(L"") + L"\\dumper.exe";
    std::string version, first, second;
    {
        std::lock_guard<std::mutex> lock(g_textsMutex);
        version = g_version;
        first = g_first;
        second = g_second;
    }
    std::vector<wchar_t> commandLine(32768);
    std::swprintf(commandLine.data(), commandLine.size(), L"\"%ls\" %lu %lu %p %hs %hs %hs", dumper.c_str(),
                  GetCurrentProcessId(), GetCurrentThreadId(), static_cast<void*>(exception), version.c_str(),
                  first.c_str(), second.c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                       nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

const wchar_t* WebViewLibraryName() {
    return L"miniblink_4975_x32.dll";
}

void SetCrashReportTexts(const std::string& version, const std::string& first, const std::string& second) {
    std::lock_guard<std::mutex> lock(g_textsMutex);
    g_version = version.empty() ? "empty" : version;
    g_first = first.empty() ? "empty" : first;
    g_second = second.empty() ? "empty" : second;
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
    SetUnhandledExceptionFilter(filter != nullptr ? filter : CrashReporter);
}

void ReportLoadFailure() {
    MessageBoxW(nullptr, L"加载miniblink失败，无法正常运行程序", L"提示", MB_OK | MB_ICONERROR);
}

void ReportMissingName(const char* name) {
    MessageBoxA(nullptr, "wke api not found", name, MB_OK);
}

}  // namespace webview_native
