// The scrambled form of the default data that the build makes beside the
// program reads exactly as the plain files do: the same rule tree, the same
// extension categories, the same names.
#include "trova/clean/cacheclean.h"
#include "trova/clean/cachecleancbk.h"
#include "trova/clean/dir.h"
#include "trova/clean/nametables.h"
#include "trova/clean/unsresidualrule.h"
#include "trova/extension/extensioncleanfile.h"

#include "fendrel/file.h"
#include "fendrel/utils.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#if !defined(_WIN32) && defined(CLEAN_SOURCE_DIR)

namespace {

const std::wstring kSource = Utils::utf8ToUtf16(std::string(CLEAN_SOURCE_DIR) + "/data/");
const std::wstring kScrambled = File::Directory(L"") + L"/scrambled/";

void Blocks(std::ostringstream& out, const std::vector<std::unique_ptr<Trova::OS>>& blocks) {
    for (const auto& block : blocks) {
        out << " block" << block->mappings.size();
        for (const auto& item : block->items) {
            out << " item " << item->hd.Get() << " '" << item->sv.Get() << "'";
            for (const auto& folder : item->folders)
                out << " [" << folder->uk->Get() << "|" << (folder->od->present ? "od" : "") << "]";
            out << " records" << item->records.size();
        }
    }
}

// The loaded tree as text: every group, program, block, item and folder.
std::string Tree(const Trova::CacheClean& engine) {
    std::ostringstream out;
    for (const auto& group : engine.groups.groups) {
        out << "group " << group->cb.Get() << " '" << group->aw.Get() << "':";
        for (const auto& [id, entry] : group->entries)
            out << " " << id << "'" << entry->sv.Get() << "'";
        out << "\n";
    }
    for (const auto& detail : engine.details) {
        out << "detail " << detail->gp.Get();
        Blocks(out, detail->blocks);
        for (const auto& leftover : detail->leftovers) {
            out << " leftover" << leftover->installs.size();
            Blocks(out, leftover->blocks);
        }
        out << "\n";
    }
    return out.str();
}

TEST(ScrambledData, RulesLoadAsThePlainOnes) {
    Trova::CacheClean plain, scrambled;
    ASSERT_TRUE(plain.Load(kSource + L"linux/rules.xml", false));
    ASSERT_TRUE(scrambled.Load(kScrambled + L"rules.dat", true));
    const std::string text = Tree(plain);
    EXPECT_GT(text.size(), 1000u);
    EXPECT_EQ(Tree(scrambled), text);
    Trova::g_dataScrambled = false;

    Trova::ExtensionCleanFile plainExt, scrambledExt;
    ASSERT_TRUE(plainExt.Load(kSource + L"linux/extrules.xml", false));
    ASSERT_TRUE(scrambledExt.Load(kScrambled + L"extrules.dat", true));
    ASSERT_EQ(scrambledExt.suffixes.size(), plainExt.suffixes.size());
    ASSERT_EQ(scrambledExt.categories.categories.size(), plainExt.categories.categories.size());
    for (std::size_t i = 0; i < plainExt.suffixes.size(); ++i)
        EXPECT_EQ(scrambledExt.suffixes[i].extensions, plainExt.suffixes[i].extensions);
}

TEST(ScrambledData, TablesGiveTheSameNames) {
    Trova::NameTables& tables = Trova::NameTables::Instance();
    auto names = [&](const std::wstring& folder, const std::wstring& common, const wchar_t* ext, bool scrambled) {
        tables.SetLanguageFeature(true);
        tables.Load(Utils::Utf16ToAnsi(common + L"gid" + ext), Utils::Utf16ToAnsi(folder + L"softid" + ext),
                    Utils::Utf16ToAnsi(folder + L"subsoftid" + ext), Utils::Utf16ToAnsi(common + L"bigfile" + ext),
                    scrambled);
        std::string all = tables.LanguageFeature() ? "" : "not loaded";
        for (int language = 0; language < Trova::NameTables::kLanguageCount; ++language) {
            tables.SetLanguageIndex(language);
            all += tables.GroupName(2) + tables.SoftName(20101) + tables.SoftName(61000088) + tables.BigfileText(1) +
                   tables.BigfileText(208) + "\n";
        }
        return all;
    };
    const std::string plain = names(kSource + L"linux/", kSource + L"common/", L".csv", false);
    const std::string scrambled = names(kScrambled, kScrambled, L".dat", true);
    tables.Load("", "", "", "", false);
    tables.SetLanguageIndex(1);
    EXPECT_NE(plain.find("Browser caches"), std::string::npos) << plain;
    EXPECT_EQ(scrambled, plain);
}

}  // namespace

#endif
