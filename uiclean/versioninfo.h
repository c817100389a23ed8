// The program's own version: Windows reads Clean.exe's version resource,
// Linux answers from the values the build compiled in (version.h), which
// are the same ones the resource is made from.
#pragma once

#include <array>
#include <string>

class VersionInfo {
public:
    // Created on first use, for the process.
    static VersionInfo& Instance();

    // "1.2.3.4" ("%d.%d.%d.%d"); "0.0.0.0" when the program has no version.
    std::wstring FileVersion() const;
    // A string value under its standard key ("ProductName", "CompanyName",
    // "LegalCopyright", "OriginalFilename", "InternalName"); empty when the
    // program has none.
    std::wstring StringValue(const std::wstring& key) const;

    // The keys read at start-up, in that order.
    static const std::array<const wchar_t*, 5>& Keys();

private:
    VersionInfo();
    std::array<int, 4> m_version{};
    std::array<std::wstring, 5> m_values;
};
