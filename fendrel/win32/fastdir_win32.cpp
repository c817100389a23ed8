// The walker's listing on Windows: NtOpenFile and NtQueryDirectoryFile
// (resolved from ntdll at run time) with many entries per call into a
// 64 KiB per-thread buffer; long "\\?\" forms reach past MAX_PATH. SHA-512
// through CNG, the algorithm opened once per process.
#include "../fastdir.h"
#include "../sha512state.h"

#include "../logger.h"

#include <bcrypt.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <mutex>

namespace FastDir {

namespace {

struct NtUnicodeString {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};

struct NtObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    NtUnicodeString* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};

struct NtIoStatusBlock {
    union {
        LONG Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};

struct FileFullDirInformation {
    ULONG NextEntryOffset;
    ULONG FileIndex;
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    LARGE_INTEGER EndOfFile;
    LARGE_INTEGER AllocationSize;
    ULONG FileAttributes;
    ULONG FileNameLength;
    ULONG EaSize;  // the reparse tag when the entry is a reparse point
    WCHAR FileName[1];
};

using NtOpenFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, NtObjectAttributes*, NtIoStatusBlock*, ULONG, ULONG);
using NtQueryDirectoryFileFn = LONG(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, NtIoStatusBlock*, PVOID, ULONG, int,
                                            BOOLEAN, NtUnicodeString*, BOOLEAN);
using NtCloseFn = LONG(NTAPI*)(HANDLE);

struct NtFunctions {
    NtOpenFileFn open = nullptr;
    NtQueryDirectoryFileFn query = nullptr;
    NtCloseFn close = nullptr;
};

const NtFunctions& Nt() {
    static const NtFunctions functions = [] {
        NtFunctions f;
        if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
            f.open = reinterpret_cast<NtOpenFileFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtOpenFile")));
            f.query = reinterpret_cast<NtQueryDirectoryFileFn>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryDirectoryFile")));
            f.close = reinterpret_cast<NtCloseFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtClose")));
        }
        if (f.open == nullptr || f.query == nullptr || f.close == nullptr)
            Logger_Error("fendrel/fastdir", __LINE__, "the native directory query is not available");
        return f;
    }();
    return functions;
}

// "C:\x" → "\??\C:\x", "\\?\C:\x" → "\??\C:\x", "\\srv\s" → "\??\UNC\srv\s".
std::wstring NtPath(const std::wstring& path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return L"\\??\\" + path.substr(4);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return L"\\??\\" + path;
    if (path.size() == 2 && path[1] == L':')
        return L"\\??\\" + path + L"\\";
    if (path.compare(0, 2, L"\\\\") == 0)
        return L"\\??\\UNC\\" + path.substr(2);
    return path;
}

// The form CreateFileW and friends take for any length.
std::wstring LongPath(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return L"\\\\?\\" + path;
    if (path.compare(0, 2, L"\\\\") == 0 && path.compare(0, 4, L"\\\\?\\") != 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    return path;
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

std::wstring CharUpperCopy(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towupper(c));
    return text;
}

std::uint64_t FromLarge(const LARGE_INTEGER& value) {
    return static_cast<std::uint64_t>(value.QuadPart);
}

}  // namespace

bool List(const std::wstring& folder, const std::function<bool(const Entry&)>& visit) {
    const NtFunctions& nt = Nt();
    if (nt.open == nullptr)
        return false;
    std::wstring object = NtPath(folder);
    NtUnicodeString name{static_cast<USHORT>(object.size() * sizeof(wchar_t)),
                         static_cast<USHORT>(object.size() * sizeof(wchar_t)), object.data()};
    NtObjectAttributes attributes{sizeof(NtObjectAttributes), nullptr, &name, 0x40 /* case-insensitive */, nullptr,
                                  nullptr};
    NtIoStatusBlock io{};
    HANDLE handle = nullptr;
    const LONG opened = nt.open(&handle, SYNCHRONIZE | FILE_LIST_DIRECTORY, &attributes, &io,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0x4021);
    if (opened < 0 || handle == nullptr)
        return false;

    thread_local std::unique_ptr<unsigned char[]> buffer(new unsigned char[65536]);
    Entry entry;
    bool restart = true;
    for (bool going = true; going;) {
        const LONG status = nt.query(handle, nullptr, nullptr, nullptr, &io, buffer.get(), 65536,
                                     2 /* FileFullDirectoryInformation */, FALSE, nullptr, restart ? TRUE : FALSE);
        restart = false;
        if (status < 0)
            break;  // no more files, or a read error: the walk goes on elsewhere
        for (const unsigned char* at = buffer.get();;) {
            const auto* info = reinterpret_cast<const FileFullDirInformation*>(at);
            std::size_t length = info->FileNameLength / sizeof(wchar_t);
            if (length > 0 && info->FileName[length - 1] == L'\0')
                --length;
            entry.name.assign(info->FileName, length);
            const bool dot = entry.name == L"." || entry.name == L"..";
            if (!dot) {
                entry.attributes = info->FileAttributes;
                entry.reparseTag = (info->FileAttributes & kAttrReparsePoint) != 0 ? info->EaSize : 0;
                entry.logicalSize = FromLarge(info->EndOfFile);
                entry.physicalSize = FromLarge(info->AllocationSize);
                entry.lastWrite = FromLarge(info->LastWriteTime);
                if (!entry.IsDirectory() && entry.physicalSize == 0 && entry.logicalSize != 0) {
                    // Compressed or cloud files report no allocation here.
                    DWORD high = 0;
                    const DWORD low = GetCompressedFileSizeW(LongPath(Joined(folder, entry.name)).c_str(), &high);
                    if (!(low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR))
                        entry.physicalSize = (static_cast<std::uint64_t>(high) << 32) | low;
                }
                going = visit(entry);
            }
            if (!going || info->NextEntryOffset == 0)
                break;
            at += info->NextEntryOffset;
        }
    }
    nt.close(handle);
    return true;
}

std::wstring VolumeKey(const std::wstring& path) {
    std::wstring plain = path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
    if (plain.compare(0, 4, L"UNC\\") == 0)
        plain = L"\\\\" + plain.substr(4);
    if (plain.size() >= 2 && plain[1] == L':')
        return std::wstring(1, static_cast<wchar_t>(towupper(plain[0]))) + L":";
    if (plain.compare(0, 2, L"\\\\") == 0)
        return CharUpperCopy(plain.substr(2, plain.find(L'\\', 2) - 2));
    wchar_t volume[MAX_PATH + 1] = {};
    if (GetVolumePathNameW(LongPath(plain).c_str(), volume, MAX_PATH))
        return CharUpperCopy(volume);
    return CharUpperCopy(plain);
}

FileReader::FileReader(const std::wstring& path) {
    HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(file);
        return;
    }
    id = {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    lastWrite =
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    m_handle = reinterpret_cast<std::intptr_t>(file);
    m_open = true;
}

FileReader::~FileReader() {
    if (m_open)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

std::int64_t FileReader::ReadSome(void* buffer, std::size_t want) {
    DWORD part = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(want, 1u << 30));
    if (!::ReadFile(reinterpret_cast<HANDLE>(m_handle), buffer, ask, &part, nullptr))
        return -1;
    return part;
}

namespace {

struct Sha512Provider {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    DWORD length = 0;
};

const Sha512Provider& Provider() {
    static const Sha512Provider provider = [] {
        Sha512Provider p;
        if (BCryptOpenAlgorithmProvider(&p.algorithm, BCRYPT_SHA512_ALGORITHM, MS_PRIMITIVE_PROVIDER,
                                        BCRYPT_HASH_REUSABLE_FLAG) != 0) {
            Logger_Error("fendrel/fastdir", __LINE__, "SHA-512 is not available");
            p.algorithm = nullptr;
            return p;
        }
        ULONG got = 0;
        if (BCryptGetProperty(p.algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&p.length), sizeof(p.length),
                              &got, 0) != 0)
            p.length = 64;
        return p;
    }();
    return provider;
}

}  // namespace

struct Sha512State::Impl {
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha512State::Sha512State() : m_impl(std::make_unique<Impl>()) {
    const Sha512Provider& provider = Provider();
    m_ok = provider.algorithm != nullptr &&
           BCryptCreateHash(provider.algorithm, &m_impl->hash, nullptr, 0, nullptr, 0, 0) == 0;
}

Sha512State::~Sha512State() {
    if (m_impl->hash != nullptr)
        BCryptDestroyHash(m_impl->hash);
}

bool Sha512State::Update(const void* data, std::size_t size) {
    return m_ok && BCryptHashData(m_impl->hash, static_cast<PUCHAR>(const_cast<void*>(data)),
                                  static_cast<ULONG>(size), 0) == 0;
}

std::vector<std::uint8_t> Sha512State::Finish() {
    if (!m_ok)
        return {};
    std::vector<std::uint8_t> out(Provider().length);
    if (BCryptFinishHash(m_impl->hash, out.data(), static_cast<ULONG>(out.size()), 0) != 0)
        return {};
    return out;
}

}  // namespace FastDir
