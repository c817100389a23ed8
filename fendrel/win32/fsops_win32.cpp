// The engines' file system, wildcard, environment, disk and INI services:
// the narrow Windows calls, with buffers sized from what the calls report.
#include "../fsops.h"

#include "../file.h"
#include "../utils.h"
#include "winhelpers.h"

#include <windows.h>
#include <shlwapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

using fendrel::win32::Handle;

bool FileSystem::Exists(const std::string& path) {
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::int64_t FileSystem::Size(const std::string& path) {
    // Attribute access only and every sharing mode: a database or log held
    // open by its program is still measured.
    Handle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size))
        return -1;
    return size.QuadPart;
}

bool FileSystem::CopyFile(const std::string& from, const std::string& to, bool overwrite) {
    return CopyFileA(from.c_str(), to.c_str(), overwrite ? FALSE : TRUE) != FALSE;
}

bool FileSystem::RemoveFile(const std::string& path, int* error) {
    if (DeleteFileA(path.c_str()))
        return true;
    if (error != nullptr)
        *error = static_cast<int>(GetLastError());
    return false;
}

bool FileSystem::ForceDeleteFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0)
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path.c_str()))
        return true;
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
        return false;
    // In use: mark it for deletion; the system removes it once the last
    // handle (ours or the other program's) is closed.
    const HANDLE handle = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
}

std::string FileSystem::CreateTempFile(const std::string& prefix) {
    // GetTempFileNameA needs the folder to leave room for its 14 characters
    // within MAX_PATH.
    char folder[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH - 14)
        return {};
    char name[MAX_PATH];
    if (GetTempFileNameA(folder, prefix.c_str(), 0, name) == 0)
        return {};
    return name;
}

std::string FileSystem::ProgramDirectory() {
    return Utils::Utf16ToAnsi(File::Directory(L""));
}

int FileSystem::LastError() {
    return static_cast<int>(GetLastError());
}

bool Wildcards::MatchSpec(const std::string& name, const std::string& pattern) {
    return PathMatchSpecA(name.c_str(), pattern.c_str()) != FALSE;
}

std::string Environment::Expand(const std::string& text) {
    std::string buffer(text.size() + 1, '\0');
    // The environment may grow between two calls; a few rounds settle it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed = ExpandEnvironmentStringsA(text.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
        if (needed == 0)
            return text;
        if (needed <= buffer.size()) {
            // Some versions count more than they write; the text ends at its NUL.
            buffer.resize(std::strlen(buffer.c_str()));
            return buffer;
        }
        buffer.assign(needed + 1, '\0');
    }
    return text;
}

bool Disks::List(std::vector<std::string>& roots) {
    roots.clear();
    std::string buffer(256, '\0');
    for (;;) {
        const DWORD length = GetLogicalDriveStringsA(static_cast<DWORD>(buffer.size()), &buffer[0]);
        if (length == 0)
            return false;
        if (length < buffer.size())
            break;
        buffer.assign(length + 1, '\0');
    }
    // "C:\\\0D:\\\0\0": each drive gives its first two characters.
    for (const char* drive = buffer.c_str(); *drive != '\0'; drive += std::strlen(drive) + 1)
        roots.emplace_back(drive, std::min<std::size_t>(2, std::strlen(drive)));
    return true;
}

std::string Profile::ReadString(const std::string& file, const std::string& section, const std::string& key) {
    std::string buffer(256, '\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", &buffer[0], size, file.c_str());
        // size - 1 means the value was cut to fit.
        if (length + 1 < size || size >= (1u << 24)) {
            buffer.resize(length);
            return buffer;
        }
        buffer.assign(static_cast<std::size_t>(size) * 2, '\0');
    }
}

std::vector<Disks::Space> Disks::FixedSpaces() {
    std::vector<Space> spaces;
    const DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        if ((drives & (1u << letter)) == 0)
            continue;
        const std::string root = std::string(1, static_cast<char>('A' + letter)) + ":\\";
        ULARGE_INTEGER available{}, total{}, free{};
        if (!GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free))
            continue;
        if (GetDriveTypeA(root.c_str()) != DRIVE_FIXED)
            continue;
        spaces.push_back({root, total.QuadPart, free.QuadPart});
    }
    return spaces;
}

std::vector<std::string> Disks::FixedRoots(std::string& systemDrive) {
    wchar_t folder[MAX_PATH] = {};
    systemDrive.clear();
    if (GetWindowsDirectoryW(folder, MAX_PATH) != 0 && folder[0] >= L'A' && folder[0] <= L'Z') {
        systemDrive = std::string(1, static_cast<char>(folder[0]));
    } else if (SUCCEEDED(SHGetFolderPathW(nullptr, 36 /* CSIDL_WINDOWS */, nullptr, 0, folder)) &&
               folder[0] >= L'A' && folder[0] <= L'Z') {
        systemDrive = std::string(1, static_cast<char>(folder[0]));
    }
    std::vector<std::string> roots;
    wchar_t strings[260] = {};
    const DWORD length = GetLogicalDriveStringsW(260, strings);
    for (const wchar_t* root = strings; length != 0 && length <= 260 && *root != L'\0'; root += wcslen(root) + 1) {
        if (GetDriveTypeW(root) == DRIVE_FIXED)
            roots.push_back(Utils::utf16ToUtf8(root));
    }
    return roots;
}
