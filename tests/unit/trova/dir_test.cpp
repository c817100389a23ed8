// Folder rules: the file filter, depth limits, the whole and the split walk,
// template/copy accounting, and (Linux) that links are never followed.
#include "trova/clean/dir.h"

#include "trova/clean/cachecleancbk.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#if !defined(_WIN32)
#  include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using Trova::Dir;

namespace {

// Reads a rule from the attributes of one "vg" element, e.g. R"(od="*.log")".
std::unique_ptr<Dir> ReadRule(const std::string& attributes, Trova::BaseObject* parent = nullptr) {
    pugi::xml_document doc;
    const std::string text = "<vg " + attributes + "/>";
    EXPECT_TRUE(doc.load_string(text.c_str())) << text;
    auto rule = std::make_unique<Dir>(parent);
    rule->Read(doc.first_child());
    return rule;
}

// Stands in for the item above a rule: counts ends and collects sizes.
class CountingParent : public Trova::SizeBase, public Trova::IChildEndCount {
public:
    explicit CountingParent(std::uint32_t kind = Trova::kKindExecute) : SizeBase(nullptr, kind) {}
    void ChildEnd(Trova::BaseObject*) override { ++ended; }
};

// Records the files a walk reports to the running scan.
class RecordingCallback : public Trova::CacheCleanCbk {
public:
    void OnTotal(std::uint64_t, std::uint64_t) override {}
    void OnGroup(std::string, std::uint64_t, std::uint64_t, std::uint32_t) override {}
    void OnProgram(std::string, std::uint64_t, std::uint64_t, std::uint32_t) override {}
    void OnItem(std::string, std::uint64_t, std::uint32_t, bool) override {}
    void OnItemFiles(const std::map<std::string, std::uint64_t>&) override {}
    void OnRunningSize(std::uint64_t, std::uint64_t) override {}
    void OnFileFound(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex);
        found.push_back(path);
    }
    void OnScanEnd(std::uint8_t) override {}
    void OnProgress(std::uint32_t, std::uint32_t) override {}

    std::mutex mutex;
    std::vector<std::string> found;
};

class ScopedCallback {
public:
    explicit ScopedCallback(Trova::CacheCleanCbk* callback) { Trova::g_scanCallback = callback; }
    ~ScopedCallback() { Trova::g_scanCallback = nullptr; }
};

std::string Native(const fs::path& path) { return path.string(); }

// The split walk as the scan driver runs it, on one thread: copies are
// taken last-pushed first, the bytes of each level go to the template, and
// a copy that pushed nothing is destroyed. Returns the bytes found.
std::uint64_t RunSplitWalk(Dir& templateRule, const std::string& folder) {
    std::vector<Dir*> queue{new Dir(&templateRule, folder)};
    std::uint64_t total = 0;
    while (!queue.empty()) {
        Dir* copy = queue.back();
        queue.pop_back();
        bool pushedAny = false;
        const std::uint64_t bytes = copy->WalkLevel([&](Dir* next) { queue.push_back(next); }, pushedAny);
        if (bytes != 0) {
            templateRule.AddSize(bytes, nullptr);
        }
        total += bytes;
        if (!pushedAny) {
            delete copy;
        }
    }
    return total;
}

TEST(DirFilter, AttributesDecideWhichNamesPass) {
    struct Case {
        const char* attributes;
        const char* name;
        bool passes;
    };
    const Case cases[] = {
        {"", "anything.bin", true},  // no filter attribute: every file is junk
        {R"(od="*.log;*.tmp")", "a.LOG", true},
        {R"(od="*.log;*.tmp")", "b.tmp", true},
        {R"(od="*.log;*.tmp")", "c.txt", false},
        {R"(od="*.log;*.tmp")", "a.log.txt", false},
        {R"(od="*.log;*.tmp" mz="keep*")", "keep.log", false},
        {R"(od="*.log;*.tmp" mz="keep*")", "a.log", true},
        {R"(mz="keep*")", "KEEP.txt", false},
        {R"(mz="")", "a.log", true},  // an empty exclusion list excludes nothing
        {R"(od="")", "a.log", false},  // present but empty admits nothing
        {R"(ur="/^cache_[0-9]+$/")", "Cache_12", true},
        {R"(ur="/^cache_[0-9]+$/")", "cache_12.bak", false},  // whole name, not a search
        {R"(ur="/^cache_[0-9]+$/")", "x_cache_12", false},
        {R"(ur="")", "cache_12", false},
        {R"(ur="/[unclosed/")", "[unclosed", false},
        {R"(od="*.log" ur="/^a.*$/")", "a.log", true},  // all three must agree
        {R"(od="*.log" ur="/^a.*$/")", "b.log", false},
        {R"(od="*.log" ur="/^a.*$/")", "a.txt", false},
        {R"(ur="/^a.*$/" mz="*.bak")", "a.bak", false},
    };
    for (const Case& c : cases) {
        const auto rule = ReadRule(c.attributes);
        EXPECT_EQ(rule->FileFilter(c.name), c.passes) << c.attributes << " on " << c.name;
    }
}

// root/f0 (1 byte), root/a/f1 (10), root/a/b/f2 (100), root/a/b/c/f3 (1000):
// the sum tells exactly which levels were walked.
class DirTree : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = dir_.path() / "root";
        fs::create_directories(root_ / "a" / "b" / "c");
        testutil::WriteBytes(root_ / "f0", "x");
        testutil::WriteBytes(root_ / "a" / "f1", std::string(10, 'x'));
        testutil::WriteBytes(root_ / "a" / "b" / "f2", std::string(100, 'x'));
        testutil::WriteBytes(root_ / "a" / "b" / "c" / "f3", std::string(1000, 'x'));
    }

    testutil::TempDir dir_;
    fs::path root_;
};

TEST_F(DirTree, DepthAndDescentLimitTheLevelsWalked) {
    struct Case {
        const char* attributes;
        bool descend;
        std::uint64_t bytes;
    };
    const Case cases[] = {
        {"", true, 1111},                  // unlimited
        {R"(jb="-1")", true, 1111},
        {R"(jb="0")", true, 11},           // the folder and its direct subfolders
        {R"(jb="1")", true, 111},
        {R"(jb="-2")", true, 1},           // other negatives: the folder only
        {R"(ky="n")", true, 1},
        {R"(ky="no" jb="-1")", true, 1},
        {R"(ky="Y" jb="0")", true, 11},
        {"", false, 1},                    // the caller's descend flag also holds
    };
    for (const Case& c : cases) {
        auto rule = ReadRule(c.attributes);
        EXPECT_EQ(rule->WalkAll(Native(root_), c.descend, 0), c.bytes) << c.attributes;
        if (c.descend) {
            // The split walk honours the same limits.
            EXPECT_EQ(RunSplitWalk(*rule, Native(root_)), c.bytes) << "split " << c.attributes;
        }
    }
}

TEST_F(DirTree, ReportsEveryPassingFileAndListsThemOnRequest) {
    RecordingCallback callback;
    ScopedCallback scoped(&callback);
    const std::map<std::string, std::uint64_t> expected = {
        {Native(root_ / "f0"), 1},
        {Native(root_ / "a" / "b" / "f2"), 100},
    };

    auto rule = ReadRule(R"(od="f0;f2")");
    rule->listFiles = true;
    EXPECT_EQ(rule->WalkAll(Native(root_), true, 0), 101u);
    EXPECT_EQ(rule->files, expected);
    std::sort(callback.found.begin(), callback.found.end());
    EXPECT_EQ(callback.found, (std::vector<std::string>{expected.begin()->first, expected.rbegin()->first}));

    // Without listFiles the map stays empty; the files are still reported.
    callback.found.clear();
    auto unlisted = ReadRule(R"(od="f0;f2")");
    EXPECT_EQ(unlisted->WalkAll(Native(root_), true, 0), 101u);
    EXPECT_TRUE(unlisted->files.empty());
    EXPECT_EQ(callback.found.size(), 2u);
}

TEST_F(DirTree, FolderThatCannotBeListedGivesNothing) {
    RecordingCallback callback;
    ScopedCallback scoped(&callback);
    auto rule = ReadRule("");
    rule->listFiles = true;
    EXPECT_EQ(rule->WalkAll(Native(root_ / "missing"), true, 0), 0u);
    EXPECT_EQ(rule->WalkAll(Native(root_ / "f0"), true, 0), 0u);  // a file given as folder

    Dir copy(rule.get(), Native(root_ / "missing"));
    bool pushedAny = true;
    EXPECT_EQ(copy.WalkLevel([](Dir*) { FAIL() << "nothing to push"; }, pushedAny), 0u);
    EXPECT_FALSE(pushedAny);
    EXPECT_TRUE(rule->files.empty());
    EXPECT_TRUE(callback.found.empty());
}

TEST_F(DirTree, SplitWalkPushesOneCopyPerSubfolderAndEndsTheTemplateOnce) {
    fs::create_directories(root_ / "d");
    fs::create_directories(root_ / "e");
    testutil::WriteBytes(root_ / "d" / "f4", std::string(10000, 'x'));
    CountingParent item;
    auto rule = ReadRule("", &item);

    auto* first = new Dir(rule.get(), Native(root_));
    EXPECT_EQ(rule->liveCopies, 1u);
    std::vector<Dir*> pushed;
    bool pushedAny = false;
    EXPECT_EQ(first->WalkLevel([&](Dir* copy) { pushed.push_back(copy); }, pushedAny), 1u);
    ASSERT_TRUE(pushedAny);

    // Subfolders a, d and e: two new copies, then the walked copy itself,
    // last, now holding the subfolder the other two did not take.
    ASSERT_EQ(pushed.size(), 3u);
    EXPECT_EQ(pushed.back(), first);
    std::set<std::string> folders;
    for (Dir* copy : pushed) {
        EXPECT_FALSE(copy->isTemplate);
        EXPECT_EQ(copy->TemplateRule(), rule.get());
        EXPECT_EQ(copy->od, rule->od);  // shared
        EXPECT_NE(copy->uk, rule->uk);  // its own
        EXPECT_EQ(copy->level, 1);
        folders.insert(copy->uk->Get());
    }
    EXPECT_EQ(folders, (std::set<std::string>{Native(root_ / "a"), Native(root_ / "d"), Native(root_ / "e")}));
    EXPECT_EQ(rule->liveCopies, 3u);

    // Only the last copy to go ends the template, whichever it is.
    for (Dir* copy : pushed) {
        EXPECT_EQ(item.ended, 0u);
        delete copy;
    }
    EXPECT_EQ(rule->liveCopies, 0u);
    EXPECT_EQ(item.ended, 1u);

    // The driver's full run: every byte reaches the item, one end again.
    item.ended = 0;
    EXPECT_EQ(RunSplitWalk(*rule, Native(root_)), 11111u);
    EXPECT_EQ(item.size, 11111u);
    EXPECT_EQ(rule->size, 11111u);
    EXPECT_EQ(item.ended, 1u);
}

TEST(DirAccounting, SizesClimbToTheItemButStopBelowAnExtensionRule) {
    CountingParent item;
    auto rule = ReadRule("", &item);
    {
        Dir copy(rule.get(), "unused");
        copy.AddSize(5, nullptr);
        EXPECT_EQ(copy.size, 5u);
    }
    rule->AddSize(7, nullptr);
    EXPECT_EQ(rule->size, 12u);
    EXPECT_EQ(item.size, 12u);
    EXPECT_EQ(item.ended, 1u);  // the only copy went

    CountingParent extensionRule(Trova::kKindExtensionRule);
    auto directory = ReadRule("", &extensionRule);
    directory->AddSize(9, nullptr);
    EXPECT_EQ(directory->size, 9u);
    EXPECT_EQ(extensionRule.size, 0u);
}

#if !defined(_WIN32)
// Linux only: under Wine a Linux link is not a link at all (and deleting it
// deletes its target), so link safety is shown natively.
TEST_F(DirTree, LinksAreListedButNeverFollowed) {
    const fs::path outside = dir_.path() / "outside";
    fs::create_directories(outside);
    const std::uint64_t canarySize = 50000;
    testutil::WriteBytes(outside / "canary.dat", std::string(canarySize, 'c'));
    fs::create_directory_symlink(outside, root_ / "out");
    fs::create_directory_symlink(root_, root_ / "loop");
    fs::create_symlink(outside / "canary.dat", root_ / "canary.lnk");

    RecordingCallback callback;
    ScopedCallback scoped(&callback);
    auto rule = ReadRule(R"(jb="-1")");
    rule->listFiles = true;
    const std::uint64_t bytes = rule->WalkAll(Native(root_), true, 0);

    // Everything listed is in the tree; a link may be listed as a file, but
    // never with its target's size.
    std::uint64_t sum = 0;
    for (const auto& [path, size] : rule->files) {
        EXPECT_EQ(path.find(Native(root_ / "out") + "/"), std::string::npos) << path;
        EXPECT_EQ(path.find(Native(root_ / "loop") + "/"), std::string::npos) << path;
        EXPECT_EQ(path.find("canary.dat"), std::string::npos) << path;
        struct stat own {};
        ASSERT_EQ(::lstat(path.c_str(), &own), 0) << path;
        if (S_ISLNK(own.st_mode)) {
            EXPECT_LE(size, static_cast<std::uint64_t>(own.st_size)) << path;
        } else {
            EXPECT_EQ(size, static_cast<std::uint64_t>(own.st_size)) << path;
        }
        sum += size;
    }
    EXPECT_EQ(bytes, sum);
    EXPECT_LT(bytes, canarySize);
    for (const char* real : {"f0", "a/f1", "a/b/f2", "a/b/c/f3"}) {
        EXPECT_EQ(rule->files.count(Native(root_ / real)), 1u) << real;
    }
    EXPECT_EQ(callback.found.size(), rule->files.size());

    // The split walk pushes real subfolders only.
    Dir copy(rule.get(), Native(root_));
    std::vector<Dir*> pushed;
    bool pushedAny = false;
    copy.WalkLevel([&](Dir* next) { pushed.push_back(next); }, pushedAny);
    ASSERT_EQ(pushed.size(), 1u);
    EXPECT_EQ(pushed[0], &copy);
    EXPECT_EQ(copy.uk->Get(), Native(root_ / "a"));
    EXPECT_TRUE(fs::exists(outside / "canary.dat"));
}
#endif

}  // namespace
