// Cleaning requests: only the selected items' filtered files go, folders
// stay, leftover groups clean through their leftover rules, record rules
// remove their listed files, and (Linux) links are never followed.
#include "trova/clean/cacheclean.h"
#include "trova/clean/dir.h"

#include "fendrel/recyclebin.h"
#include "rule_test_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#if !defined(_WIN32)
#  include <unistd.h>
#endif

namespace fs = std::filesystem;
using ruletest::Native;

namespace {

class CleanRequest : public ::testing::Test {
protected:
    void SetUp() override {
        root = ruletest::Narrow(dir);
        for (const char* folder : {"a/sub", "b", "c"})
            fs::create_directories(dir.path() / folder);
        for (const char* file : {"a/x.log", "a/y.txt", "a/sub/z.log", "b/w.log", "c/left.log", "c/left.txt"})
            testutil::WriteBytes(dir.path() / file, "junk");
        fs::permissions(dir.path() / "a" / "x.log", fs::perms::owner_read, fs::perm_options::replace);
        database = root + Native("/records.db");
        ruletest::MakeDatabase(database, "CREATE TABLE t(p TEXT); INSERT INTO t VALUES(" +
                                             ruletest::SqlText(root + Native("/b/listed.bin")) + "), (" +
                                             ruletest::SqlText(root + Native("/b/gone.bin")) + ");");
        testutil::WriteBytes(dir.path() / "b" / "listed.bin", "listed");

        const std::string tree =
            "<wu><hz><g cb='3'><gd><p ka='100'/><p ka='300'/></gd></g></hz><op>"
            "<d gp='100'><dx>"
            "<fa ar='3' hd='1'><vg uk='" + root + Native("/a") + "' od='*.log'/></fa>"
            "<fa ar='3' hd='2'><vg uk='" + root + Native("/b") + "' od='*.log'/></fa>"
            "<fa ar='3' hd='5'><mm av='" + database + "' zl='SELECT p FROM t'/></fa>"
            "</dx></d>"
            "<e gp='300'><bp><dx><fa ar='3' hd='7'><vg uk='" + root + Native("/c") + "' od='*.log'/></fa></dx></bp></e>"
            "</op></wu>";
        const std::wstring path = dir / L"rules.xml";
        testutil::WriteBytes(fs::path(path), tree);
        ASSERT_TRUE(cache.Load(path, false));
    }

    // Windows cannot remove a read-only file left behind with the folder.
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir.path() / "a" / "x.log", fs::perms::owner_all, fs::perm_options::replace, ec);
    }

    bool Has(const char* relative) const { return fs::exists(fs::symlink_status(dir.path() / relative)); }

    testutil::TempDir dir;
    std::string root;
    std::string database;
    Trova::CacheClean cache;
};

TEST_F(CleanRequest, DeletesFilteredFilesOfSelectedItemsOnly) {
    // 99 is in no block; 1 twice finds nothing left the second time.
    EXPECT_EQ(0, cache.Delete(3, 100, {99, 1, 1}));
    EXPECT_FALSE(Has("a/x.log"));  // read-only
    EXPECT_FALSE(Has("a/sub/z.log"));
    EXPECT_TRUE(Has("a/y.txt"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "sub"));
    EXPECT_TRUE(Has("b/w.log"));
    EXPECT_TRUE(Has("b/listed.bin"));
    EXPECT_TRUE(Has("c/left.log"));
}

TEST_F(CleanRequest, UnknownProgramDeletesNothing) {
    EXPECT_EQ(4, cache.Delete(3, 12345, {1, 2, 5}));
    for (const char* file : {"a/x.log", "a/sub/z.log", "b/w.log", "b/listed.bin", "c/left.log"})
        EXPECT_TRUE(Has(file)) << file;
}

TEST_F(CleanRequest, LeftoverGroupsCleanThroughLeftoverRules) {
    EXPECT_EQ(0, cache.Delete(3, 300, {7}));  // not a leftover group: the detail has no blocks
    EXPECT_TRUE(Has("c/left.log"));
    EXPECT_EQ(0, cache.Delete(24, 300, {7}));
    EXPECT_FALSE(Has("c/left.log"));
    EXPECT_TRUE(Has("c/left.txt"));
    EXPECT_TRUE(Has("a/x.log"));
}

TEST_F(CleanRequest, RecordRuleGoesOnPastMissingFile) {
    ruletest::LogCapture log;
    EXPECT_EQ(0, cache.Delete(3, 100, {5}));
    EXPECT_FALSE(Has("b/listed.bin"));
    EXPECT_TRUE(Has("records.db"));
    // ENOENT and ERROR_FILE_NOT_FOUND are both 2.
    EXPECT_EQ(1, log.Count("warning", "LastError: 2, filePath: " + root + Native("/b/gone.bin")));
}

TEST_F(CleanRequest, FolderThatCannotBeListedIsLogged) {
    ruletest::LogCapture log;
    const std::string missing = root + Native("/nowhere");
    cache.details.front()->blocks.front()->items.front()->folders.front()->WalkDelete(missing, true, 0);
#if defined(_WIN32)
    const int notFound = 3;  // ERROR_PATH_NOT_FOUND
#else
    const int notFound = 2;  // ENOENT
#endif
    EXPECT_EQ(1, log.Count("warning", "DelError LastError: " + std::to_string(notFound) + ", filePath: " + missing));
}

#if !defined(_WIN32)
TEST_F(CleanRequest, LinksAreRemovedNeverFollowed) {
    testutil::TempDir outside;
    testutil::WriteBytes(outside.path() / "canary.log", "keep");
    fs::create_directory_symlink(outside.path(), dir.path() / "a" / "escape");
    fs::create_symlink(outside.path() / "canary.log", dir.path() / "a" / "pointer.log");
    EXPECT_EQ(0, cache.Delete(3, 100, {1}));
    EXPECT_EQ("keep", testutil::ReadBytes(outside.path() / "canary.log"));
    EXPECT_FALSE(Has("a/pointer.log"));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "a" / "escape"));
}

TEST_F(CleanRequest, RecycleBinRequestEmptiesTrash) {
    std::vector<std::string> roots;
    Disks::List(roots);
    const std::string uid = std::to_string(getuid());
    for (const auto& mount : roots) {
        std::error_code ec;
        if (fs::exists(mount + "/.Trash-" + uid, ec) || fs::exists(mount + "/.Trash/" + uid, ec))
            GTEST_SKIP() << "this machine has a mount-level Trash of this user";
    }
    testutil::TempDir data;
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old != nullptr ? old : "";
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    fs::create_directories(data.path() / "Trash" / "files" / "folder");
    fs::create_directories(data.path() / "Trash" / "info");
    testutil::WriteBytes(data.path() / "Trash" / "files" / "folder" / "f.txt", "trash");
    testutil::WriteBytes(data.path() / "Trash" / "info" / "folder.trashinfo", "[Trash Info]\n");

    const int result = cache.Delete(3, Trova::SoftShort::kRecycleBinId, {});
    const bool filesEmpty = fs::is_empty(data.path() / "Trash" / "files");
    const bool infoEmpty = fs::is_empty(data.path() / "Trash" / "info");
    if (old != nullptr)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(0, result);
    EXPECT_TRUE(filesEmpty);
    EXPECT_TRUE(infoEmpty);
}
#endif

}  // namespace
