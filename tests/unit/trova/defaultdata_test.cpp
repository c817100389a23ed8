// The data files the program ships with: both rule databases load, cover
// what a fresh machine needs, name everything in all eight languages, and
// keep to the safety rules of the defaults. Checked on the Linux build; the
// files are the same for both.
#include "trova/clean/cacheclean.h"
#include "trova/clean/nametables.h"
#include "trova/extension/extensioncleanfile.h"

#include "fendrel/platform.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#if defined(FENDREL_POSIX) && defined(CLEAN_SOURCE_DIR)

namespace {

const std::string kData = std::string(CLEAN_SOURCE_DIR) + "/data/";

struct Platform {
    const char* name;
    std::size_t programs;   // at least
    std::size_t leftovers;  // programs with leftover rules, at least
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The process-wide tables, given back as they were afterwards.
class BorrowedTables {
public:
    BorrowedTables()
        : m_tables(Trova::NameTables::Instance()),
          m_files{m_tables.GidCsv(), m_tables.SoftidCsv(), m_tables.SubsoftidCsv(), m_tables.BigfileCsv()},
          m_scrambled(m_tables.Scrambled()),
          m_feature(m_tables.LanguageFeature()),
          m_language(m_tables.LanguageIndex()) {}
    ~BorrowedTables() {
        m_tables.Load(m_files[0], m_files[1], m_files[2], m_files[3], m_scrambled);
        m_tables.SetLanguageFeature(m_feature);
        m_tables.SetLanguageIndex(m_language);
    }
    Trova::NameTables* operator->() { return &m_tables; }

private:
    Trova::NameTables& m_tables;
    std::string m_files[4];
    bool m_scrambled, m_feature;
    int m_language;
};

class DefaultData : public ::testing::TestWithParam<Platform> {};

TEST_P(DefaultData, RulesLoadAndCoverTheirPlatform) {
    const Platform platform = GetParam();
    const std::string folder = kData + platform.name + "/";
    Trova::CacheClean engine;
    ASSERT_TRUE(engine.Load(std::wstring(folder.begin(), folder.end()) + L"rules.xml", false));

    pugi::xml_document document;
    ASSERT_TRUE(document.load_file((folder + "rules.xml").c_str()));
    std::set<std::string> programs, leftovers;
    for (const pugi::xpath_node& detail : document.select_nodes("/wu/op/d")) {
        programs.insert(detail.node().attribute("gp").as_string());
        if (detail.node().child("bp"))
            leftovers.insert(detail.node().attribute("gp").as_string());
    }
    EXPECT_GE(programs.size(), platform.programs);
    EXPECT_GE(leftovers.size(), platform.leftovers);
}

TEST_P(DefaultData, NeverWalksTheUsersOwnFolders) {
    const std::string folder = kData + GetParam().name + "/";
    pugi::xml_document document;
    ASSERT_TRUE(document.load_file((folder + "rules.xml").c_str()));
    for (const pugi::xpath_node& rule : document.select_nodes("//vg")) {
        const std::string path = Lower(rule.node().attribute("uk").as_string());
        // The user's folders sit right in the home folder, or behind their
        // XDG names; a program's own "downloads" folder deeper down is fine.
        for (const char* home : {"%userprofile%\\", "%home%/", "~/"}) {
            for (const char* mine : {"documents", "pictures", "downloads", "desktop", "music", "videos"}) {
                EXPECT_EQ(path.find(std::string(home) + mine), std::string::npos)
                    << rule.node().attribute("uk").as_string() << " reaches " << mine;
            }
        }
        for (const char* mine : {"xdg_documents_dir", "xdg_pictures_dir", "xdg_download_dir", "xdg_desktop_dir",
                                 "xdg_music_dir", "xdg_videos_dir"})
            EXPECT_EQ(path.find(mine), std::string::npos) << rule.node().attribute("uk").as_string();
    }
}

TEST_P(DefaultData, EveryGroupProgramAndItemHasItsNameInEveryLanguage) {
    const std::string folder = kData + GetParam().name + "/";
    BorrowedTables tables;
    tables->SetLanguageFeature(true);
    tables->Load(kData + "common/gid.csv", folder + "softid.csv", folder + "subsoftid.csv",
                 kData + "common/bigfile.csv", false);
    ASSERT_TRUE(tables->LanguageFeature());
    pugi::xml_document document;
    ASSERT_TRUE(document.load_file((folder + "rules.xml").c_str()));
    for (int language = 0; language < Trova::NameTables::kLanguageCount; ++language) {
        tables->SetLanguageIndex(language);
        for (const pugi::xpath_node& group : document.select_nodes("/wu/hz/g")) {
            const int id = group.node().attribute("cb").as_int();
            EXPECT_NE(id, 12) << "group 12 is never shown";
            EXPECT_FALSE(tables->GroupName(id).empty()) << "group " << id << ", language " << language;
            for (const pugi::xml_node& program : group.node().child("gd").children("p")) {
                const int softid = program.attribute("ka").as_int();
                EXPECT_FALSE(tables->SoftName(softid).empty()) << "program " << softid << ", language " << language;
            }
        }
        for (const pugi::xpath_node& item : document.select_nodes("//fa")) {
            const bool leftover = std::string(item.node().parent().parent().name()) == "bp";
            const int hd = item.node().attribute("hd").as_int();
            std::string groups = item.node().attribute("ar").as_string();
            for (std::size_t start = 0; start < groups.size();) {
                const std::size_t end = std::min(groups.find(';', start), groups.size());
                const int group = std::stoi(groups.substr(start, end - start));
                EXPECT_FALSE(tables->ItemName(group, hd, leftover ? 1 : 0).empty())
                    << "item " << group << "/" << hd << ", language " << language;
                start = end + 1;
            }
        }
    }
}

TEST_P(DefaultData, ExtensionRulesNameEveryCategory) {
    const std::string folder = kData + GetParam().name + "/";
    Trova::ExtensionCleanFile rules;
    ASSERT_TRUE(rules.Load(std::wstring(folder.begin(), folder.end()) + L"extrules.xml", false));
    ASSERT_FALSE(rules.categories.categories.empty());
    BorrowedTables tables;
    tables->SetLanguageFeature(true);
    tables->Load("", "", "", kData + "common/bigfile.csv", false);
    for (int language = 0; language < Trova::NameTables::kLanguageCount; ++language) {
        tables->SetLanguageIndex(language);
        for (const auto& category : rules.categories.categories) {
            EXPECT_FALSE(tables->BigfileText(static_cast<int>(category->ka.Get())).empty());
            EXPECT_FALSE(category->rc.values.empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, DefaultData,
                         ::testing::Values(Platform{"windows", 80, 15}, Platform{"linux", 50, 15}),
                         [](const ::testing::TestParamInfo<Platform>& info) { return std::string(info.param.name); });

}  // namespace

#endif
