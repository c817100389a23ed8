// The program's version: on Windows read from the test program's own version
// resource (made from the same values as Clean.exe's), on Linux the values
// compiled in. Both must agree with the build's version values.
#include "uiclean/versioninfo.h"

#include "version.h"

#include <gtest/gtest.h>

TEST(VersionInfo, AnswersTheBuildsVersionAndTexts) {
    VersionInfo& info = VersionInfo::Instance();
    EXPECT_EQ(&info, &VersionInfo::Instance());
    // Four numbers read back and formatted give the text the build wrote.
    EXPECT_EQ(info.FileVersion(), L"" CLEAN_VERSION_TEXT);
#if defined(_WIN32)
    const wchar_t* original = L"uiclean_tests.exe";
    const wchar_t* internal = L"uiclean_tests";
#else
    const wchar_t* original = L"" CLEAN_ORIGINAL_FILENAME;
    const wchar_t* internal = L"" CLEAN_INTERNAL_NAME;
#endif
    const struct {
        const wchar_t* key;
        std::wstring value;
    } cases[] = {
        {L"ProductName", L"" CLEAN_PRODUCT_NAME},   {L"CompanyName", L"" CLEAN_COMPANY_NAME},
        {L"LegalCopyright", L"" CLEAN_LEGAL_NOTICE}, {L"OriginalFilename", original},
        {L"InternalName", internal},                 {L"FileDescription", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key, c.key + std::wcslen(c.key)));
        EXPECT_EQ(info.StringValue(c.key), c.value);
    }
}
