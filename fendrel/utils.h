// Text encodings, processes, privileges and system facts. "ANSI" is the
// process code page on Windows (UTF-8 under the program's manifest) and UTF-8
// on Linux; "UTF-16" is the platform's wide form (UTF-32 on Linux).
// Nothing here throws on an ordinary failure.
//
//   Split(L"a,,b", out, L",")      => {L"a", L"b"}
//   hasChineseCharacters("abc")   => false      (any non-ASCII byte => true)
//   hresultToWString(0x8FFF1234)  => L"Unknown error (0x8FFF1234)" when no system text exists
#pragma once

#include "platform.h"

#include <cstdint>
#include <string>
#include <vector>

class FENDREL_API Utils {
public:
    // Encoding conversions; empty input gives empty output.
    static std::wstring utf8ToUtf16(const std::string& text);  // up to the first NUL
    static std::string utf16ToUtf8(const std::wstring& text);
    static std::string utf16ToUtf8(const wchar_t* text);       // null gives ""
    static std::wstring AnsiToUtf16(const std::string& text);
    static std::string Utf16ToAnsi(const std::wstring& text);  // empty on failure
    static std::string ansiToUtf8(const std::string& text);
    static std::string utf8ToAnsi(const std::string& text);    // empty on failure
    static std::string Base64EncodeUTF8(const std::string& bytes);
    static std::wstring toLower(const std::wstring& text);
    static void Split(const std::wstring& text, std::vector<std::wstring>& out, const std::wstring& delimiters);
    static void Split(const std::string& text, std::vector<std::string>& out, const std::string& delimiters);
    static bool hasChineseCharacters(const std::string& text);
    static std::wstring hresultToWString(HRESULT code);

    // System facts.
    static bool isNotWin8OrGreater();
    static bool Is64BitSystem();
    static std::string GetSystem();
    static std::string GetKernelVersion();
    static std::string generateHash();  // cached for the process
    static int IsRunAsAdmin();
    static int IsProcessElevated();
    static int enablePrivilege(const std::wstring& privilegeName);
    static bool IsProcessRunning(const std::wstring& executablePath);
    static int ChangeWndMessageFilterOk(unsigned int message, int allow);
    static int CreateDeepDirectory(const std::wstring& path);
    // The user's language as a Windows language identifier (LANG/LC_* on Linux).
    static LANGID UserDefaultLangId();

    // Processes. On Linux a command line of plain words (double quotes group)
    // is executed directly, so a missing program fails with its errno as on
    // Windows; a line with shell syntax (| ; $ ' * ...) runs under /bin/sh -c.
    // Process id of the started program, or the system error number when the launch failed.
    // Linux: the verb "runas" gives EPERM (there is no elevation prompt).
    static DWORD runApp(const std::wstring& file, const std::wstring& parameters, const std::wstring& verb);
    // Runs a command line hidden and waits for it; 0, or the system error number when it could not start.
    // With an output handle the child's stdout and stderr go there; on Linux the handle is a
    // file descriptor: reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd)).
    static DWORD CreateHiddenWindowProcess(const std::wstring& commandLine, void* reserved, HANDLE output);
    // Everything the child writes to stdout and stderr, read while it runs;
    // "error|<errno>" when it cannot be started.
    static std::wstring CreateProcessWithReturnedData(const std::wstring& commandLine);
    // Starts a command line and waits until it and every process it started have ended
    // (ProcessTree::ProcessTreeWaiter, processtree.h); 0, or the system error number.
    // Windows: a program that needs elevation is started through the "runas" prompt.
    static DWORD CreateAndWaitProcessB(const std::wstring& commandLine, LPSTARTUPINFOW startupInfo);
};

struct DPISize {
    float scale;
    std::int32_t width;
    std::int32_t height;
};

// Per-monitor DPI answers; without the system's per-window DPI functions every
// answer is the 96-DPI one.
class FENDREL_API DpiAPI {
public:
    DpiAPI();
    bool HasAPI() const;
    bool IsPSetThreadDpiAwarenessContextNull() const;
    int getDPI(HWND window) const;
    DPISize getDPIResize(HWND window, int width, int height, int divisor) const;
    static int getDpiLength(int dpi, int length);

private:
    bool m_hasApi = false;
    void* m_getAwarenessFromDpiAwarenessContext = nullptr;
    void* m_getThreadDpiAwarenessContext = nullptr;
    void* m_getDpiForSystem = nullptr;
    void* m_getDpiForWindow = nullptr;
    void* m_setThreadDpiAwarenessContext = nullptr;
};
