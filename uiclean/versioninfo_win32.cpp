#include "uiclean/versioninfo.h"

#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <windows.h>

#include <cwchar>
#include <vector>

namespace {

constexpr const char* kSource = "uiclean/versioninfo";

std::wstring ProgramPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size())
            return std::wstring(path.data(), length);
        path.resize(path.size() * 2);
    }
}

}  // namespace

VersionInfo::VersionInfo() {
    const std::wstring program = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = program.empty() ? 0 : GetFileVersionInfoSizeW(program.c_str(), &ignored);
    std::vector<std::uint8_t> block(size);
    if (size == 0 || !GetFileVersionInfoW(program.c_str(), 0, size, block.data())) {
        Logger_WarnF(kSource, __LINE__, "the program has no version resource (%lu)",
                     static_cast<unsigned long>(GetLastError()));
        return;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
        m_version = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                     LOWORD(fixed->dwFileVersionLS)};
    } else {
        Logger_WarnF(kSource, __LINE__, "the version resource has no file version");
    }
    // The strings of the first language and code page the resource lists.
    WORD* translation = nullptr;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        translation == nullptr || length < 2 * sizeof(WORD)) {
        Logger_WarnF(kSource, __LINE__, "the version resource lists no translation; no version texts");
        return;
    }
    for (std::size_t i = 0; i < Keys().size(); ++i) {
        wchar_t query[128];
        std::swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], Keys()[i]);
        wchar_t* value = nullptr;
        if (VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &length) && value != nullptr &&
            length > 0)
            m_values[i] = value;
        else
            Logger_InfoF(kSource, __LINE__, "the version resource has no %s", Utils::utf16ToUtf8(Keys()[i]).c_str());
    }
}
