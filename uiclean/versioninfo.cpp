#include "uiclean/versioninfo.h"

#include <cwchar>

VersionInfo& VersionInfo::Instance() {
    static VersionInfo info;
    return info;
}

const std::array<const wchar_t*, 5>& VersionInfo::Keys() {
    static const std::array<const wchar_t*, 5> keys = {L"ProductName", L"CompanyName", L"LegalCopyright",
                                                       L"OriginalFilename", L"InternalName"};
    return keys;
}

std::wstring VersionInfo::FileVersion() const {
    wchar_t text[64];
    std::swprintf(text, 64, L"%d.%d.%d.%d", m_version[0], m_version[1], m_version[2], m_version[3]);
    return text;
}

std::wstring VersionInfo::StringValue(const std::wstring& key) const {
    for (std::size_t i = 0; i < Keys().size(); ++i) {
        if (key == Keys()[i])
            return m_values[i];
    }
    return {};
}
