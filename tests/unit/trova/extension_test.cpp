// The large-file and duplicate scan over small fixture trees: which files
// land in which category, what the walk never enters, and that duplicate
// groups hold only files with identical contents, each read no more than
// needed.
#include "trova/extension/citem.h"
#include "trova/extension/extensionscanner.h"

#include "fendrel/fastdir.h"
#include "fendrel/file.h"
#include "fendrel/platform.h"
#include "fendrel/utils.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <filesystem>
#include <map>
#include <mutex>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMiB = 1048576;

// The first rule file a process loads fixes the folders never walked, so
// every test shares this one, whose white folder is reached through an
// environment variable.
const char kRules[] = R"(<wu>
  <ok><vj><om om="%CLEAN_TEST_WHITE%"/></vj></ok>
  <fn>
    <cd ka="1" ob="mp4|mkv" vk="1"/>
    <cd ka="2" ob="zip" vk="1"/>
    <cd ka="3" ob="ZIP" vk="1"/>
    <cd ka="4" ob="gz" vk="1"/>
    <cd ka="5" ob="iso" vk="4096"/>
  </fn>
  <dq>
    <aa ka="10" rc="1" sv="Videos"/>
    <aa ka="11" rc="2|4" sv="Archives"/>
    <aa ka="12" rc="" sv="Nothing"/>
    <aa ka="13" rc="5" sv="Images"/>
  </dq>
</wu>)";

struct Recorder : Trova::ExtensionCleanCbk {
    void OnTotal(std::uint64_t value) override { total = value; }
    void OnCategory(std::int32_t index, const std::string& name, std::uint64_t size) override {
        categories.push_back({index, name, size});
    }
    void OnBigFiles(std::int32_t index, const std::vector<Trova::BigFileRecord>& list) override {
        files[index] = list;
    }
    void OnDuplicates(std::int32_t index, const std::vector<Trova::DuplicateGroup>& list) override {
        groups[index] = list;
    }
    void OnFinished(std::int32_t code) override { finished.push_back(code); }
    void OnNumber(std::uint64_t) override {}
    void OnCurrentPath(const std::wstring& path) override {
        std::lock_guard<std::mutex> lock(mutex);
        paths.push_back(Utils::utf16ToUtf8(path));
    }

    struct Category {
        std::int32_t index;
        std::string name;
        std::uint64_t size;
    };
    std::uint64_t total = 0;
    std::vector<Category> categories;
    std::map<int, std::vector<Trova::BigFileRecord>> files;
    std::map<int, std::vector<Trova::DuplicateGroup>> groups;
    std::vector<std::int32_t> finished;
    std::mutex mutex;
    std::vector<std::string> paths;
};

class ExtensionScan : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_white = fs::path(File::TempPath()) / "clean-test-white" / "never-walked";
        fs::create_directories(s_white);
#if defined(FENDREL_WINDOWS)
        _wputenv_s(L"CLEAN_TEST_WHITE", s_white.wstring().c_str());
#else
        setenv("CLEAN_TEST_WHITE", s_white.string().c_str(), 1);
#endif
    }

    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(s_white.parent_path(), ignored);
    }

    void SetUp() override {
        testutil::WriteBytes(m_dir.path() / "rules.xml", kRules);
        ASSERT_TRUE(scanner.Load((m_dir.path() / "rules.xml").wstring(), false));
        scanner.SetCallback(&recorder, 1);
    }

    // A file of `size` bytes: `seed` fills it, `tail` replaces its last byte.
    void File(const std::string& relative, std::uint64_t size, char seed = 'a', char tail = 0) {
        const fs::path path = m_dir.path() / "tree" / relative;
        fs::create_directories(path.parent_path());
        std::string bytes(static_cast<std::size_t>(size), seed);
        if (tail != 0)
            bytes.back() = tail;
        testutil::WriteBytes(path, bytes);
    }
    std::string At(const std::string& relative) const {
        return Utils::utf16ToUtf8((m_dir.path() / "tree" / relative).make_preferred().wstring());
    }
    void Run(Trova::ExtensionMode mode) {
        ASSERT_TRUE(scanner.Start((m_dir.path() / "tree").wstring(), mode));
        scanner.WaitFinished();
    }

    static fs::path s_white;
    testutil::TempDir m_dir;
    Trova::ExtensionScanner scanner;
    Recorder recorder;
};

fs::path ExtensionScan::s_white;

TEST_F(ExtensionScan, ClassifiesByLowerCaseExtensionAboveTheEntrysSize) {
    const Trova::ExtensionCleanFile& rules = *scanner.Rules();
    struct Case {
        const wchar_t* name;
        std::uint64_t size;
        std::uint32_t id;
    } cases[] = {
        {L"clip.mp4", kMiB, 0xFFFFFFFFu},          // must be larger than 1 MiB
        {L"clip.mp4", kMiB + 1, 1},
        {L"ARCHIVE.ZIP", 2 * kMiB, 2},             // lower-cased; the "ZIP" entry never matches
        {L"a.tar.gz", 2 * kMiB, 4},                 // the part after the last dot
        {L"README", 2 * kMiB, 0xFFFFFFFFu},
        {L"disk.iso", 3ull << 30, 0xFFFFFFFFu},     // 4096 MiB is 4 GiB, not a wrapped 0
        {L"disk.iso", (4ull << 30) + 1, 5},
    };
    for (const Case& c : cases) {
        CItem item(CItem::kFile, c.name, nullptr);
        EXPECT_EQ(rules.Classify(item.Extension(), c.size), c.id) << Utils::utf16ToUtf8(c.name) << " " << c.size;
    }
    EXPECT_EQ(rules.CategoryFor(4)->sv.Get(), "Archives");
    EXPECT_EQ(rules.CategoryFor(3), nullptr) << "an id no category lists";
}

TEST_F(ExtensionScan, RootListsBecomeTheWalksRoots) {
    using Roots = std::vector<std::wstring>;
#if defined(FENDREL_WINDOWS)
    EXPECT_EQ(Trova::ExtensionScanner::ParseRoots(L"C:|D:"), (Roots{L"C:\\", L"D:\\"}));
    EXPECT_EQ(Trova::ExtensionScanner::ParseRoots(L"C:"), (Roots{L"C:\\"}));
    EXPECT_EQ(Trova::ExtensionScanner::ParseRoots(L"C:\\Data\\"), (Roots{L"C:\\Data"}));
    EXPECT_EQ(Trova::ExtensionScanner::ParseRoots(L" C:\\ "), (Roots{L"C:\\"}));
#else
    EXPECT_EQ(Trova::ExtensionScanner::ParseRoots(L"/|/home"), (Roots{L"/", L"/home/"}));
    EXPECT_EQ(Trova::ExtensionScanner::ParseRoots(L"/data/"), (Roots{L"/data"}));
    EXPECT_EQ(Trova::ExtensionScanner::ParseRoots(L" / "), (Roots{L"/"}));
#endif
    EXPECT_TRUE(Trova::ExtensionScanner::ParseRoots(L" | ").empty());
    EXPECT_FALSE(scanner.Start(L"  ", Trova::ExtensionMode::BigFiles));
}

TEST_F(ExtensionScan, BigFilesPerCategoryLargestFirstWithoutWhatTheWalkSkips) {
    File("movies/long.mkv", 3 * kMiB);
    File("movies/short.mp4", kMiB + 10);
    File("movies/tiny.mp4", 1000);                 // below the minimum: never an item
    File("backup.zip", 2 * kMiB);
    File("notes", 2 * kMiB);                       // no extension
#if !defined(FENDREL_WINDOWS)
    fs::create_directory_symlink(s_white, m_dir.path() / "tree" / "white");  // a link, never walked
    fs::create_directory_symlink(m_dir.path() / "tree", m_dir.path() / "tree" / "movies" / "loop");
    File(".secret.mp4", 2 * kMiB);                 // hidden
    fs::create_directory_symlink(m_dir.path() / "tree" / "movies", m_dir.path() / "tree" / "linked");
    fs::create_symlink(m_dir.path() / "tree" / "backup.zip", m_dir.path() / "tree" / "alias.zip");
#endif
    testutil::WriteBytes(s_white / "inside.mp4", std::string(2 * kMiB, 'w'));

    Run(Trova::ExtensionMode::BigFiles);

    EXPECT_EQ(recorder.finished, std::vector<std::int32_t>{0});
    EXPECT_EQ(recorder.total, 3 * kMiB + kMiB + 10 + 2 * kMiB);
    ASSERT_EQ(recorder.categories.size(), 4u) << "every category is reported, also empty ones";
    EXPECT_EQ(recorder.categories[0].name, "Videos");
    EXPECT_EQ(recorder.categories[0].size, 4 * kMiB + 10);
    EXPECT_EQ(recorder.categories[1].name, "Archives");
    EXPECT_EQ(recorder.categories[2].size, 0u);
    ASSERT_EQ(recorder.files[0].size(), 2u);
    EXPECT_EQ(recorder.files[0][0].fileName, At("movies/long.mkv"));
    EXPECT_EQ(recorder.files[0][1].fileName, At("movies/short.mp4"));
    ASSERT_EQ(recorder.files[1].size(), 1u);
    EXPECT_EQ(recorder.files[1][0].fileName, At("backup.zip"));
    EXPECT_TRUE(recorder.files[2].empty());
    // A period of 1 reports every file that became an item.
    EXPECT_EQ(recorder.paths.size(), 4u);

    // The tree: folders done and sorted by size, links kept as items.
    const CItem* root = scanner.Root();
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->Has(CItem::kDone));
    EXPECT_EQ(root->folder->children.front()->name, L"movies");
}

TEST_F(ExtensionScan, AWhiteFolderIsNeverWalked) {
    const fs::path parent = s_white.parent_path();
    testutil::WriteBytes(s_white / "inside.mp4", std::string(2 * kMiB, 'w'));
    fs::create_directories(parent / "walked");
    testutil::WriteBytes(parent / "walked" / "seen.mp4", std::string(2 * kMiB, 's'));
    ASSERT_TRUE(scanner.Start(parent.wstring(), Trova::ExtensionMode::BigFiles));
    scanner.WaitFinished();
    ASSERT_EQ(recorder.files[0].size(), 1u);
    EXPECT_EQ(recorder.files[0][0].fileName, Utils::utf16ToUtf8((parent / "walked" / "seen.mp4").wstring()));
    fs::remove_all(parent / "walked");
}

TEST_F(ExtensionScan, AStopInTheMiddleReportsWithItsCode) {
    for (int i = 0; i < 8; ++i) {
        File("a/" + std::to_string(i) + ".mp4", kMiB + 8192, static_cast<char>('a' + i));
        File("b/" + std::to_string(i) + ".mp4", kMiB + 8192, static_cast<char>('a' + i));
    }
    std::promise<void> firstRead;
    std::atomic<bool> told{false};
    scanner.SetDigest([&](const CItem&, std::uint64_t) {
        if (!told.exchange(true))
            firstRead.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return std::vector<std::uint8_t>{};
    });
    ASSERT_TRUE(scanner.Start((m_dir.path() / "tree").wstring(), Trova::ExtensionMode::Duplicates));
    firstRead.get_future().wait();
    scanner.Stop(2, nullptr);
    scanner.WaitFinished();
    EXPECT_EQ(recorder.finished, std::vector<std::int32_t>{2});
    EXPECT_EQ(recorder.categories.size(), 4u) << "a stopped scan still reports every category";
}

TEST_F(ExtensionScan, AFileChangedAfterTheWalkSawItIsNoDuplicate) {
    const std::uint64_t size = kMiB + 4096;
    File("a/one.mp4", size, 'x');
    File("b/two.mp4", size, 'x');
    File("b/three.mp4", size, 'x');
    const fs::path changed = m_dir.path() / "tree" / "b" / "three.mp4";
    scanner.SetConfirm([&](const std::vector<CItem*>& group) {
        // The same bytes, written again after the walk: a newer time.
        fs::last_write_time(changed, fs::last_write_time(changed) + std::chrono::hours(1));
        return Trova::ExtensionScanner::CompareContents(group, nullptr);
    });
    Run(Trova::ExtensionMode::Duplicates);
    ASSERT_EQ(recorder.groups[0].size(), 1u);
    EXPECT_EQ(recorder.groups[0][0].files.size(), 2u);
    EXPECT_EQ(std::count(recorder.groups[0][0].files.begin(), recorder.groups[0][0].files.end(), At("b/three.mp4")), 0);
}

TEST_F(ExtensionScan, DuplicatesAreIdenticalFilesEachReadNoMoreThanNeeded) {
    const std::uint64_t size = kMiB + 4096;
    File("a/one.mp4", size, 'x');
    File("b/two.mp4", size, 'x');
    File("b/three.mp4", size, 'x', 'y');   // the same first 128 KiB, another last byte
    File("c/alone.mp4", size + 1, 'x');    // alone in its size
    File("c/other.mkv", size, 'z');        // same size, other contents
    fs::create_hard_link(m_dir.path() / "tree" / "a" / "one.mp4", m_dir.path() / "tree" / "c" / "linked.mp4");

    std::mutex mutex;
    std::map<std::string, int> heads, wholes;
    scanner.SetDigest([&](const CItem& item, std::uint64_t limit) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++heads[Utils::utf16ToUtf8(item.Path())];
        }
        return FastDir::Sha512(item.Path(), limit, nullptr).bytes;
    });
    scanner.SetConfirm([&](const std::vector<CItem*>& group) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (const CItem* item : group)
                ++wholes[Utils::utf16ToUtf8(item->Path())];
        }
        return Trova::ExtensionScanner::CompareContents(group, nullptr);
    });
    Run(Trova::ExtensionMode::Duplicates);

    EXPECT_EQ(recorder.finished, std::vector<std::int32_t>{0});
    ASSERT_EQ(recorder.groups[0].size(), 1u);
    const Trova::DuplicateGroup& group = recorder.groups[0][0];
    EXPECT_EQ(group.size, size);
    ASSERT_EQ(group.files.size(), 2u) << "one name per file: the hard link is not a second copy";
    EXPECT_EQ(std::count(group.files.begin(), group.files.end(), At("b/two.mp4")), 1);
    EXPECT_EQ(recorder.total, size);

    EXPECT_EQ(heads.count(At("c/alone.mp4")) + wholes.count(At("c/alone.mp4")), 0u) << "never opened";
    for (const auto& [path, count] : heads)
        EXPECT_EQ(count, 1) << path << " head read twice";
    // Only head-equal members are read whole: never the file with other contents.
    EXPECT_EQ(wholes.count(At("c/other.mkv")), 0u);
    EXPECT_EQ(wholes.count(At("b/three.mp4")), 1u);
}

}  // namespace
