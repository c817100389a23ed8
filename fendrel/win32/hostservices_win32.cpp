// Host services on Windows: the HKCU Run key, the shell's known folders and
// ShellExecuteW, the Windows firewall through its COM interfaces.
#include "../hostservices.h"

#include "../logger.h"
#include "../utils.h"
#include "winhelpers.h"

#include <windows.h>
#include <netfw.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>

using fendrel::win32::ComScope;
using fendrel::win32::Resolve;

namespace {

// ---------------------------------------------------------------- owners

class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (m_key != nullptr)
            RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY get() const { return m_key; }
    HKEY* out() { return &m_key; }

private:
    HKEY m_key = nullptr;
};

// Releases a COM interface on every way out.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (m_pointer != nullptr)
            m_pointer->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    Interface* get() const { return m_pointer; }
    Interface* operator->() const { return m_pointer; }
    void** out() { return reinterpret_cast<void**>(&m_pointer); }
    Interface** typedOut() { return &m_pointer; }

private:
    Interface* m_pointer = nullptr;
};

class Bstr {
public:
    explicit Bstr(const std::wstring& text)
        : m_text(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return m_text; }

private:
    BSTR m_text;
};

// ---------------------------------------------------------------- helpers

// The Run key; value names are case-insensitive, and so is the key's path:
// the two spellings name the same key.
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunKeyUpper[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

const wchar_t* OrNull(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

// Writes one line to the standard output as wide text: to a console as it
// is, to a pipe or file as UTF-8 (the C runtime's wide streams would drop
// characters outside the "C" locale).
void WriteStdoutLine(const std::wstring& line) {
    std::fflush(stdout);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0, written = 0;
    const std::wstring text = line + L"\r\n";
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = Utils::utf16ToUtf8(text);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Switches the WOW64 file-system redirection off for the object's lifetime
// when this is a 32-bit process on 64-bit Windows; elsewhere does nothing.
class RedirectionOff {
public:
    RedirectionOff() {
        using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
        using DisableFn = BOOL(WINAPI*)(PVOID*);
        const auto isWow64 = Resolve<IsWow64ProcessFn>(L"kernel32.dll", "IsWow64Process");
        BOOL wow64 = FALSE;
        if (isWow64 == nullptr || !isWow64(GetCurrentProcess(), &wow64) || !wow64)
            return;
        const auto disable = Resolve<DisableFn>(L"kernel32.dll", "Wow64DisableWow64FsRedirection");
        m_revert = Resolve<RevertFn>(L"kernel32.dll", "Wow64RevertWow64FsRedirection");
        m_off = disable != nullptr && m_revert != nullptr && disable(&m_old);
        if (!m_off)
            LOG_WARN("FileCopy: cannot switch the WOW64 file-system redirection off (error %lu)", GetLastError());
    }
    ~RedirectionOff() {
        if (m_off)
            m_revert(m_old);
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;

private:
    using RevertFn = BOOL(WINAPI*)(PVOID);
    RevertFn m_revert = nullptr;
    PVOID m_old = nullptr;
    bool m_off = false;
};

// SHGetKnownFolderPath for a folder id in braces; empty on failure.
std::wstring FolderPath(const std::wstring& folderId, DWORD flags, HANDLE token) {
    GUID id{};
    // Only the braced form: other text would be looked up as a class name.
    if (folderId.empty() || folderId[0] != L'{' || FAILED(CLSIDFromString(folderId.c_str(), &id)))
        return {};
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, flags, token, &path);
    std::wstring result;
    if (SUCCEEDED(hr) && path != nullptr)
        result = path;
    else
        LOG_WARN_W(L"KnownFolders: folder %ls not found (0x%08lX)", folderId.c_str(), static_cast<unsigned long>(hr));
    CoTaskMemFree(path);  // null-safe; the shell may hand a buffer back even on failure
    return result;
}

}  // namespace

// ---------------------------------------------------------------- StartupList

DWORD StartupList::Add(const std::wstring& name, const std::wstring& command) {
    RegKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, key.out());
    if (status != ERROR_SUCCESS) {
        LOG_WARN("StartupList: cannot open the Run key (error %ld)", static_cast<long>(status));
        return static_cast<DWORD>(status);
    }
    const DWORD bytes = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));  // with the terminating zero
    status = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()), bytes);
    if (status != ERROR_SUCCESS)
        LOG_WARN_W(L"StartupList: cannot write %ls (error %ld)", name.c_str(), static_cast<long>(status));
    return static_cast<DWORD>(status);
}

DWORD StartupList::Delete(const std::wstring& name) {
    RegKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyUpper, 0, KEY_ALL_ACCESS, key.out());
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    return static_cast<DWORD>(RegDeleteValueW(key.get(), name.c_str()));
}

bool StartupList::Check(const std::wstring& name, const std::wstring& expected) {
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return false;
    wchar_t buffer[MAX_PATH] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(buffer);
    // A longer value fails with ERROR_MORE_DATA and so does not match.
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    // The stored size may or may not count a terminating zero.
    std::wstring text(buffer, bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text == expected;
}

// ---------------------------------------------------------------- KnownFolders

std::wstring KnownFolders::Path(int number, DWORD flags, HANDLE token) {
    return number >= 0 && number < kCount ? FolderPath(Id(number), flags, token) : std::wstring();
}

std::wstring KnownFolders::PathById(const std::wstring& folderId, DWORD flags) {
    return FolderPath(folderId, flags, nullptr);
}

// ---------------------------------------------------------------- SystemInfo

std::wstring SystemInfo::ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) {
        LOG_WARN("SystemInfo: GetComputerNameW failed (error %lu)", GetLastError());
        return {};
    }
    return std::wstring(name, size);
}

std::wstring SystemInfo::UserName() {
    wchar_t name[257] = {};  // UNLEN + 1
    DWORD size = sizeof(name) / sizeof(name[0]);
    if (!GetUserNameW(name, &size)) {
        LOG_WARN("SystemInfo: GetUserNameW failed (error %lu)", GetLastError());
        return {};
    }
    return name;
}

std::wstring SystemInfo::ErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
        reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring result;
    if (length != 0 && text != nullptr)
        result.assign(text, length);
    LocalFree(text);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
        result.pop_back();
    return result;
}

std::wstring SystemInfo::SystemDirectory() {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

std::string SystemInfo::OsVersion() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)))
        return {};
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
}

LANGID SystemInfo::UserDefaultUILanguage() {
    return GetUserDefaultUILanguage();
}

// ---------------------------------------------------------------- HostShell

DWORD HostShell::Execute(HWND owner, const std::wstring& verb, const std::wstring& file,
                         const std::wstring& parameters, const std::wstring& directory, int showCommand) {
    // Verbs may be served by shell extensions, which are COM objects.
    ComScope com;
    SetLastError(ERROR_SUCCESS);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(owner, OrNull(verb), file.c_str(), OrNull(parameters), OrNull(directory), showCommand));
    if (result > 32)
        return 0;
    DWORD error = GetLastError();
    // The shell does not always set a system error; then its own code (2 not
    // found, 31 no association, ...) says what went wrong, and 0 means it ran
    // out of memory. Never report a failure as 0.
    if (error == ERROR_SUCCESS)
        error = result == 0 ? ERROR_NOT_ENOUGH_MEMORY : static_cast<DWORD>(result);
    LOG_WARN_W(L"ShellExecute: cannot %ls %ls (error %lu)", verb.empty() ? L"open" : verb.c_str(), file.c_str(), error);
    return error;
}

DWORD HostShell::StartProgram(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                              DWORD& processId) {
    processId = 0;
    ComScope com;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // Waits until the launch is done, so the answer is the launch's; the
    // caller reports the error, so the shell shows no dialog of its own.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = OrNull(verb);
    info.lpFile = file.c_str();
    info.lpParameters = OrNull(parameters);
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        DWORD error = GetLastError();
        if (error == ERROR_SUCCESS)
            error = ERROR_GEN_FAILURE;  // never report a failure as 0
        LOG_WARN_W(L"ShellExecuteEx: cannot %ls %ls (error %lu)", verb.empty() ? L"open" : verb.c_str(), file.c_str(),
                   error);
        return error;
    }
    if (info.hProcess != nullptr) {
        processId = GetProcessId(info.hProcess);
        CloseHandle(info.hProcess);
    }
    return 0;
}

bool HostShell::PathExists(const std::wstring& path) {
    return PathFileExistsW(path.c_str()) != FALSE;
}

// ---------------------------------------------------------------- FileCopy

bool FileCopy::Copy(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    if (CopyFileW(source.c_str(), target.c_str(), failIfExists ? TRUE : FALSE))
        return true;
    LOG_WARN_W(L"FileCopy: cannot copy %ls to %ls (error %lu)", source.c_str(), target.c_str(), GetLastError());
    return false;
}

bool FileCopy::Wow64Copy(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    RedirectionOff off;
    return Copy(source, target, failIfExists);
}

bool FileCopy::Wow64Move(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    // Redirection stays off for the deletion too: with it back on, a System32
    // source would name another file and the wrong one could be deleted.
    RedirectionOff off;
    return Move(source, target, failIfExists);
}

// ---------------------------------------------------------------- SystemControl

bool SystemControl::RestartComputer(unsigned int flags) {
    // Token opened, privilege looked up and enabled; any step failing is false.
    if (!Utils::enablePrivilege(L"SeShutdownPrivilege")) {
        LOG_WARN("RestartComputer: the shutdown privilege cannot be enabled");
        return false;
    }
    if (!ExitWindowsEx(flags, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_MAINTENANCE |
                                  SHTDN_REASON_FLAG_PLANNED)) {
        LOG_WARN("RestartComputer: ExitWindowsEx(0x%X) failed (error %lu)", flags, GetLastError());
        return false;
    }
    return true;
}

bool SystemControl::SetFirewallRule(const std::wstring& name, const std::wstring& application, long protocol,
                                    long direction, bool enabled, bool block) {
    if (name.empty()) {
        LOG_WARN("SetFirewallRule: a rule needs a name");
        return false;
    }
    ComScope com;
    ComPtr<INetFwPolicy2> policy;
    HRESULT hr = CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwPolicy2),
                                  policy.out());
    if (FAILED(hr)) {
        LOG_WARN("SetFirewallRule: no firewall policy object (0x%08lX)", static_cast<unsigned long>(hr));
        return false;
    }
    // Every property is set before the rule is added, so a failing step
    // leaves the firewall as it was.
    ComPtr<INetFwRule> rule;
    ComPtr<INetFwRules> rules;
    const Bstr ruleName(name);
    const Bstr applicationName(application);
    const char* step = "create the rule object";
    hr = CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwRule), rule.out());
    if (SUCCEEDED(hr) && (ruleName.get() == nullptr || applicationName.get() == nullptr))
        hr = E_OUTOFMEMORY;
    if (SUCCEEDED(hr))
        step = "set the name", hr = rule->put_Name(ruleName.get());
    if (SUCCEEDED(hr))
        step = "set the application", hr = rule->put_ApplicationName(applicationName.get());
    if (SUCCEEDED(hr))
        step = "set the protocol", hr = rule->put_Protocol(protocol);
    if (SUCCEEDED(hr))
        step = "set the direction", hr = rule->put_Direction(static_cast<NET_FW_RULE_DIRECTION>(direction));
    if (SUCCEEDED(hr))
        step = "set the action", hr = rule->put_Action(block ? NET_FW_ACTION_BLOCK : NET_FW_ACTION_ALLOW);
    if (SUCCEEDED(hr))
        step = "enable the rule", hr = rule->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
    if (SUCCEEDED(hr))
        step = "get the rule list", hr = policy->get_Rules(rules.typedOut());
    if (SUCCEEDED(hr))
        step = "add the rule", hr = rules->Add(rule.get());
    if (FAILED(hr)) {
        LOG_WARN_W(L"SetFirewallRule: %s failed for %ls (0x%08lX)", step, name.c_str(), static_cast<unsigned long>(hr));
        return false;
    }
    // "Firewall rule added: <name>"
    WriteStdoutLine(L"\u9632\u706B\u5899\u89C4\u5219\u6DFB\u52A0\u6210\u529F: " + name);
    return true;
}
