// Record rules: an application's SQLite database lists files; the rule
// measures those that exist. Locked databases are read through a copy.
#include "trova/clean/cacheclean.h"
#include "trova/clean/directdata.h"

#include "rule_test_helpers.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using ruletest::Native;
using ruletest::kSep;
namespace fs = std::filesystem;

class DirectDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = ruletest::Narrow(dir);
        testutil::WriteBytes(dir.path() / "ten.bin", std::string(10, 'x'));
        testutil::WriteBytes(dir.path() / "twenty.bin", std::string(20, 'y'));
        database = In("cache.db");
        ruletest::MakeDatabase(database, "CREATE TABLE files(path TEXT, kind TEXT);"
                                         "INSERT INTO files VALUES(" + ruletest::SqlText(In("ten.bin")) + ", 'a');"
                                         "INSERT INTO files VALUES(" + ruletest::SqlText(In("gone.bin")) + ", 'b');"
                                         "INSERT INTO files VALUES(NULL, 'c');"
                                         "INSERT INTO files VALUES(" + ruletest::SqlText(In("twenty.bin")) + ", 'd');");
    }
    std::string In(const std::string& relative) const { return root + kSep + Native(relative); }

    std::unique_ptr<Trova::DirectData> Rule(const std::string& av, const std::string& sql) {
        pugi::xml_document document;
        document.append_child("mm");
        document.child("mm").append_attribute("av") = av.c_str();
        document.child("mm").append_attribute("zl") = sql.c_str();
        auto rule = std::make_unique<Trova::DirectData>(&item);
        rule->Read(document.child("mm"));
        return rule;
    }

    testutil::TempDir dir;
    std::string root;
    std::string database;
    Trova::OS block{nullptr};
    Trova::Execute item{&block};
};

TEST_F(DirectDataTest, MeasuresTheListedFilesThatExist) {
    auto rule = Rule(database, "SELECT path FROM files");
    EXPECT_EQ(30u, rule->Measure());
    EXPECT_TRUE(rule->files.empty());

    rule->listFiles = true;
    EXPECT_EQ(30u, rule->Measure());
    const std::map<std::string, std::uint64_t> expected{{In("ten.bin"), 10}, {In("twenty.bin"), 20}};
    EXPECT_EQ(expected, rule->files);

    // A later scan lists what is there then, and nothing of before.
    fs::remove(dir.path() / "ten.bin");
    EXPECT_EQ(20u, rule->Measure());
    EXPECT_EQ((std::map<std::string, std::uint64_t>{{In("twenty.bin"), 20}}), rule->files);

    EXPECT_EQ((std::vector<std::string>{In("ten.bin"), In("gone.bin"), In("twenty.bin")}), rule->ListedPaths());
}

TEST_F(DirectDataTest, EveryExpandedDatabaseIsQueried) {
    for (const char* profile : {"p1", "p2"}) {
        fs::create_directories(dir.path() / profile);
        fs::copy_file(dir.path() / "cache.db", dir.path() / profile / "cache.db");
    }
    auto rule = Rule(In("<P[0-9]>/cache.db"), "SELECT path FROM files");
    EXPECT_EQ(6u, rule->ListedPaths().size());
    EXPECT_EQ(30u, rule->Measure());  // the same file listed twice is one file
    EXPECT_EQ(0u, Rule(In("missing/cache.db"), "SELECT path FROM files")->Measure());
}

TEST_F(DirectDataTest, RowsOfAnotherShapeAreLoggedAndSkipped) {
    ruletest::LogCapture log;
    std::vector<std::string> out;
    EXPECT_EQ(0, Trova::QueryPaths(database, "SELECT path, kind FROM files", out));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(4, log.Count("info", "sql error"));
    EXPECT_NE(0, Trova::QueryPaths(database, "SELECT * FROM no_such_table", out));
    EXPECT_TRUE(out.empty());
}

TEST_F(DirectDataTest, MissingDatabaseIsNotCreated) {
    std::vector<std::string> out;
    const std::string missing = In("never.db");
    EXPECT_NE(0, Trova::QueryPaths(missing, "SELECT 1", out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(fs::exists(dir.path() / "never.db"));
}

TEST_F(DirectDataTest, LockedDatabaseIsReadThroughACopy) {
    const std::vector<std::string> before = ruletest::TempFolderEntries();
    {
        ruletest::DatabaseLock lock(database);
        ASSERT_TRUE(lock.Locked());
        ASSERT_EQ(5, ruletest::ProbeDatabase(database));  // SQLITE_BUSY for a plain reader

        auto rule = Rule(database, "SELECT path FROM files");
        rule->listFiles = true;
        EXPECT_EQ(30u, rule->Measure());
        EXPECT_EQ(2u, rule->files.size());

        // Several readers at once each get their own copy.
        std::vector<std::vector<std::string>> results(4);
        std::vector<std::thread> threads;
        for (auto& result : results)
            threads.emplace_back([&] { Trova::QueryPaths(database, "SELECT path FROM files", result); });
        for (auto& thread : threads)
            thread.join();
        for (const auto& result : results)
            EXPECT_EQ(3u, result.size());
    }
    // No copy is left behind.
    for (const auto& name : ruletest::TempFolderEntries()) {
        if (name.rfind("tmp", 0) == 0) {
            EXPECT_TRUE(std::binary_search(before.begin(), before.end(), name)) << name << " left in the temp folder";
        }
    }
}

TEST_F(DirectDataTest, EndForwardsToTheItem) {
    auto rule = Rule(database, "SELECT path FROM files");
    rule->ChildEnd(rule.get());
    EXPECT_EQ(1u, rule->ended.load());
    EXPECT_EQ(1u, item.ended.load());
}

}  // namespace
