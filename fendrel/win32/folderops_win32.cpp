// Windows folder services: mount-point reparse points through
// DeviceIoControl, the shell's file operation for tree copies (with the older
// SHFileOperationW where IFileOperation cannot run), own walks that never
// enter a reparse point, the shell's known folders and the profile functions.
#include "../folderops.h"

#include "../logger.h"
#include "../utils.h"
#include "winhelpers.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <winioctl.h>

#include <cstddef>
#include <map>
#include <mutex>
#include <vector>

using fendrel::win32::ComScope;
using fendrel::win32::Handle;
using fendrel::win32::Resolve;

namespace {

constexpr DWORD kMountPointTag = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT
constexpr DWORD kOperationFlags = 0x10100414;  // silent, no confirmation, no error UI, early failure, elevation
constexpr std::size_t kMaxReparse = 16 * 1024;

// The mount-point form of the reparse data (the SDK keeps it in a DDK header).
struct MountPointData {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    WCHAR path[1];
};
constexpr std::size_t kReparseHeader = 8;
constexpr std::size_t kMountPointHeader = offsetof(MountPointData, path);

std::mutex g_faultLock;
FolderOps::Faults g_faults;

FolderOps::Faults CurrentFaults() {
    std::lock_guard<std::mutex> lock(g_faultLock);
    return g_faults;
}

bool Fault() {
    if (CurrentFaults().killAtFault)
        TerminateProcess(GetCurrentProcess(), 9);
    return false;
}

// File-system calls take long paths with the "\\?\" prefix; shell calls do not.
std::wstring Long(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return L"\\\\?\\" + path;
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\' && path.compare(0, 4, L"\\\\?\\") != 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    return path;
}

DWORD Attributes(const std::wstring& path) {
    return GetFileAttributesW(Long(path).c_str());
}

std::wstring Parent(const std::wstring& path) {
    const auto at = path.find_last_of(L'\\');
    if (at == std::wstring::npos)
        return {};
    if (at == 2 && path[1] == L':')
        return path.substr(0, 3);
    return path.substr(0, at);
}

std::wstring ExistingAncestor(std::wstring path) {
    while (!path.empty() && Attributes(path) == INVALID_FILE_ATTRIBUTES) {
        const std::wstring parent = Parent(path);
        if (parent == path)
            break;
        path = parent;
    }
    return path;
}

template <typename Visit>
bool ForEachEntry(const std::wstring& folder, Visit visit) {
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileExW(Long(folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0)
            continue;
        if (!visit(data)) {
            ok = false;
            break;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return ok;
}

void MeasureInto(const std::wstring& folder, FolderOps::Tally& tally) {
    const bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& data) {
        const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (directory && !reparse) {
            MeasureInto(folder + L"\\" + data.cFileName, tally);
        } else {
            ++tally.files;
            if (!reparse)
                tally.bytes += (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        return true;
    });
    if (!listed && GetLastError() != ERROR_FILE_NOT_FOUND)
        tally.complete = false;
}

bool DeleteInside(const std::wstring& folder, std::int64_t& count, std::int64_t failAfter) {
    bool ok = true;
    bool stopped = false;
    const bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& data) {
        const std::wstring path = folder + L"\\" + data.cFileName;
        const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(Long(path).c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (directory) {
            // A junction or directory link goes by itself, its target stays.
            if (!reparse && !DeleteInside(path, count, failAfter)) {
                ok = false;
                if (failAfter >= 0 && count >= failAfter) {
                    stopped = true;
                    return false;
                }
                return true;
            }
            if (!RemoveDirectoryW(Long(path).c_str())) {
                Logger_WarnWF(__FILE__, __LINE__, L"cannot remove the folder %ls (%lu)", path.c_str(), GetLastError());
                ok = false;
            }
            return true;
        }
        if (failAfter >= 0 && count >= failAfter) {
            Logger_WarnWF(__FILE__, __LINE__, L"deletion of %ls stopped by the test fault", folder.c_str());
            stopped = true;
            ok = Fault();
            return false;
        }
        if (!DeleteFileW(Long(path).c_str())) {
            Logger_WarnWF(__FILE__, __LINE__, L"cannot remove %ls (%lu)", path.c_str(), GetLastError());
            ok = false;
            return true;
        }
        ++count;
        return true;
    });
    if (!listed && !stopped && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_NO_MORE_FILES) {
        Logger_WarnWF(__FILE__, __LINE__, L"cannot list %ls (%lu)", folder.c_str(), GetLastError());
        return false;
    }
    return ok && !stopped;
}

// Removes from the copy what has a counterpart in the original (which may
// be empty: none). True when everything went.
bool RemoveCopiedInside(const std::wstring& copy, const std::wstring& original) {
    bool all = true;
    ForEachEntry(copy, [&](const WIN32_FIND_DATAW& data) {
        const std::wstring path = copy + L"\\" + data.cFileName;
        const std::wstring twinPath = original.empty() ? std::wstring() : original + L"\\" + data.cFileName;
        WIN32_FILE_ATTRIBUTE_DATA twin{};
        const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const bool hasTwin = !twinPath.empty() &&
                             GetFileAttributesExW(Long(twinPath).c_str(), GetFileExInfoStandard, &twin) &&
                             ((twin.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == directory;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(Long(path).c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (directory) {
            if (!reparse && !RemoveCopiedInside(path, hasTwin ? twinPath : std::wstring())) {
                all = false;
                return true;
            }
            if (!RemoveDirectoryW(Long(path).c_str())) {
                Logger_WarnWF(__FILE__, __LINE__, L"cannot remove the folder %ls (%lu)", path.c_str(), GetLastError());
                all = false;
            }
            return true;
        }
        const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        const std::uint64_t twinSize = (static_cast<std::uint64_t>(twin.nFileSizeHigh) << 32) | twin.nFileSizeLow;
        if (hasTwin && size <= twinSize) {
            if (!DeleteFileW(Long(path).c_str())) {
                Logger_WarnWF(__FILE__, __LINE__, L"cannot remove %ls (%lu)", path.c_str(), GetLastError());
                all = false;
            }
        } else {
            Logger_WarnWF(__FILE__, __LINE__, L"%ls is no part of the copy and stays", path.c_str());
            all = false;
        }
        return true;
    });
    return all;
}

bool CopyWithShellOperation(const std::wstring& from, const std::wstring& to, HRESULT& hr) {
    ComScope com;
    IFileOperation* operation = nullptr;
    hr = CoCreateInstance(CLSID_FileOperation, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&operation));
    if (FAILED(hr))
        return false;
    IShellItem* source = nullptr;
    IShellItem* parent = nullptr;
    const std::wstring leaf = to.substr(to.find_last_of(L'\\') + 1);
    hr = operation->SetOperationFlags(kOperationFlags);
    if (SUCCEEDED(hr))
        hr = SHCreateItemFromParsingName(from.c_str(), nullptr, IID_PPV_ARGS(&source));
    if (SUCCEEDED(hr))
        hr = SHCreateItemFromParsingName(Parent(to).c_str(), nullptr, IID_PPV_ARGS(&parent));
    if (SUCCEEDED(hr))
        hr = operation->CopyItem(source, parent, leaf.c_str(), nullptr);
    if (SUCCEEDED(hr))
        hr = operation->PerformOperations();
    BOOL aborted = FALSE;
    if (SUCCEEDED(hr) && SUCCEEDED(operation->GetAnyOperationsAborted(&aborted)) && aborted)
        hr = E_ABORT;
    if (source)
        source->Release();
    if (parent)
        parent->Release();
    operation->Release();
    return SUCCEEDED(hr);
}

bool CopyWithOldShell(const std::wstring& from, const std::wstring& to) {
    std::wstring fromList = from + L'\0';  // double-null terminated lists
    std::wstring toList = to + L'\0';
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_COPY;
    op.pFrom = fromList.c_str();
    op.pTo = toList.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR;
    const int result = SHFileOperationW(&op);
    if (result != 0 || op.fAnyOperationsAborted) {
        Logger_WarnWF(__FILE__, __LINE__, L"SHFileOperationW could not copy %ls to %ls (%d)", from.c_str(), to.c_str(),
                      result);
        return false;
    }
    return true;
}

bool ParseId(const std::wstring& folderId, GUID& id) {
    return !folderId.empty() && folderId[0] == L'{' && SUCCEEDED(CLSIDFromString(folderId.c_str(), &id));
}

std::wstring KnownPath(const std::wstring& folderId, DWORD flags) {
    GUID id{};
    if (!ParseId(folderId, id))
        return {};
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, flags, nullptr, &path);
    std::wstring out = SUCCEEDED(hr) && path != nullptr ? std::wstring(path) : std::wstring();
    CoTaskMemFree(path);
    return out;
}

// Opens the path itself, never what a reparse point names.
Handle OpenReparse(const std::wstring& path, DWORD access) {
    return Handle(CreateFileW(Long(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
}

}  // namespace

// ------------------------------------------------------------------ FolderOps

FolderOps::Tally FolderOps::Measure(const std::wstring& folder) {
    Tally tally;
    if (!IsDirectory(folder)) {
        tally.complete = false;
        return tally;
    }
    MeasureInto(folder, tally);
    return tally;
}

bool FolderOps::Exists(const std::wstring& path) {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool FolderOps::IsDirectory(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool FolderOps::IsLink(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool FolderOps::IsEmptyDirectory(const std::wstring& path) {
    if (!IsDirectory(path))
        return false;
    bool empty = true;
    ForEachEntry(path, [&](const WIN32_FIND_DATAW&) {
        empty = false;
        return false;
    });
    return empty;
}

bool FolderOps::CreateFolder(const std::wstring& path) {
    if (IsDirectory(path))
        return true;
    const std::wstring parent = Parent(path);
    if (!parent.empty() && parent != path && !Exists(parent) && !CreateFolder(parent))
        return false;
    if (CreateDirectoryW(Long(path).c_str(), nullptr) || IsDirectory(path))
        return true;
    Logger_WarnWF(__FILE__, __LINE__, L"cannot create the folder %ls (%lu)", path.c_str(), GetLastError());
    return false;
}

bool FolderOps::SetHidden(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return SetFileAttributesW(Long(path).c_str(), attributes | FILE_ATTRIBUTE_HIDDEN) != FALSE;
}

std::wstring FolderOps::RealPath(const std::wstring& path) {
    std::wstring head = path;
    std::wstring rest;
    while (!head.empty()) {
        Handle file(CreateFileW(Long(head).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (file.valid()) {
            std::vector<wchar_t> buffer(32768);
            const DWORD n = GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            if (n > 0 && n < buffer.size()) {
                std::wstring out(buffer.data(), n);
                if (out.compare(0, 8, L"\\\\?\\UNC\\") == 0)
                    out = L"\\\\" + out.substr(8);
                else if (out.compare(0, 4, L"\\\\?\\") == 0)
                    out = out.substr(4);
                if (!rest.empty())
                    out += (out.back() == L'\\' ? L"" : L"\\") + rest;
                return out;
            }
        }
        const std::wstring parent = Parent(head);
        if (parent.empty() || parent == head)
            return {};
        const std::wstring leaf = head.substr(head.find_last_of(L'\\') + 1);
        rest = rest.empty() ? leaf : leaf + L"\\" + rest;
        head = parent;
    }
    return {};
}

bool FolderOps::SameVolume(const std::wstring& a, const std::wstring& b) {
    if (CurrentFaults().forceCopy)
        return false;
    wchar_t va[MAX_PATH + 1] = {}, vb[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(ExistingAncestor(a).c_str(), va, MAX_PATH) ||
        !GetVolumePathNameW(ExistingAncestor(b).c_str(), vb, MAX_PATH))
        return false;
    return lstrcmpiW(va, vb) == 0;
}

std::int64_t FolderOps::FreeBytes(const std::wstring& path) {
    if (CurrentFaults().freeBytes >= 0)
        return CurrentFaults().freeBytes;
    ULARGE_INTEGER available{};
    const std::wstring at = ExistingAncestor(path);
    if (!GetDiskFreeSpaceExW(at.c_str(), &available, nullptr, nullptr)) {
        Logger_WarnWF(__FILE__, __LINE__, L"free space of %ls unknown (%lu)", at.c_str(), GetLastError());
        return -1;
    }
    return static_cast<std::int64_t>(available.QuadPart);
}

bool FolderOps::Rename(const std::wstring& from, const std::wstring& to) {
    if (MoveFileExW(Long(from).c_str(), Long(to).c_str(), 0))
        return true;
    Logger_WarnWF(__FILE__, __LINE__, L"cannot rename %ls to %ls (%lu)", from.c_str(), to.c_str(), GetLastError());
    return false;
}

bool FolderOps::CopyTree(const std::wstring& from, const std::wstring& to) {
    if (Exists(to)) {
        Logger_WarnWF(__FILE__, __LINE__, L"cannot copy %ls: %ls exists", from.c_str(), to.c_str());
        return false;
    }
    HRESULT hr = S_OK;
    if (CopyWithShellOperation(from, to, hr))
        return true;
    if (hr != E_NOTIMPL && hr != REGDB_E_CLASSNOTREG && hr != CO_E_NOTINITIALIZED) {
        Logger_WarnWF(__FILE__, __LINE__, L"the file operation could not copy %ls to %ls: %ls", from.c_str(),
                      to.c_str(), Utils::hresultToWString(hr).c_str());
        return false;
    }
    Logger_InfoWF(__FILE__, __LINE__, L"IFileOperation cannot run (0x%08lX); copying with SHFileOperationW",
                  static_cast<unsigned long>(hr));
    return CopyWithOldShell(from, to);
}

bool FolderOps::DeleteTree(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(Long(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (DeleteFileW(Long(path).c_str()))
            return true;
        Logger_WarnWF(__FILE__, __LINE__, L"cannot remove %ls (%lu)", path.c_str(), GetLastError());
        return false;
    }
    std::int64_t count = 0;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !DeleteInside(path, count, CurrentFaults().deleteFailAfterFiles))
        return false;
    if (RemoveDirectoryW(Long(path).c_str()))
        return true;
    Logger_WarnWF(__FILE__, __LINE__, L"cannot remove the folder %ls (%lu)", path.c_str(), GetLastError());
    return false;
}

bool FolderOps::RemovePartialCopy(const std::wstring& copy, const std::wstring& original) {
    const DWORD attributes = Attributes(copy);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        Logger_WarnWF(__FILE__, __LINE__, L"%ls is no folder copy to take back", copy.c_str());
        return false;
    }
    if (!RemoveCopiedInside(copy, IsDirectory(original) ? original : std::wstring()))
        return false;
    if (RemoveDirectoryW(Long(copy).c_str()))
        return true;
    Logger_WarnWF(__FILE__, __LINE__, L"cannot remove the folder %ls (%lu)", copy.c_str(), GetLastError());
    return false;
}

bool FolderOps::CreateJunction(const std::wstring& path, const std::wstring& target) {
    if (CurrentFaults().failJunction) {
        Logger_WarnWF(__FILE__, __LINE__, L"junction at %ls refused by the test fault", path.c_str());
        return Fault();
    }
    bool created = false;
    if (Exists(path)) {
        if (!IsEmptyDirectory(path)) {
            Logger_WarnWF(__FILE__, __LINE__, L"cannot put a junction at %ls: it is no empty folder", path.c_str());
            return false;
        }
    } else if (CreateDirectoryW(Long(path).c_str(), nullptr)) {
        created = true;
    } else {
        Logger_WarnWF(__FILE__, __LINE__, L"cannot create the folder %ls for a junction (%lu)", path.c_str(),
                      GetLastError());
        return false;
    }
    const std::wstring substitute = L"\\??\\" + target;
    const std::size_t pathBytes = (substitute.size() + 1 + target.size() + 1) * sizeof(WCHAR);
    std::vector<BYTE> buffer(kMountPointHeader + pathBytes);
    auto* data = reinterpret_cast<MountPointData*>(buffer.data());
    data->tag = kMountPointTag;
    data->dataLength = static_cast<WORD>(kMountPointHeader - kReparseHeader + pathBytes);
    data->substituteOffset = 0;
    data->substituteLength = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    data->printOffset = static_cast<WORD>((substitute.size() + 1) * sizeof(WCHAR));
    data->printLength = static_cast<WORD>(target.size() * sizeof(WCHAR));
    memcpy(data->path, substitute.c_str(), (substitute.size() + 1) * sizeof(WCHAR));
    memcpy(data->path + substitute.size() + 1, target.c_str(), (target.size() + 1) * sizeof(WCHAR));

    DWORD error = ERROR_SUCCESS;
    if (buffer.size() > kMaxReparse) {
        error = ERROR_FILENAME_EXCED_RANGE;
    } else {
        Handle file = OpenReparse(path, GENERIC_WRITE);
        DWORD returned = 0;
        if (!file.valid() || !DeviceIoControl(file.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                              static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr))
            error = GetLastError();
    }
    if (error == ERROR_SUCCESS)
        return true;
    if (created)
        RemoveDirectoryW(Long(path).c_str());
    Logger_WarnWF(__FILE__, __LINE__, L"cannot make the junction %ls -> %ls (%lu)", path.c_str(), target.c_str(),
                  error);
    return false;
}

bool FolderOps::DeleteJunction(const std::wstring& path) {
    Handle file = OpenReparse(path, GENERIC_WRITE);
    REPARSE_GUID_DATA_BUFFER header{};
    header.ReparseTag = kMountPointTag;
    DWORD returned = 0;
    if (file.valid() && DeviceIoControl(file.get(), FSCTL_DELETE_REPARSE_POINT, &header,
                                        REPARSE_GUID_DATA_BUFFER_HEADER_SIZE, nullptr, 0, &returned, nullptr))
        return true;
    Logger_WarnWF(__FILE__, __LINE__, L"cannot remove the junction %ls (%lu)", path.c_str(), GetLastError());
    return false;
}

std::wstring FolderOps::JunctionTarget(const std::wstring& path) {
    if (!IsLink(path))
        return {};
    Handle file = OpenReparse(path, 0);
    if (!file.valid())
        return {};
    std::vector<BYTE> buffer(kMaxReparse);
    DWORD returned = 0;
    if (!DeviceIoControl(file.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &returned, nullptr) ||
        returned < kMountPointHeader)
        return {};
    const auto* data = reinterpret_cast<const MountPointData*>(buffer.data());
    if (data->tag != kMountPointTag ||
        kMountPointHeader + data->substituteOffset + data->substituteLength > returned)
        return {};
    std::wstring target(data->path + data->substituteOffset / sizeof(WCHAR), data->substituteLength / sizeof(WCHAR));
    if (target.compare(0, 4, L"\\??\\") == 0)
        target = target.substr(4);
    return target;
}

bool FolderOps::IsJunction(const std::wstring& path) {
    return !JunctionTarget(path).empty();
}

void FolderOps::SetFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(g_faultLock);
    g_faults = faults;
}

FolderOps::Faults FolderOps::GetFaults() {
    return CurrentFaults();
}

// ----------------------------------------------------------- KnownFolderPaths

std::wstring KnownFolderPaths::Path(const std::wstring& folderId) {
    return KnownPath(folderId, 0);
}

std::wstring KnownFolderPaths::DefaultPath(const std::wstring& folderId) {
    std::wstring path = KnownPath(folderId, KF_FLAG_DEFAULT_PATH | KF_FLAG_NOT_PARENT_RELATIVE);
    if (!path.empty())
        return path;
    // Shells without the default-path flags (Wine among them): the folder's
    // definition names its parent folder and its path relative to it.
    GUID id{};
    if (!ParseId(folderId, id))
        return {};
    ComScope com;
    IKnownFolderManager* manager = nullptr;
    IKnownFolder* folder = nullptr;
    KNOWNFOLDER_DEFINITION definition{};
    bool defined = false;
    if (SUCCEEDED(CoCreateInstance(CLSID_KnownFolderManager, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&manager))) &&
        SUCCEEDED(manager->GetFolder(id, &folder)) && SUCCEEDED(folder->GetFolderDefinition(&definition))) {
        defined = true;
        if (definition.pszRelativePath != nullptr && definition.fidParent != GUID_NULL) {
            PWSTR parent = nullptr;
            if (SUCCEEDED(SHGetKnownFolderPath(definition.fidParent, 0, nullptr, &parent)) && parent != nullptr)
                path = std::wstring(parent) + L"\\" + definition.pszRelativePath;
            CoTaskMemFree(parent);
        }
    }
    if (defined)
        FreeKnownFolderDefinitionFields(&definition);
    if (folder)
        folder->Release();
    if (manager)
        manager->Release();
    if (path.empty())
        Logger_WarnWF(__FILE__, __LINE__, L"the shell knows no default location of %ls", folderId.c_str());
    else
        Logger_InfoWF(__FILE__, __LINE__, L"default location of %ls taken from its definition: %ls",
                      folderId.c_str(), path.c_str());
    return path;
}

bool KnownFolderPaths::SetPath(const std::wstring& folderId, const std::wstring& path) {
    GUID id{};
    if (!ParseId(folderId, id)) {
        Logger_WarnWF(__FILE__, __LINE__, L"%ls is no folder id", folderId.c_str());
        return false;
    }
    using SetFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PCWSTR);
    if (auto set = Resolve<SetFunction>(L"shell32.dll", "SHSetKnownFolderPath")) {
        const HRESULT hr = set(id, 0, nullptr, path.c_str());
        if (SUCCEEDED(hr))
            return true;
        Logger_WarnWF(__FILE__, __LINE__, L"SHSetKnownFolderPath %ls -> %ls: %ls", folderId.c_str(), path.c_str(),
                      Utils::hresultToWString(hr).c_str());
        return false;
    }
    Logger_InfoWF(__FILE__, __LINE__, L"shell32 has no SHSetKnownFolderPath; using IKnownFolder::SetPath");
    ComScope com;
    IKnownFolderManager* manager = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_KnownFolderManager, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&manager));
    IKnownFolder* folder = nullptr;
    if (SUCCEEDED(hr))
        hr = manager->GetFolder(id, &folder);
    if (SUCCEEDED(hr))
        hr = folder->SetPath(0, path.c_str());
    if (folder)
        folder->Release();
    if (manager)
        manager->Release();
    if (SUCCEEDED(hr))
        return true;
    Logger_WarnWF(__FILE__, __LINE__, L"IKnownFolder::SetPath %ls -> %ls: %ls", folderId.c_str(), path.c_str(),
                  Utils::hresultToWString(hr).c_str());
    return false;
}

std::wstring KnownFolderPaths::DisplayName(const std::wstring& folderId) {
    GUID id{};
    if (!ParseId(folderId, id))
        return {};
    ComScope com;
    IShellItem* item = nullptr;
    std::wstring out;
    if (SUCCEEDED(SHGetKnownFolderItem(id, KF_FLAG_DEFAULT, nullptr, IID_PPV_ARGS(&item)))) {
        PWSTR name = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_NORMALDISPLAY, &name)) && name != nullptr)
            out = name;
        CoTaskMemFree(name);
        item->Release();
    }
    return out;
}

// ----------------------------------------------------------------- RecordFile

bool RecordFile::ReadSection(const std::wstring& file, const std::wstring& section, Pairs& pairs) {
    pairs.clear();
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
    // A section of any length: grow until the text fits.
    std::vector<wchar_t> buffer(4096);
    DWORD n = 0;
    for (;;) {
        n = GetPrivateProfileSectionW(section.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
        if (n + 2 < buffer.size() || buffer.size() >= (1u << 26))
            break;
        buffer.resize(buffer.size() * 4);
    }
    std::map<std::wstring, std::size_t> index;
    for (const wchar_t* line = buffer.data(); line < buffer.data() + n && *line != 0; line += wcslen(line) + 1) {
        const std::wstring text = line;
        const auto eq = text.find(L'=');
        if (eq == std::wstring::npos)
            continue;
        const std::wstring key = text.substr(0, eq);
        auto found = index.find(key);
        if (found != index.end()) {
            pairs[found->second].second = text.substr(eq + 1);
        } else {
            index[key] = pairs.size();
            pairs.emplace_back(key, text.substr(eq + 1));
        }
    }
    return true;
}

bool RecordFile::WriteSections(const std::wstring& file,
                               const std::vector<std::pair<std::wstring, Pairs>>& sections) {
    bool ok = true;
    for (const auto& section : sections) {
        WritePrivateProfileStringW(section.first.c_str(), nullptr, nullptr, file.c_str());
        for (const auto& pair : section.second) {
            if (!WritePrivateProfileStringW(section.first.c_str(), pair.first.c_str(), pair.second.c_str(),
                                            file.c_str()))
                ok = false;
        }
    }
    if (!ok)
        Logger_WarnWF(__FILE__, __LINE__, L"cannot write %ls (%lu)", file.c_str(), GetLastError());
    return ok;
}
