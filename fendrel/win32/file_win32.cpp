// File on Windows: the wide (W) file, shell and dialog functions. Buffers are
// sized from what the system reports, so long paths are not cut off.
#include "../file.h"

#include "../logger.h"
#include "../utils.h"

#include "winhelpers.h"

#include <algorithm>

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace {

constexpr std::uint64_t k4GiB = 1ull << 32;

using fendrel::win32::ComScope;
using fendrel::win32::Handle;

// Entries matching a search pattern; false when nothing matches or the
// folder cannot be read.
template <typename Visit>
bool FindEach(const std::wstring& pattern, Visit visit) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        visit(data);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The file-open dialog's class, spelled out so that no extra import library is needed.
const CLSID kFileOpenDialog = {0xDC1C5A9C, 0xE88A, 0x4DDE, {0xA5, 0xA1, 0x60, 0xF8, 0x2A, 0x20, 0xAE, 0xF7}};

std::wstring PickFolderWithFileDialog(HWND owner, bool& available) {
    IFileOpenDialog* dialog = nullptr;
    available = SUCCEEDED(CoCreateInstance(kFileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)));
    if (!available) {
        return {};
    }
    std::wstring result;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
        PWSTR path = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
            result = path;
            CoTaskMemFree(path);
        }
        item->Release();
    }
    dialog->Release();
    return result;
}

std::wstring PickFolderWithBrowser(HWND owner) {
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = L"Please, select a folder";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (item == nullptr) {
        return {};
    }
    std::wstring path(32768, L'\0');
    const bool ok = SHGetPathFromIDListEx(item, &path[0], static_cast<DWORD>(path.size()), GPFIDL_DEFAULT) != FALSE;
    CoTaskMemFree(item);
    if (!ok) {
        return {};
    }
    path.resize(wcslen(path.c_str()));
    return path;
}

}  // namespace

std::wstring File::FullPath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);  // cut off: try a bigger buffer
    }
}

std::wstring File::TempPath() {
    const DWORD needed = GetTempPathW(0, nullptr);
    if (needed == 0) {
        return {};
    }
    std::wstring buffer(needed, L'\0');
    const DWORD n = GetTempPathW(needed, &buffer[0]);
    if (n == 0 || n >= needed) {
        return {};
    }
    buffer.resize(n);
    return buffer;
}

bool File::Exist(const std::wstring& path) {
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::int64_t File::BytesSize64(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return -1;
    }
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool File::CreateDeepDirectory(const std::wstring& path) {
    if (path.size() < 3) {
        return false;  // "C:" and the like name no folder to create
    }
    // Each prefix that ends before a separator, from the root down. Prefixes
    // that are no folder ("C:", "\\server", "\\?") simply fail; the final
    // check decides.
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            if (!IsSeparator(path[i - 1])) {
                CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
            }
        }
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int File::CountFileInDir(const std::wstring& pattern) {
    int files = 0;
    const bool any = FindEach(pattern, [&](const WIN32_FIND_DATAW& data) {
        files += (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
    });
    return any ? files : -1;
}

std::vector<std::wstring> File::ListDir(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    FindEach(pattern, [&](const WIN32_FIND_DATAW& data) { names.emplace_back(data.cFileName); });
    return names;
}

std::vector<std::wstring> File::GetFilesInDir(const std::wstring& folder) {
    const std::wstring prefix = !folder.empty() && IsSeparator(folder.back()) ? folder : folder + L'\\';
    std::vector<std::wstring> files;
    FindEach(prefix + L"*", [&](const WIN32_FIND_DATAW& data) {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files.push_back(prefix + data.cFileName);
        }
    });
    return files;
}

bool File::Copy(const File& source, const std::wstring& destination, bool move) {
    if (!CopyFileW(source.Path().c_str(), destination.c_str(), FALSE)) {
        return false;
    }
    if (move && !DeleteFileW(source.Path().c_str())) {
        LOG_WARN("File::Copy: copied but could not remove the source (error %lu)", GetLastError());
    }
    return true;
}

bool File::Delete(const File& file) {
    return DeleteFileW(file.Path().c_str()) != FALSE;
}

std::vector<std::uint8_t> File::readFile(const std::wstring& path) {
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) || static_cast<std::uint64_t>(size.QuadPart) >= k4GiB) {
        return {};
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size.QuadPart));
    std::size_t used = 0;
    while (used < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - used, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(file.get(), data.data() + used, chunk, &n, nullptr)) {
            return {};
        }
        if (n == 0) {
            break;  // shrank while being read
        }
        used += n;
    }
    data.resize(used);
    return data;
}

bool File::WriteBytes(const std::wstring& path, const std::string& bytes) {
    Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file.valid()) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD n = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &n, nullptr)) {
            return false;
        }
        done += n;
    }
    return file.Close();
}

HINSTANCE File::OpenFileBySystem(const std::wstring& file, const std::vector<std::wstring>& arguments,
                                 int showCommand) {
    std::wstring parameters;
    for (const auto& argument : arguments) {
        parameters += L"\"" + argument + L"\" ";
    }
    ComScope com;
    return ShellExecuteW(nullptr, nullptr, file.c_str(), parameters.empty() ? nullptr : parameters.c_str(), nullptr,
                         showCommand);
}

bool File::OpenDirAndSelectFile(const std::wstring& path) {
    std::wstring native = path;
    for (auto& c : native) {
        c = c == L'/' ? L'\\' : c;
    }
    ComScope com;
    PIDLIST_ABSOLUTE item = ILCreateFromPathW(native.c_str());
    if (item == nullptr) {
        return false;
    }
    const HRESULT hr = SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
    ILFree(item);
    if (FAILED(hr)) {
        LOG_WARN("OpenDirAndSelectFile: %s", Utils::utf16ToUtf8(Utils::hresultToWString(hr)).c_str());
    }
    return SUCCEEDED(hr);
}

std::wstring File::ChooseDirectory(HWND owner) {
    ComScope com;
    bool available = false;
    std::wstring path = PickFolderWithFileDialog(owner, available);
    if (!available) {
        LOG_INFO("ChooseDirectory: the file dialog is unavailable; using the folder browser");
        path = PickFolderWithBrowser(owner);
    }
    return path;
}

std::wstring File::SelectMultiFiles(HWND owner, const std::wstring& initialFolder, const std::wstring& filter,
                                    int filterIndex) {
    // The dialog wants "name\0pattern\0...\0\0"; callers that cannot carry a
    // NUL (the page) separate with "|".
    std::wstring filterPairs = filter;
    if (filterPairs.find(L'\0') == std::wstring::npos) {
        for (auto& c : filterPairs) {
            c = c == L'|' ? L'\0' : c;
        }
    }
    filterPairs.append(2, L'\0');

    std::vector<wchar_t> buffer(52000, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.empty() ? nullptr : filterPairs.c_str();
    dialog.nFilterIndex = static_cast<DWORD>(filterIndex);
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size());
    dialog.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
    dialog.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&dialog)) {
        const DWORD error = CommDlgExtendedError();
        if (error != 0) {
            LOG_WARN("SelectMultiFiles: dialog error 0x%lx", error);
        }
        return {};
    }
    // One file: its full path. Several: the folder, then each name, NUL-separated.
    const std::wstring first = buffer.data();
    const wchar_t* next = buffer.data() + first.size() + 1;
    if (*next == L'\0') {
        return first + L"\n";
    }
    const std::wstring folder = IsSeparator(first.back()) ? first : first + L"\\";
    std::wstring result;
    while (*next != L'\0') {
        const std::wstring name = next;
        result += folder + name + L"\n";
        next += name.size() + 1;
    }
    return result;
}
