// Utils on Windows: the system's converters, message tables, version and
// token queries, and CreateProcessW / ShellExecuteExW for processes. Functions
// that newer systems add are resolved by name so the program still starts on
// older ones.
#include "../utils.h"

#include "../file.h"
#include "../logger.h"
#include "../processtree.h"

#include "winhelpers.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cwchar>

#include <iphlpapi.h>
#include <psapi.h>
#include <shellapi.h>
#include <wincrypt.h>

namespace {

using fendrel::win32::ComScope;
using fendrel::win32::Handle;
using fendrel::win32::Resolve;

// Limits which inheritable handles a child receives to the ones it needs. A
// pipe end created by another thread at the same moment would otherwise be
// inherited too, and a reader waiting for end-of-pipe would wait for that
// unrelated child as well. Without the attribute list, plain inheritance.
class InheritOnly {
public:
    explicit InheritOnly(std::vector<HANDLE> handles) : m_handles(std::move(handles)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_buffer.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_buffer.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            return;
        }
        m_initialized = list;
        if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_handles.data(),
                                      m_handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
            m_list = list;
        }
    }
    ~InheritOnly() {
        if (m_initialized != nullptr) {
            DeleteProcThreadAttributeList(m_initialized);
        }
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;

    // Fills the extended start-up information; returns the creation flag it needs.
    DWORD Apply(STARTUPINFOEXW& info) const {
        info.lpAttributeList = m_list;
        return m_list != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0;
    }

private:
    std::vector<HANDLE> m_handles;
    std::vector<char> m_buffer;
    LPPROC_THREAD_ATTRIBUTE_LIST m_initialized = nullptr;
    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
};

std::wstring ToWide(UINT codePage, DWORD flags, const char* data, std::size_t size) {
    if (size == 0 || size > INT_MAX) {
        return {};
    }
    const int n = MultiByteToWideChar(codePage, flags, data, static_cast<int>(size), nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, data, static_cast<int>(size), &out[0], n);
    return out;
}

std::string FromWide(UINT codePage, const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::vector<wchar_t> Writable(const std::wstring& commandLine) {
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    return buffer;
}

// ShellExecuteExW, waiting until the launch is done; 0 and the process
// handle (null when the shell reused a running program), or the error number.
// No error dialog: the caller gets the number and reports it.
DWORD ShellLaunch(const std::wstring& file, const std::wstring& parameters, const std::wstring& verb, HANDLE& process) {
    ComScope com;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verb.empty() ? nullptr : verb.c_str();
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        const DWORD error = GetLastError();
        return error != 0 ? error : ERROR_GEN_FAILURE;
    }
    process = info.hProcess;
    return 0;
}

struct KernelVersion {
    bool known = false;
    WORD parts[4] = {};
};

KernelVersion ReadKernel32Version() {
    KernelVersion version;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(L"kernel32.dll", &ignored);
    if (size == 0) {
        return version;
    }
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(L"kernel32.dll", 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) {
        return version;
    }
    version.known = true;
    version.parts[0] = HIWORD(info->dwFileVersionMS);
    version.parts[1] = LOWORD(info->dwFileVersionMS);
    version.parts[2] = HIWORD(info->dwFileVersionLS);
    version.parts[3] = LOWORD(info->dwFileVersionLS);
    return version;
}

std::string ArchitectureName() {
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);  // the machine's, not this (maybe 32-bit) process's
    switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_INTEL: return "x86";
        case PROCESSOR_ARCHITECTURE_ARM: return "arm";
        case PROCESSOR_ARCHITECTURE_IA64: return "ia64";
        case PROCESSOR_ARCHITECTURE_AMD64: return "amd64";
        case 12: return "arm64";  // PROCESSOR_ARCHITECTURE_ARM64, missing from older headers
        default: return {};
    }
}

std::string ReadMachineGuid() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
        return {};
    }
    wchar_t value[256] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);  // room for a terminator the value may lack
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExW(key, L"MachineGuid", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? Utils::utf16ToUtf8(value) : std::string();
}

// Hardware values when there is no machine GUID: the network adapters'
// addresses, the processor's level and revision, the volume serial number of
// c:\ and the processor count, hashed with djb2.
std::string HardwareHash() {
    std::string adapters;
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) == ERROR_BUFFER_OVERFLOW && size > 0) {
        std::vector<BYTE> buffer(size);
        auto* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
        if (GetAdaptersInfo(adapter, &size) == NO_ERROR) {
            for (; adapter != nullptr; adapter = adapter->Next) {
                for (UINT i = 0; i < adapter->AddressLength; ++i) {
                    char hex[4];
                    std::snprintf(hex, sizeof(hex), "%02X", adapter->Address[i]);
                    adapters += hex;
                }
            }
        }
    }
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    DWORD serial = 0;
    GetVolumeInformationW(L"c:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);

    std::vector<char> text(adapters.size() + 32);
    std::snprintf(text.data(), text.size(), "%s%d%d", adapters.c_str(), info.wProcessorLevel, info.wProcessorRevision);
    std::uint32_t hash = 5381;
    for (const char* c = text.data(); *c != '\0'; ++c) {
        hash = hash * 33 + static_cast<unsigned char>(*c);
    }
    char result[64];
    std::snprintf(result, sizeof(result), "%ld-%d-%d", static_cast<long>(static_cast<std::int32_t>(hash)),
                  static_cast<int>(serial & 0x7FFFFFFF), static_cast<int>(info.dwNumberOfProcessors));
    return result;
}

}  // namespace

// ---------------------------------------------------------------- conversions

std::wstring Utils::utf8ToUtf16(const std::string& text) {
    return ToWide(CP_UTF8, 0, text.c_str(), std::char_traits<char>::length(text.c_str()));
}

std::string Utils::utf16ToUtf8(const std::wstring& text) {
    return FromWide(CP_UTF8, text);
}

std::wstring Utils::AnsiToUtf16(const std::string& text) {
    std::wstring out = ToWide(CP_ACP, MB_COMPOSITE, text.data(), text.size());
    // UTF-8 (the code page under the program's manifest) and a few others
    // refuse any flag: convert those without the composite mode.
    if (out.empty() && !text.empty() && GetLastError() == ERROR_INVALID_FLAGS) {
        out = ToWide(CP_ACP, 0, text.data(), text.size());
    }
    return out;
}

std::string Utils::Utf16ToAnsi(const std::wstring& text) {
    return FromWide(CP_ACP, text);
}

std::string Utils::Base64EncodeUTF8(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > UINT_MAX / 2) {
        return {};
    }
    const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD size = 0;
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size) || size == 0) {
        return {};
    }
    std::string out(size, '\0');
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, &out[0], &size)) {
        return {};
    }
    out.resize(size);  // the second call reports the length without the terminator
    return out;
}

std::wstring Utils::toLower(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return text;
    }
    const int n = LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) {
        return text;
    }
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::wstring Utils::hresultToWString(HRESULT code) {
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    wchar_t* message = nullptr;
    DWORD n = FormatMessageW(flags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(code), language,
                             reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    if (n == 0) {
        // COM's own codes live in its message table.
        HMODULE ole = GetModuleHandleW(L"ole32.dll");
        HMODULE loaded = ole == nullptr ? LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
        if (ole != nullptr || loaded != nullptr) {
            n = FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE, ole != nullptr ? ole : loaded, static_cast<DWORD>(code),
                               language, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
        }
        if (loaded != nullptr) {
            FreeLibrary(loaded);
        }
    }
    if (n != 0 && message != nullptr) {
        std::wstring text(message, n);
        LocalFree(message);
        return text;
    }
    if (message != nullptr) {
        LocalFree(message);
    }
    wchar_t fallback[40];
    std::swprintf(fallback, sizeof(fallback) / sizeof(fallback[0]), L"Unknown error (0x%08X)", static_cast<unsigned>(code));
    return fallback;
}

// ---------------------------------------------------------------- system facts

bool Utils::isNotWin8OrGreater() {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 2;
    version.wServicePackMajor = 0;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return !VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask);
}

bool Utils::Is64BitSystem() {
    if constexpr (sizeof(void*) == 8) {
        return true;  // a 64-bit program runs on 64-bit Windows only
    }
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = Resolve<IsWow64ProcessFn>(L"kernel32", "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::string Utils::GetSystem() {
    static const std::string text = [] {
        const KernelVersion version = ReadKernel32Version();
        return version.known ? std::to_string(version.parts[0]) + "." + std::to_string(version.parts[1]) : std::string(".");
    }();
    return text;
}

std::string Utils::GetKernelVersion() {
    // Opaque text for logs and reports: "NT <kernel32 file version> <architecture>".
    static const std::string text = [] {
        const KernelVersion version = ReadKernel32Version();
        std::string result = "NT";
        if (version.known) {
            result += " " + std::to_string(version.parts[0]) + "." + std::to_string(version.parts[1]) + "." +
                      std::to_string(version.parts[2]) + "." + std::to_string(version.parts[3]);
        }
        const std::string arch = ArchitectureName();
        if (!arch.empty()) {
            result += " " + arch;
        }
        return result;
    }();
    return text;
}

std::string Utils::generateHash() {
    static const std::string id = [] {
        std::string guid = ReadMachineGuid();
        if (!guid.empty()) {
            return guid;
        }
        LOG_INFO("No MachineGuid in the registry; using the hardware hash");
        return HardwareHash();
    }();
    return id;
}

int Utils::IsRunAsAdmin() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    BOOL member = FALSE;
    DWORD error = ERROR_SUCCESS;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators)) {
        error = GetLastError();
    } else {
        if (!CheckTokenMembership(nullptr, administrators, &member)) {
            error = GetLastError();
        }
        FreeSid(administrators);
    }
    if (error != ERROR_SUCCESS) {
        std::printf("Error detecting IsRunAsAdmin (%d)\n", static_cast<int>(error));
        return 0;
    }
    return member ? 1 : 0;
}

int Utils::IsProcessElevated() {
    Handle token;
    TOKEN_ELEVATION elevation{};
    DWORD size = sizeof(elevation);
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out()) ||
        !GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
        std::printf("Error detecting IsProcessElevated (%d)\n", static_cast<int>(GetLastError()));
        return 0;
    }
    return elevation.TokenIsElevated ? 1 : 0;
}

int Utils::enablePrivilege(const std::wstring& privilegeName) {
    Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.out())) {
        return 0;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, privilegeName.c_str(), &privileges.Privileges[0].Luid)) {
        return 0;
    }
    // Success can still mean "not assigned": the last error tells.
    if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr)) {
        return 0;
    }
    return GetLastError() == ERROR_NOT_ALL_ASSIGNED ? 0 : 1;
}

bool Utils::IsProcessRunning(const std::wstring& executablePath) {
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    for (;;) {
        const DWORD capacity = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!K32EnumProcesses(ids.data(), capacity, &bytes)) {
            return false;
        }
        if (bytes < capacity) {
            break;
        }
        ids.resize(ids.size() * 2);  // the list may have been cut off
    }
    ids.resize(bytes / sizeof(DWORD));

    const auto equalNoCase = [](const std::wstring& a, const std::wstring& b) {
        return a.size() <= INT_MAX && b.size() <= INT_MAX &&
               CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
                   CSTR_EQUAL;
    };
    const std::wstring wantedName = File::Name(executablePath);
    std::wstring image;
    for (DWORD id : ids) {
        Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        if (!process.valid()) {
            continue;  // protected or already gone
        }
        image.assign(32768, L'\0');
        DWORD size = static_cast<DWORD>(image.size());
        if (!QueryFullProcessImageNameW(process.get(), 0, &image[0], &size)) {
            continue;
        }
        image.resize(size);
        if (equalNoCase(File::Name(image), wantedName) && equalNoCase(image, executablePath)) {
            return true;
        }
    }
    return false;
}

int Utils::ChangeWndMessageFilterOk(unsigned int message, int allow) {
    using ChangeWindowMessageFilterFn = BOOL(WINAPI*)(UINT, DWORD);
    const auto change = Resolve<ChangeWindowMessageFilterFn>(L"user32.dll", "ChangeWindowMessageFilter");
    if (change == nullptr) {
        return 0;
    }
    return change(message, allow ? 1 /* MSGFLT_ADD */ : 2 /* MSGFLT_REMOVE */) ? 1 : 0;
}

LANGID Utils::UserDefaultLangId() {
    return GetUserDefaultLangID();
}

// ---------------------------------------------------------------- processes

DWORD Utils::runApp(const std::wstring& file, const std::wstring& parameters, const std::wstring& verb) {
    HANDLE process = nullptr;
    const DWORD error = ShellLaunch(file, parameters, verb, process);
    if (error != 0) {
        return error;
    }
    Handle owned(process);
    return owned.valid() ? GetProcessId(owned.get()) : 0;
}

DWORD Utils::CreateHiddenWindowProcess(const std::wstring& commandLine, void* reserved, HANDLE output) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    // The child gets its own inheritable duplicate: the caller's handle need
    // not be inheritable and stays untouched.
    Handle inheritable;
    if (output != nullptr && !DuplicateHandle(GetCurrentProcess(), output, GetCurrentProcess(), inheritable.out(), 0,
                                              TRUE, DUPLICATE_SAME_ACCESS)) {
        return GetLastError();
    }
    if (inheritable.valid()) {
        startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdOutput = inheritable.get();
        startup.StartupInfo.hStdError = inheritable.get();
    }
    InheritOnly handles({inheritable.get()});
    const DWORD extended = inheritable.valid() ? handles.Apply(startup) : 0;

    std::vector<wchar_t> line = Writable(commandLine);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, inheritable.valid(), CREATE_NO_WINDOW | extended,
                        nullptr, nullptr, &startup.StartupInfo, &info)) {
        return GetLastError();
    }
    CloseHandle(info.hThread);
    Handle process(info.hProcess);
    inheritable.reset();
    WaitForSingleObject(process.get(), INFINITE);
    return 0;
}

std::wstring Utils::CreateProcessWithReturnedData(const std::wstring& commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Handle readEnd, writeEnd;
    if (!CreatePipe(readEnd.out(), writeEnd.out(), &inherit, 0)) {
        return L"error|" + std::to_wstring(GetLastError());
    }
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    Handle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = input.valid() ? input.get() : nullptr;
    startup.StartupInfo.hStdOutput = writeEnd.get();
    startup.StartupInfo.hStdError = writeEnd.get();
    std::vector<HANDLE> inherited = {writeEnd.get()};
    if (input.valid()) {
        inherited.push_back(input.get());
    }
    InheritOnly handles(inherited);

    std::vector<wchar_t> line = Writable(commandLine);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW | handles.Apply(startup), nullptr,
                        nullptr, &startup.StartupInfo, &info)) {
        return L"error|" + std::to_wstring(GetLastError());
    }
    CloseHandle(info.hThread);
    Handle process(info.hProcess);
    // Only the child holds the write end now, so the reads end when it does.
    writeEnd.reset();
    input.reset();

    // Read while the child runs: it blocks as soon as it has written a pipe's worth.
    std::string output;
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(readEnd.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0) {
        output.append(buffer, n);
    }
    WaitForSingleObject(process.get(), INFINITE);
    return AnsiToUtf16(output);
}

DWORD Utils::CreateAndWaitProcessB(const std::wstring& commandLine, LPSTARTUPINFOW startupInfo) {
    return ProcessTree::ProcessTreeWaiter(std::wstring(), commandLine, startupInfo);
}
