// Windows half of the export tool: the Uninstall keys that "Apps and
// Features" lists, read with the registry API (Fendrel's registry service
// reads single strings; this needs key enumeration and DWORD values).
#include "bcu-console.h"

#include <windows.h>

#include <algorithm>
#include <memory>

namespace bcu {
namespace {

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Owns an open key from the line that opens it.
struct Key {
    HKEY handle = nullptr;
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (handle != nullptr)
            RegCloseKey(handle);
    }
};

std::string ErrorText(LONG code) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result = "error " + std::to_string(code);
    if (length > 0 && text != nullptr) {
        std::wstring message(text, length);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
            message.pop_back();
        result += " (" + ToUtf8(message.c_str()) + ")";
    }
    LocalFree(text);
    return result;
}

// A text value; REG_EXPAND_SZ is expanded, because the page runs the
// uninstall command and shows the location as the system would use them.
std::wstring ReadText(HKEY key, const wchar_t* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::wstring();
    // A value may grow between the two calls; ERROR_MORE_DATA asks again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        const LONG code =
            RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &bytes);
        if (code == ERROR_MORE_DATA) {
            size = bytes;
            continue;
        }
        if (code != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return std::wstring();
        value.resize(bytes / sizeof(wchar_t));
        value.resize(wcsnlen(value.c_str(), value.size()));  // stored with or without its NUL
        if (type == REG_EXPAND_SZ && !value.empty()) {
            const DWORD needed = ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
            if (needed > 0) {
                std::wstring expanded(needed, L'\0');
                if (ExpandEnvironmentStringsW(value.c_str(), &expanded[0], needed) == needed) {
                    expanded.resize(needed - 1);
                    return expanded;
                }
            }
        }
        return value;
    }
    return std::wstring();
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD type = 0, size = sizeof value;
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof value;
}

// One Uninstall key of one root and view. Entries without a name, parts
// of the system (SystemComponent = 1) and updates of another entry
// (ParentKeyName) are not programs a user would uninstall here, as in the
// system's own list.
void ListKey(Inventory& inventory, const Options& options, HKEY root, REGSAM view, const char* source) {
    Key key;
    const LONG opened = RegOpenKeyExW(root, kUninstall, 0, KEY_READ | view, &key.handle);
    if (opened == ERROR_FILE_NOT_FOUND) {
        inventory.sources.push_back({source, "missing", 0, "no Uninstall key"});
        if (options.verbose)
            Note("%s: no Uninstall key", source);
        return;
    }
    if (opened != ERROR_SUCCESS) {
        inventory.sources.push_back({source, "failed", 0, "the Uninstall key cannot be opened: " + ErrorText(opened)});
        Note("%s skipped: the Uninstall key cannot be opened: %s", source, ErrorText(opened).c_str());
        return;
    }
    std::size_t count = 0, unreadable = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];  // key names are at most 255 characters
        DWORD length = 256;
        const LONG code = RegEnumKeyExW(key.handle, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (code == ERROR_NO_MORE_ITEMS)
            break;
        if (code != ERROR_SUCCESS) {
            ++unreadable;
            if (code != ERROR_MORE_DATA)
                break;
            continue;
        }
        Key entry;
        if (RegOpenKeyExW(key.handle, name, 0, KEY_QUERY_VALUE | view, &entry.handle) != ERROR_SUCCESS) {
            ++unreadable;
            continue;
        }
        const std::wstring displayName = ReadText(entry.handle, L"DisplayName");
        DWORD systemComponent = 0;
        if (displayName.empty() || (ReadDword(entry.handle, L"SystemComponent", systemComponent) && systemComponent == 1) ||
            !ReadText(entry.handle, L"ParentKeyName").empty())
            continue;
        Program program;
        program.name = ToUtf8(displayName.c_str());
        program.version = ToUtf8(ReadText(entry.handle, L"DisplayVersion").c_str());
        program.publisher = ToUtf8(ReadText(entry.handle, L"Publisher").c_str());
        program.installLocation = ToUtf8(ReadText(entry.handle, L"InstallLocation").c_str());
        program.uninstallCommand = ToUtf8(ReadText(entry.handle, L"UninstallString").c_str());
        DWORD kib = 0;
        if (ReadDword(entry.handle, L"EstimatedSize", kib))
            program.estimatedSize = static_cast<std::int64_t>(kib) * 1024;  // the value is in KiB
        program.source = source;
        program.id = ToUtf8(name);
        inventory.programs.push_back(std::move(program));
        ++count;
    }
    if (unreadable > 0)
        Note("%s: %zu entries could not be read and were left out", source, unreadable);
    inventory.sources.push_back({source, "ok", count, std::string()});
    if (options.verbose)
        Note("%s: %zu programs", source, count);
}

bool Is64BitWindows() {
#if defined(_WIN64)
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

}  // namespace

Inventory CollectPrograms(const Options& options) {
    Inventory inventory;
    if (Is64BitWindows()) {
        ListKey(inventory, options, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "registry-machine-64");
        ListKey(inventory, options, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "registry-machine-32");
    } else {
        // A 32-bit system has one view; reading "both" would list it twice.
        ListKey(inventory, options, HKEY_LOCAL_MACHINE, 0, "registry-machine-32");
    }
    if (options.user)
        ListKey(inventory, options, HKEY_CURRENT_USER, 0, "registry-user");
    return inventory;
}

std::string ToUtf8(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(length - 1));
    return out;
}

namespace {

std::wstring ToWide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 1)
        return std::wstring();
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], length);
    out.resize(static_cast<std::size_t>(length - 1));
    return out;
}

}  // namespace

std::string SystemName() {
    // GetVersionEx answers what the manifest allows; the kernel's own
    // numbers come from RtlGetVersion.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto rtlGetVersion =
        ntdll != nullptr ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                         : nullptr;
    std::string name = "Windows";
    if (rtlGetVersion != nullptr && rtlGetVersion(&info) == 0)
        name += " " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
                std::to_string(info.dwBuildNumber);
    return name + (Is64BitWindows() ? " x86-64" : " x86");
}

bool ReplaceFileContents(const std::string& path, const std::string& bytes, std::string& error) {
    const std::wstring target = ToWide(path);
    if (target.empty()) {
        error = "the file name is not valid UTF-8";
        return false;
    }
    const std::wstring temp = target + L".part" + std::to_wstring(GetCurrentProcessId());
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = ErrorText(static_cast<LONG>(GetLastError()));
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = ok && FlushFileBuffers(file);
    LONG code = ok ? ERROR_SUCCESS : static_cast<LONG>(GetLastError());
    CloseHandle(file);
    if (ok && !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        code = static_cast<LONG>(GetLastError());
    }
    if (!ok) {
        error = ErrorText(code);
        DeleteFileW(temp.c_str());
    }
    return ok;
}

}  // namespace bcu
