#include "fendrel/file.h"
#include "fendrel/utils.h"
#include "testutil.h"
#include "trova/clean/nametables.h"
#include "uiclean/i18nconfig.h"
#include "trova/clean/languagetable.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// A configuration object of its own per test; the program's one instance is
// left alone.
class TestConfig : public I18nConfig {
public:
    TestConfig() = default;
};

class ConfigTest : public ::testing::Test {
protected:
    // Defaults as the start-up gives them, then the file (if any) read over them.
    void Load(TestConfig& config, const std::string* content) {
        config.DefaultSet(StartupWindowFlags(false), StartupWindowSettings());
        config.SetInfPath(m_dir / L"config.inf");
        if (content)
            testutil::WriteBytes(m_dir.path() / "config.inf", *content);
        config.Init();
    }
    std::string Saved() { return testutil::ReadBytes(m_dir.path() / "config.inf"); }

    testutil::TempDir m_dir;
};

TEST_F(ConfigTest, MissingFileKeepsStartupDefaultsAndSaveCreatesAllSections) {
    TestConfig config;
    Load(config, nullptr);
    EXPECT_EQ(config.Right() - config.Left(), 980);
    EXPECT_EQ(config.Bottom() - config.Top(), 720);
    EXPECT_EQ(config.WindowClass(), L"cleanWin");
    EXPECT_EQ(config.Host(), "http://127.0.0.1");
    EXPECT_EQ(config.Flags().closeAsQuit, 1);
    EXPECT_EQ(config.Flags().editHeight, 30);
    EXPECT_EQ(config.CaptionLeft(), -1);
    EXPECT_EQ(config.CaptionBottom(), 60);
    EXPECT_EQ(config.GetI18n(), 1);
    EXPECT_FALSE(config.Encryption());

    config.Save();
    std::string saved = Saved();
    for (const char* needle : {"[other]", "[product]", "[window]", "width = 980", "height = 720", "hRootKey = 0x0",
                               "i18n = 1", "caption = -1,0,-1,60", "windowClass = cleanWin"})
        EXPECT_NE(saved.find(needle), std::string::npos) << needle << " missing from:\n" << saved;
}

TEST_F(ConfigTest, FileWithoutWindowSectionGivesTheKeysOwnDefaults) {
    TestConfig config;
    std::string content = "[other]\r\nlangid = 1033\r\n";
    Load(config, &content);
    EXPECT_EQ(config.Left(), 0);
    EXPECT_EQ(config.Right(), 800);
    EXPECT_EQ(config.Bottom(), 600);
    EXPECT_EQ(config.Flags().borderless, 1);
    EXPECT_EQ(config.Flags().borderlessResize, 1);
    EXPECT_EQ(config.Flags().borderlessDrag, 1);
    EXPECT_EQ(config.Flags().editVisible, 1);
    EXPECT_EQ(config.WindowClass(), L"");
    EXPECT_EQ(config.Host(), "http://127.0.0.1") << "without a host the page would have no origin";
}

TEST_F(ConfigTest, WindowKeysRoundTrip) {
    TestConfig config;
    std::string content =
        "[product]\r\nfriendlyProductName = Clean\r\n"
        "[window]\r\nx = 100\r\ny = 0x20\r\nwidth = 980\r\nheight = 700\r\ncaption = 1,2,3,4,5\r\n"
        "borderResize = 1\r\ncenter = 0\r\naddrBarVisible = 7\r\nurl = index.html\r\ncustom = kept\r\n";
    Load(config, &content);
    EXPECT_EQ(config.Left(), 100);
    EXPECT_EQ(config.Top(), 32);
    EXPECT_EQ(config.Right(), 1080);
    EXPECT_EQ(config.CaptionTop(), 2);
    EXPECT_EQ(config.CaptionRight(), 3);
    EXPECT_EQ(config.CaptionBottom(), 5) << "a fifth caption number overwrites the fourth";
    EXPECT_EQ(config.Flags().centerWindow, 0);
    EXPECT_EQ(config.Flags().editVisible, 1);
    EXPECT_EQ(config.Title(), L"Clean");
    EXPECT_EQ(config.Url(), L"index.html");

    config.Save();
    std::string saved = Saved();
    for (const char* needle : {"x = 100", "y = 32", "width = 980", "height = 700", "caption = 1,2,3,5",
                               "borderResize = 1", "center = 0", "custom = kept"})
        EXPECT_NE(saved.find(needle), std::string::npos) << needle << " missing from:\n" << saved;
}

TEST_F(ConfigTest, LanguageIdSelectsTheLanguageIndex) {
    struct Case {
        const char* langid;
        int index;
    } cases[] = {{"2052", 0}, {"1033", 1}, {"1041", 1}, {"1031", 2}, {"0x0416", 5}};
    for (const Case& c : cases) {
        TestConfig config;
        std::string content = std::string("[other]\r\nlangid = ") + c.langid + "\r\n";
        Load(config, &content);
        EXPECT_EQ(config.LanguageIndex(), c.index) << "langid " << c.langid;
        EXPECT_EQ(Trova::NameTables::Instance().LanguageIndex(), c.index) << "langid " << c.langid;
    }
}

TEST_F(ConfigTest, ZeroLanguageIdFollowsTheUsersLanguageAndIsSaved) {
    std::uint16_t expected = static_cast<std::uint16_t>(Utils::UserDefaultLangId() & 0x3FF);
    TestConfig config;
    std::string content = "[other]\r\nlangid = 0\r\ni18n = 0\r\n";
    Load(config, &content);
    EXPECT_EQ(config.GetLangId(), expected);
    EXPECT_EQ(config.LanguageIndex(), LanguageTable::IndexOf(expected));
    EXPECT_EQ(config.GetI18n(), 1) << "the file's i18n = 0 is overridden";
    config.Save();
    std::string saved = Saved();
    EXPECT_NE(saved.find("langid = " + std::to_string(expected)), std::string::npos) << saved;
    EXPECT_NE(saved.find("i18n = 1"), std::string::npos) << saved;
}

#if defined(FENDREL_POSIX)
TEST_F(ConfigTest, ZeroLanguageIdOnAGermanSystemSelectsGerman) {
    const char* saved[] = {std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")};
    std::string keep[3];
    for (int i = 0; i < 3; ++i)
        keep[i] = saved[i] ? saved[i] : "";
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "de_DE.UTF-8", 1);

    TestConfig config;
    Load(config, nullptr);
    EXPECT_EQ(config.GetLangId(), 7);
    EXPECT_EQ(config.LanguageIndex(), 2);

    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (int i = 0; i < 3; ++i) {
        if (saved[i])
            setenv(names[i], keep[i].c_str(), 1);
        else
            unsetenv(names[i]);
    }
}
#endif

TEST_F(ConfigTest, DataPathsResolveAsGivenOrBesideTheProgram) {
    std::wstring beside = File::Directory(L"") + fendrel::kPathSep + L"uiclean-test-ext.dat";
    ASSERT_TRUE(File::WriteTextToFile(beside, L"x"));
    std::wstring absolute = m_dir / L"abs.csv";
    ASSERT_TRUE(File::WriteTextToFile(absolute, L"x"));

    EXPECT_EQ(I18nConfig::ResolvePath(L"uiclean-test-ext.dat"), beside);
    EXPECT_EQ(I18nConfig::ResolvePath(absolute), absolute);
    EXPECT_EQ(I18nConfig::ResolvePath(L"no-such-file.csv"), L"");
    EXPECT_EQ(I18nConfig::ResolvePath(L""), File::Directory(L"") + fendrel::kPathSep);

    TestConfig config;
    std::string content = "[other]\r\nextdatPath = uiclean-test-ext.dat\r\ntrashdatPath = rules.dat\r\n"
                          "gidcsv = " + Utils::utf16ToUtf8(absolute) + "\r\nsoftidCsv = missing.csv\r\n";
    Load(config, &content);
    EXPECT_EQ(config.ExtdatPath(), beside);
    EXPECT_EQ(config.TrashdatPath(), L"rules.dat") << "the rule database path is used as read";
    EXPECT_EQ(Trova::NameTables::Instance().GidCsv(), Utils::Utf16ToAnsi(absolute));
    EXPECT_EQ(Trova::NameTables::Instance().SoftidCsv(), "");
    File::Delete(File(beside));
}

TEST(LanguageTableTest, KeysFollowTheIndexAndUnknownIsEnglish) {
    EXPECT_EQ(LanguageTable::Keys(0).descKey, "desc_zh");
    EXPECT_EQ(LanguageTable::Keys(7).code, "it");
    EXPECT_EQ(LanguageTable::Keys(6).detailKey, "det_ru");
    EXPECT_EQ(LanguageTable::Keys(42).code, "en");
    EXPECT_EQ(LanguageTable::IndexOf(0x0C0A), 4) << "sub-language bits are ignored";
}

}  // namespace
