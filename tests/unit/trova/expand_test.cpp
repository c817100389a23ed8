// Path::Expand over a small real tree: token cutting, %enum%, %AllDisk%,
// folder patterns, environment variables, mapping names and link safety.
#include "trova/clean/cacheclean.h"
#include "trova/clean/dir.h"
#include "trova/clean/softs.h"
#include "trova/property/properties.h"

#include "fendrel/direnum.h"
#include "fendrel/fsops.h"

#include "rule_test_helpers.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using ruletest::Native;
namespace fs = std::filesystem;

// root/
//   a/Temp/        b/             file.txt
//   Profile 1/x/   profile 2/     Profile 1.bak/     Profile 12/
class ExpandTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = ruletest::Narrow(dir);
        for (const char* folder : {"a/Temp", "b", "Profile 1/x", "profile 2", "Profile 1.bak", "Profile 12"})
            fs::create_directories(dir.path() / Utils::AnsiToUtf16(Native(folder)));
        testutil::WriteBytes(dir.path() / "file.txt", "x");
    }

    // "{R}" stands for the tree's root; "/" for the platform separator.
    std::string Pattern(const std::string& text) const {
        std::string out = text;
        const std::size_t at = out.find("{R}");
        if (at != std::string::npos)
            out.replace(at, 3, root);
        return Native(out);
    }
    std::string In(const std::string& relative) const { return root + ruletest::kSep + Native(relative); }

    std::vector<std::string> Expand(const std::string& text, Trova::BaseObject* parent = nullptr) const {
        Trova::Path path(parent, Pattern(text));
        return path.Expand();
    }

    testutil::TempDir dir;
    std::string root;
};

TEST_F(ExpandTest, CutsTokensAndKeepsWhatExists) {
    struct Case {
        const char* pattern;
        std::vector<std::string> expected;  // relative to the root, any order
    };
    const Case cases[] = {
        // A first literal is taken whole and must exist.
        {"{R}/a", {"a"}},
        {"{R}/missing", {}},
        {"{R}/missing/%enum%/Temp", {}},
        // After a token the literal loses its first character: one separator, not two.
        {"{R}/%enum%/Temp", {"a/Temp"}},
        {"{R}/<Profile [0-9]+>/x", {"Profile 1/x"}},
        {"{R}/<PROFILE 1>/x", {"Profile 1/x"}},
        // Folder patterns match whole folder names, case-insensitively.
        {"{R}/<Profile [0-9]>", {"Profile 1", "profile 2"}},
        {"{R}/<b|file\\.txt>", {"b"}},
        // A literal running up to an unclosed token keeps its separator; the rest is dropped.
        {"{R}/a/%enum", {"a/"}},
        {"{R}/a/<Te.*", {"a/"}},
        {"{R}/a/%enum%x", {"a/Temp/"}},  // "x" is dropped as if it were the separator
        // A broken expression matches nothing.
        {"{R}/<(Profile>", {}},
        {"{R}/<[>", {}},
        // A name no mapping resolves contributes nothing.
        {"{R}/%NoSuchName%", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> expected;
        for (const auto& relative : c.expected)
            expected.push_back(In(relative));
        std::vector<std::string> actual = Expand(c.pattern);
        std::sort(actual.begin(), actual.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, actual) << c.pattern;
    }
}

TEST_F(ExpandTest, EnumListsFoldersInEnumerationOrder) {
    std::vector<std::string> expected;
    DirEnum listing;
    ASSERT_TRUE(listing.Open(root));
    DirEntry entry;
    while (listing.Next(entry)) {
        if (entry.isDirectory)
            expected.push_back(root + ruletest::kSep + entry.name);
    }
    ASSERT_EQ(6u, expected.size());  // file.txt is not among them
    EXPECT_EQ(expected, Expand("{R}/%enum%"));
}

TEST_F(ExpandTest, AllDiskGivesTheDisks) {
    std::vector<std::string> disks;
    ASSERT_TRUE(Disks::List(disks));
    ASSERT_FALSE(disks.empty());
    EXPECT_EQ(disks, Expand("%AllDisk%"));
    EXPECT_EQ(disks, Expand("%alldisk%"));
    EXPECT_TRUE(Expand("%ALLDISK%").empty());  // only the two spellings

    // The disk holding the tree, joined with the tree's first path component.
    const std::string first = root.substr(0, root.find(ruletest::kSep, root.find(ruletest::kSep) + 1));
    const std::string component = first.substr(first.rfind(ruletest::kSep) + 1);
    std::vector<std::string> expected;
    for (const auto& disk : disks) {
        const std::string candidate = disk + ruletest::kSep + component;
        if (fs::exists(fs::path(Utils::AnsiToUtf16(candidate))))
            expected.push_back(candidate);
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, Expand("%AllDisk%/" + component));
}

TEST_F(ExpandTest, EnvironmentVariables) {
    const std::string variable = "CLEAN_EXPAND_TEST_ROOT";
    ruletest::SetEnv(variable, root);
    EXPECT_EQ(std::vector<std::string>{In("a/Temp")}, Expand("%" + variable + "%/a/Temp"));
    EXPECT_EQ(std::vector<std::string>{In("a/Temp")}, Expand("%" + variable + "%/%enum%/Temp"));
    ruletest::UnsetEnv(variable);
    EXPECT_TRUE(Expand("%" + variable + "%/a/Temp").empty());
}

TEST_F(ExpandTest, ResultsLongerThan260Characters) {
#if defined(_WIN32)
    GTEST_SKIP() << "the narrow Windows file calls behind existence tests stop at MAX_PATH";
#endif
    const std::string variable = "CLEAN_EXPAND_TEST_LONG";
    const std::string longName(90, 'n');
    const std::string deep = Native("deep/" + longName + "/" + longName);
    fs::create_directories(dir.path() / Utils::AnsiToUtf16(deep) / Utils::AnsiToUtf16(longName));
    ruletest::SetEnv(variable, root + ruletest::kSep + deep);
    const std::vector<std::string> result = Expand("%" + variable + "%/%enum%");
    ruletest::UnsetEnv(variable);
    ASSERT_EQ(1u, result.size());
    EXPECT_GT(result[0].size(), 260u);
    EXPECT_EQ(In(deep + ruletest::kSep + longName), result[0]);
}

TEST_F(ExpandTest, OddPatternsOnlyLog) {
    ruletest::LogCapture log;
    EXPECT_TRUE(Expand("{R}/<(unbalanced>").empty());
    EXPECT_EQ(1, log.Count("warning", "Invalid folder pattern: <(unbalanced>"));
    EXPECT_TRUE(Expand("%enum%").empty());
    EXPECT_EQ(1, log.Count("debug", "todo"));
}

// Mapping names come from the enclosing block: the first mapping names a
// whole location, later ones a piece appended to what was built so far.
class ExpandMappingTest : public ExpandTest {
protected:
    void SetUp() override {
        ExpandTest::SetUp();
        // Values come from an XML settings file: no registry needed.
        const std::string settings = In("settings.xml");
        testutil::WriteBytes(fs::path(Utils::AnsiToUtf16(settings)),
                             "<s><install dir=\"" + In("a") + "\"/><sub dir=\"Temp\"/><other dir=\"" + In("b") +
                                 "\"/><long dir=\"" + LongValue() + "\"/></s>");
        AddMapping("<fb><fx sv='Install' av='" + settings + "' zg='s\\install' lc='dir'/>"
                   "<fx sv='Shared' av='" + settings + "' zg='s\\other' lc='dir'/>"
                   "<fx sv='Long' av='" + settings + "' zg='s\\long' lc='dir'/></fb>");
        AddMapping("<fb><fx sv='Sub' av='" + settings + "' zg='s\\sub' lc='dir'/>"
                   "<fx sv='Shared' av='" + settings + "' zg='s\\sub' lc='dir'/>"
                   "<fx sv='Install' av='" + settings + "' zg='s\\sub' lc='dir'/></fb>");
    }

    // The first mapping's value is the result as it is, however long.
    std::string LongValue() const { return In(std::string(300, 'L')); }

    void AddMapping(const std::string& xml) {
        pugi::xml_document document;
        ASSERT_TRUE(document.load_string(xml.c_str()));
        block.mappings.push_back(std::make_unique<Trova::Mapping>(&block));
        block.mappings.back()->Read(document.child("fb"));
    }

    Trova::OS block{nullptr};
};

TEST_F(ExpandMappingTest, FirstMappingReplacesLaterOnesAppend) {
    struct Case {
        const char* pattern;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"%Install%", {"a"}},
        {"{R}/b/%Install%", {"a"}},            // index 0: the value alone, whatever came before
        {"%Install%/Temp", {"a/Temp"}},
        {"{R}/a/%Sub%", {"a/Temp"}},           // index 1: appended to each previous path
        {"{R}/%enum%/%Sub%", {"a/Temp"}},      // ... kept only where it exists
        {"{R}/b/%Sub%", {}},
        {"%Shared%", {"b"}},                   // the first mapping that resolves wins
        {"%Unknown%", {}},
        {"%Install%%Sub%", {}},                // appended without a separator: ".../aTemp"
    };
    for (const auto& c : cases) {
        std::vector<std::string> expected;
        for (const auto& relative : c.expected)
            expected.push_back(In(relative));
        EXPECT_EQ(expected, Expand(c.pattern, &block)) << c.pattern;
    }
    EXPECT_EQ(std::vector<std::string>{LongValue()}, Expand("%Long%", &block));
}

TEST_F(ExpandMappingTest, NamesComeFromTheEnclosingBlock) {
    Trova::Execute item(&block);
    Trova::Path underItem(&item, "%Install%");
    EXPECT_EQ(std::vector<std::string>{In("a")}, underItem.Expand());
    // A folder copy's parent is its template.
    Trova::Dir rule(&item);
    Trova::Dir copy(&rule, "%Install%");
    EXPECT_EQ(std::vector<std::string>{In("a")}, copy.uk->Expand());
    // Without an enclosing block a name resolves to nothing.
    Trova::Path orphan(nullptr, "%Install%");
    EXPECT_TRUE(orphan.Expand().empty());
}

#if !defined(_WIN32)
// Safety: a link to a folder outside the tree is listed by the enumeration
// but never produces a candidate, so a rule cannot be led elsewhere.
TEST_F(ExpandTest, DirectoryLinksAreNotFollowed) {
    testutil::TempDir outside;
    fs::create_directories(outside.path() / "Profile 9");
    fs::create_directory_symlink(outside.path(), dir.path() / "Profile 7");
    fs::create_directory_symlink(outside.path() / "Profile 9", dir.path() / "b" / "inner");

    for (const auto& found : Expand("{R}/%enum%"))
        EXPECT_EQ(std::string::npos, found.find("Profile 7")) << found;
    for (const auto& found : Expand("{R}/<Profile [0-9]+>"))
        EXPECT_EQ(std::string::npos, found.find("Profile 7")) << found;
    EXPECT_TRUE(Expand("{R}/b/%enum%").empty());
    EXPECT_TRUE(Expand("{R}/<Profile 7>/<Profile 9>").empty());
}
#endif

}  // namespace
