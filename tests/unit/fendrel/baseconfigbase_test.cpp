#include "fendrel/baseconfigbase.h"

#include "fendrel/file.h"
#include "fendrel/utils.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// Opens the document helpers that derived configurations use.
class TestConfig : public BaseConfigBase {
public:
    TestConfig() : BaseConfigBase(this) {}
    using BaseConfigBase::GetInt;
    using BaseConfigBase::GetString;
    using BaseConfigBase::HasKey;
    using BaseConfigBase::SetInt;
    using BaseConfigBase::SetString;
};

HKEY KeyOf(std::uintptr_t value) {
    return reinterpret_cast<HKEY>(value);
}

class BaseConfigBaseTest : public ::testing::Test {
protected:
    std::filesystem::path FilePath() const { return m_dir.path() / "config.inf"; }
    std::wstring InfPath() const { return m_dir / L"config.inf"; }
    void WriteFile(const std::string& bytes) const { testutil::WriteBytes(FilePath(), bytes); }
    std::string ReadFile() const { return testutil::ReadBytes(FilePath()); }

    // A fresh object reading the file.
    void Load(TestConfig& config) const {
        config.SetInfPath(InfPath());
        ASSERT_EQ(config.Init(), 1);
    }

    testutil::TempDir m_dir;
};

TEST_F(BaseConfigBaseTest, SaveKeepsEverythingItDoesNotOwnInPlace) {
    WriteFile(
        "; written by hand\r\n"
        "[window]\r\n"
        "x = 10\r\n"
        "[Other]\r\n"
        "SingleApp = 1\r\n"
        "custom = keep me\r\n"
        "langid = 2052\r\n"
        "[product]\r\n"
        "hRootKey = 0x80000002\r\n"
        "subkey = CleanApp\r\n"
        "productName = Clean\r\n"
        "extra = {\"a\": 1} %d\r\n"
        "[zzz]\r\n"
        "a = b\r\n");
    TestConfig config;
    EXPECT_EQ(BaseConfigBase::s_instance, &config);
    Load(config);
    // Names are case-insensitive.
    EXPECT_EQ(config.GetSingleApp(), 1);
    EXPECT_EQ(config.GetLangId(), 2052);
    EXPECT_EQ(config.GetI18n(), 0);
    EXPECT_EQ(config.GetHRootKey(), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(config.GetExeNameSubKey(), L"CleanApp");
    EXPECT_EQ(config.GetProductName(), L"Clean");
    EXPECT_EQ(config.GetChannel(), L"");
    EXPECT_EQ(config.GetFriendlyName(), L"");

    config.SetSingleApp(0);
    config.SetLangId(1033);
    config.SetChannel(L"beta");
    config.Save();

    const std::string expected =
        "; written by hand\r\n"
        "\r\n"
        "\r\n"
        "[window]\r\n"
        "x = 10\r\n"
        "\r\n"
        "\r\n"
        "[Other]\r\n"
        "SingleApp = 0\r\n"
        "custom = keep me\r\n"
        "langid = 1033\r\n"
        "i18n = 0\r\n"
        "\r\n"
        "\r\n"
        "[product]\r\n"
        "hRootKey = 0x80000002\r\n"
        "subkey = CleanApp\r\n"
        "productName = Clean\r\n"
        "extra = {\"a\": 1} %d\r\n"
        "channel = beta\r\n"
        "friendlyProductName = \r\n"
        "\r\n"
        "\r\n"
        "[zzz]\r\n"
        "a = b\r\n";
    EXPECT_EQ(ReadFile(), expected);

    // A further start and exit changes nothing: no blank lines pile up.
    TestConfig again;
    Load(again);
    again.Save();
    EXPECT_EQ(ReadFile(), expected);
}

TEST_F(BaseConfigBaseTest, MissingFileChangesNothingAndSaveCreatesEveryBaseKey) {
    TestConfig config;
    config.SetInfPath(InfPath());
    config.SetSingleApp(1);
    config.SetProductName(L"Clean");
    config.SetLangId(7);
    EXPECT_EQ(config.Init(), 0);
    EXPECT_EQ(config.GetSingleApp(), 1);
    EXPECT_EQ(config.GetProductName(), L"Clean");

    config.Save();
    EXPECT_EQ(ReadFile(),
              "[other]\r\n"
              "singleApp = 1\r\n"
              "langid = 7\r\n"
              "i18n = 0\r\n"
              "\r\n"
              "\r\n"
              "[product]\r\n"
              "hRootKey = 0x0\r\n"
              "subkey = \r\n"
              "productName = Clean\r\n"
              "channel = \r\n"
              "friendlyProductName = \r\n");

    TestConfig reread;
    Load(reread);
    EXPECT_EQ(reread.GetSingleApp(), 1);
    EXPECT_EQ(reread.GetLangId(), 7);
    EXPECT_EQ(reread.GetHRootKey(), nullptr);
    EXPECT_EQ(reread.GetProductName(), L"Clean");
}

TEST_F(BaseConfigBaseTest, IntegerFieldsCountOnlyOneAsTrue) {
    const struct {
        const char* other;
        int singleApp;
        std::uint16_t langId;
        int i18n;
    } cases[] = {
        {"singleApp = 1\r\ni18n = 1\r\nlangid = 1033", 1, 1033, 1},
        {"singleApp = 2\r\ni18n = -1\r\nlangid = 0x804", 0, 2052, 0},
        {"singleApp = 0x1\r\ni18n = yes\r\nlangid = 70000", 1, 70000 & 0xFFFF, 0},
        {"singleApp = 1.0\r\ni18n = 01\r\nlangid = en", 0, 0, 1},
        {"", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.other);
        WriteFile(std::string("[other]\r\n") + c.other + "\r\n");
        TestConfig config;
        config.SetSingleApp(1);
        config.SetLangId(99);
        config.SetI18n(1);
        Load(config);
        EXPECT_EQ(config.GetSingleApp(), c.singleApp);
        EXPECT_EQ(config.GetLangId(), c.langId);
        EXPECT_EQ(config.GetI18n(), c.i18n);
    }
}

TEST_F(BaseConfigBaseTest, GetIntReadsDecimalOrHexAndNothingElse) {
    const long def = -77;
    const struct {
        const wchar_t* text;
        long expected;
    } cases[] = {
        {L"42", 42},      {L"  -5", -5},   {L"+7", 7},        {L"007", 7},      {L"0x1F", 31},
        {L"0X1f", 31},    {L"0x", def},    {L"", def},        {L"   ", def},    {L"12abc", def},
        {L"abc", def},    {L"1 ", def},    {L"0x1G", def},    {L" 0x10", def},  {L"\u0661", def},
    };
    TestConfig config;
    for (const auto& c : cases) {
        config.SetString(L"s", L"k", c.text);
        EXPECT_EQ(config.GetInt(L"s", L"k", def), c.expected) << "\"" << Utils::utf16ToUtf8(c.text) << "\"";
    }
    EXPECT_EQ(config.GetInt(L"s", L"missing", def), def);
    EXPECT_EQ(config.GetInt(L"none", L"k", def), def);

    config.SetInt(L"S", L"K", -123456);
    EXPECT_EQ(config.GetString(L"s", L"k"), L"-123456");
    EXPECT_TRUE(config.HasKey(L"S", L"k"));
    EXPECT_FALSE(config.HasKey(L"s", L"other"));
    EXPECT_EQ(config.GetString(L"s", L"other", L"fallback"), L"fallback");
}

TEST_F(BaseConfigBaseTest, RootKeyIsReadAsHexAndAnythingElseGivesNull) {
    const HKEY untouched = HKEY_USERS;
    const struct {
        const char* line;  // nullptr: no hRootKey key at all
        HKEY expected;
    } cases[] = {
        {"hRootKey = 0x80000001", HKEY_CURRENT_USER},
        {"hRootKey = 80000002", HKEY_LOCAL_MACHINE},
        {"HROOTKEY = 0X80000000", HKEY_CLASSES_ROOT},
        {"hRootKey = 0xabc", KeyOf(0xABC)},
        {"hRootKey = 0x0", nullptr},
        {"hRootKey = zz", nullptr},
        {"hRootKey = 0x80000001zz", nullptr},
        {"hRootKey = 0x100000000", nullptr},
        {"hRootKey = -1", nullptr},
        {"hRootKey = ", nullptr},
        {nullptr, untouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "(missing)");
        WriteFile(std::string("[product]\r\n") + (c.line ? c.line : "") + "\r\nsubkey = still read\r\n");
        TestConfig config;
        config.SetHRootKey(untouched);
        Load(config);
        EXPECT_EQ(config.GetHRootKey(), c.expected);
        EXPECT_EQ(config.GetExeNameSubKey(), L"still read");
    }
}

TEST_F(BaseConfigBaseTest, RootKeyIsWrittenAsUpperCaseHexAndReadBack) {
    const struct {
        HKEY key;
        const char* text;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, "0x80000002"},
        {HKEY_CURRENT_USER, "0x80000001"},
        {nullptr, "0x0"},
        {KeyOf(0xABC), "0xABC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TestConfig config;
        config.SetInfPath(InfPath());
        config.SetHRootKey(c.key);
        config.Save();
        EXPECT_NE(ReadFile().find(std::string("\r\nhRootKey = ") + c.text + "\r\n"), std::string::npos) << ReadFile();

        TestConfig reread;
        reread.SetHRootKey(HKEY_USERS);
        Load(reread);
        EXPECT_EQ(reread.GetHRootKey(), c.key);
    }
}

TEST_F(BaseConfigBaseTest, ByteOrderMarkSelectsUtf8AndSaveDropsTheMark) {
    const std::string name = "Caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80";
    WriteFile("\xEF\xBB\xBF[product]\r\nproductName = " + name + "\r\nchannel = A\xFF" "B\r\nsubkey = s\r\n");
    TestConfig config;
    Load(config);
    EXPECT_EQ(config.GetProductName(), L"Caf\u00e9 \u4e2d \U0001F600");
    // Bytes that are no UTF-8 become U+FFFD; the rest of the file still counts.
    EXPECT_EQ(config.GetChannel(), L"A\uFFFDB");
    EXPECT_EQ(config.GetExeNameSubKey(), L"s");

    config.Save();
    std::string saved = ReadFile();
    EXPECT_EQ(saved.rfind("[product]\r\n", 0), 0u) << "no byte-order mark";
    EXPECT_NE(saved.find("productName = " + name + "\r\n"), std::string::npos);
}

TEST_F(BaseConfigBaseTest, FileWithoutMarkIsReadAndWrittenInTheAnsiCodePage) {
    const std::wstring name = L"Caf\u00e9";
    const std::string ansi = Utils::Utf16ToAnsi(name);
    if (ansi.empty() || ansi.find('?') != std::string::npos)
        GTEST_SKIP() << "the ANSI code page cannot hold " << Utils::utf16ToUtf8(name);
    WriteFile("[product]\r\nproductName = " + ansi + "\r\n");
    TestConfig config;
    Load(config);
    EXPECT_EQ(config.GetProductName(), name);

    config.Save();
    EXPECT_NE(ReadFile().find("productName = " + ansi + "\r\n"), std::string::npos);
}

TEST_F(BaseConfigBaseTest, EmptyFileMakesTheDocumentUtf8) {
    WriteFile("");
    TestConfig config;
    config.SetProductName(L"before");
    Load(config);
    EXPECT_EQ(config.GetProductName(), L"");  // an existing file overwrites every string field

    config.SetProductName(L"\u00e9\u4e2d");
    config.Save();
    EXPECT_NE(ReadFile().find("productName = \xC3\xA9\xE4\xB8\xAD\r\n"), std::string::npos);
}

TEST_F(BaseConfigBaseTest, SaveToAnUnwritablePlaceWritesNothing) {
    const std::wstring places[] = {
        m_dir / L"no such folder" + fendrel::kPathSep + L"config.inf",
        m_dir.wstr(),  // a folder, not a file
        L"",
    };
    for (const auto& place : places) {
        TestConfig config;
        config.SetInfPath(place);
        config.SetProductName(L"lost");
        config.Save();
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "no such folder"));
    EXPECT_TRUE(std::filesystem::is_directory(m_dir.path()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.path()), {}), 0);
}

TEST_F(BaseConfigBaseTest, DefaultSetPointsBesideTheProgramAndChangesNothingElse) {
    TestConfig config;
    config.SetProductName(L"kept");
    config.DefaultSet();
    const std::wstring expectedName = std::wstring(1, fendrel::kPathSep) + L"config.inf";
    const std::wstring& path = config.GetInfPath();
    ASSERT_GT(path.size(), expectedName.size());
    EXPECT_EQ(path.substr(path.size() - expectedName.size()), expectedName);
    EXPECT_EQ(File::Directory(path), File::Directory(File::FullPath()));
    EXPECT_EQ(config.GetProductName(), L"kept");
}

TEST_F(BaseConfigBaseTest, ReadPackageNameGivesEmptyWhenNothingIsThere) {
    TestConfig config;
    config.SetHRootKey(HKEY_CURRENT_USER);
    config.SetExeNameSubKey(L"CleanTest-absent-7f3a9c");
    EXPECT_EQ(config.ReadPackageName(), L"empty");
    config.SetHRootKey(nullptr);
    EXPECT_EQ(config.ReadPackageName(), L"empty");
}

#if defined(FENDREL_WINDOWS)
// A real value in the 32-bit view of HKCU, removed again afterwards.
TEST_F(BaseConfigBaseTest, ReadPackageNameReadsTheValueFromThe32BitView) {
    const std::wstring subkey = L"CleanTest-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring path = L"SOFTWARE\\" + subkey;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    auto setText = [key](const std::wstring& text) {
        RegSetValueExW(key, L"PackageName", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    };

    TestConfig config;
    config.SetHRootKey(HKEY_CURRENT_USER);
    config.SetExeNameSubKey(subkey);
    setText(L"clean.package \u00e9");
    EXPECT_EQ(config.ReadPackageName(), L"clean.package \u00e9");
    setText(L"");
    EXPECT_EQ(config.ReadPackageName(), L"empty");
    DWORD number = 5;
    RegSetValueExW(key, L"PackageName", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    EXPECT_EQ(config.ReadPackageName(), L"empty");

    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyExW(HKEY_CURRENT_USER, path.c_str(), KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
}
#endif

}  // namespace
