// The folder mover on real fixture trees: known folders and application
// folders moved into a root and back, the record file, refusals of unsafe
// requests, and faults injected at every step (a failing copy, a source
// deletion that stops half-way, a link that cannot be made, a process killed
// with SIGKILL) after which the next Init leaves every file whole in exactly
// one place with its path working.
// Linux runs under a temporary HOME and XDG_CONFIG_HOME. Under Wine only
// what Wine can show runs: known-folder reading, the record file through the
// profile functions, and an application folder whose junction cannot be
// made (Wine has none) getting its content back.
#include "trova/mover/movermanager.h"

#include "fendrel/folderops.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include "fendrel/userdirs.h"
#  include <csignal>
#  include <sys/stat.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;
using Trova::KnownFolderInfo;
using Trova::MoverManager;

namespace {

const std::wstring kFolderName = std::wstring(1, fendrel::kPathSep) + L"CleanMover";

// Files of every fixture tree: empty, small, larger than one read, nested.
const std::vector<std::pair<std::string, std::string>>& FixtureFiles() {
    static const std::vector<std::pair<std::string, std::string>> files = {
        {"a.txt", "alpha"},
        {"e.log", ""},
        {"sub/b.bin", std::string(70000, 'b')},
        {"sub/deep/c.dat", "gamma"},
        {"z.txt", "zeta"},
    };
    return files;
}

std::uint64_t FixtureBytes() {
    std::uint64_t bytes = 0;
    for (const auto& file : FixtureFiles())
        bytes += file.second.size();
    return bytes;
}

void MakeTree(const fs::path& dir) {
    for (const auto& file : FixtureFiles()) {
        fs::create_directories((dir / file.first).parent_path());
        testutil::WriteBytes(dir / file.first, file.second);
    }
}

bool FileWhole(const fs::path& path, const std::string& bytes) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && testutil::ReadBytes(path) == bytes;
}

// Every fixture file is whole below the folder (which may be a link).
bool TreeWhole(const fs::path& dir) {
    for (const auto& file : FixtureFiles()) {
        if (!FileWhole(dir / file.first, file.second))
            return false;
    }
    return true;
}

std::vector<fs::path> Children(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        out.push_back(entry.path());
    return out;
}

// Taking back a copy that stopped part-way keeps what the copy did not
// bring: a file written there since, or one larger than its original.
TEST(MoverPartialCopy, OnlyTheCopysOwnPartGoes) {
    testutil::TempDir dir;
    const fs::path original = dir.path() / "original";
    const fs::path copy = dir.path() / "copy";
    MakeTree(original);
    fs::create_directories(copy / "sub" / "deep");
    testutil::WriteBytes(copy / "a.txt", "alpha");
    testutil::WriteBytes(copy / "sub" / "b.bin", std::string(1000, 'b'));  // cut short
    testutil::WriteBytes(copy / "sub" / "new.txt", "the user's");
    testutil::WriteBytes(copy / "z.txt", "zeta and more");                  // larger: not the copy's

    EXPECT_FALSE(FolderOps::RemovePartialCopy(copy.wstring(), original.wstring()));
    EXPECT_FALSE(fs::exists(copy / "a.txt"));
    EXPECT_FALSE(fs::exists(copy / "sub" / "b.bin"));
    EXPECT_FALSE(fs::exists(copy / "sub" / "deep"));
    EXPECT_TRUE(FileWhole(copy / "sub" / "new.txt", "the user's"));
    EXPECT_TRUE(FileWhole(copy / "z.txt", "zeta and more"));
    EXPECT_TRUE(TreeWhole(original));

    fs::remove(copy / "sub" / "new.txt");
    fs::remove(copy / "z.txt");
    EXPECT_TRUE(FolderOps::RemovePartialCopy(copy.wstring(), original.wstring()));
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(TreeWhole(original));
    EXPECT_TRUE(FolderOps::RemovePartialCopy(copy.wstring(), original.wstring()));  // nothing there
}

}  // namespace

#if !defined(_WIN32)

namespace {

// A real folder (not a link) holding at least one file of the fixture.
bool HoldsFixtureFiles(const fs::path& dir) {
    std::error_code ec;
    if (fs::is_symlink(dir, ec) || !fs::is_directory(dir, ec))
        return false;
    for (const auto& file : FixtureFiles()) {
        if (fs::exists(dir / file.first, ec))
            return true;
    }
    return false;
}

std::string ReadText(const fs::path& path) {
    return testutil::ReadBytes(path);
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}


using testutil::EnvOverride;

// A throwaway home with its own XDG configuration, a "drive" for the root
// and the six user folders at their defaults.
class MoverTest : public ::testing::Test {
protected:
    testutil::TempDir m_base;
    EnvOverride m_home{"HOME", (m_base.path() / "home").string()};
    EnvOverride m_config{"XDG_CONFIG_HOME", (m_base.path() / "config").string()};

    void SetUp() override {
        fs::create_directories(Home());
        fs::create_directories(m_base.path() / "config");
        fs::create_directories(Drive());
        for (const char* name : {"Downloads", "Videos", "Music", "Pictures", "Documents", "Desktop"})
            fs::create_directories(Home() / name);
        FolderOps::SetFaults({});
        KnownFolderInfo::s_movedRoot.clear();
    }
    void TearDown() override {
        FolderOps::SetFaults({});
        KnownFolderInfo::s_movedRoot.clear();
    }

    fs::path Home() const { return m_base.path() / "home"; }
    fs::path Drive() const { return m_base.path() / "drive"; }
    fs::path Root() const { return Drive() / "CleanMover"; }
    fs::path Ini() const { return Root() / "mover.ini"; }
    fs::path AppPath(const std::string& name = "Data") const { return Home() / "apps" / name; }

    // A manager on the drive, as the page starts it.
    std::unique_ptr<MoverManager> Start(const fs::path& prefix = {}) {
        auto manager = std::make_unique<MoverManager>(nullptr, kFolderName);
        manager->Init((prefix.empty() ? Drive() : prefix).wstring());
        return manager;
    }

    fs::path MakeApp(const std::string& name = "Data") {
        MakeTree(AppPath(name));
        fs::create_symlink("a.txt", AppPath(name) / "link");
        return AppPath(name);
    }
};

TEST_F(MoverTest, KnownFolderMovesBehindLinkAndComesBackWithCodes) {
    MakeTree(Home() / "Downloads");
    auto mover = Start();
    EXPECT_EQ(KnownFolderInfo::s_movedRoot, Root().wstring());

    ASSERT_EQ(mover->MoveKnownFolder(0), Trova::kMoverDone);
    const fs::path moved = Root() / "Windows" / "Downloads";
    EXPECT_EQ(UserDirs::Folder("DOWNLOAD"), moved.string());
    EXPECT_TRUE(fs::is_symlink(Home() / "Downloads"));
    EXPECT_EQ(fs::read_symlink(Home() / "Downloads"), moved);
    EXPECT_TRUE(TreeWhole(Home() / "Downloads"));
    EXPECT_NE(ReadText(Ini()).find("[MovedKnownFolder]\nDownloads=" + moved.string() + "\n"), std::string::npos)
        << ReadText(Ini());
    EXPECT_EQ(mover->MoveKnownFolder(0), Trova::kMoverAlreadyMoved);

    // A new run shows the same state.
    mover = Start();
    ASSERT_EQ(mover->KnownFolders().count(L"Downloads"), 1u);
    mover->RefreshAll();
    const KnownFolderInfo& info = KnownFolderInfo::Table()[0];
    EXPECT_EQ(info.isMoved, 1);
    EXPECT_EQ(info.path, moved.wstring());
    EXPECT_EQ(info.size, FixtureBytes());

    ASSERT_EQ(mover->RestoreKnownFolder(0), Trova::kMoverDone);
    EXPECT_FALSE(fs::is_symlink(Home() / "Downloads"));
    EXPECT_TRUE(TreeWhole(Home() / "Downloads"));
    EXPECT_EQ(UserDirs::Folder("DOWNLOAD"), (Home() / "Downloads").string());
    EXPECT_FALSE(fs::exists(moved));
    EXPECT_EQ(ReadText(Ini()).find("Downloads="), std::string::npos);
    EXPECT_EQ(mover->RestoreKnownFolder(0), Trova::kMoverNotMoved);
    EXPECT_EQ(mover->MoveKnownFolder(6), Trova::kMoverBadId);
    EXPECT_EQ(mover->RestoreKnownFolder(-1), Trova::kMoverBadId);
}

TEST_F(MoverTest, SizesDoNotFollowLinks) {
    MakeTree(Home() / "Music");
    fs::create_symlink("..", Home() / "Music" / "up");  // a loop if followed
    fs::create_symlink(Home() / "Music" / "sub", Home() / "Music" / "again");
    auto mover = Start();
    mover->RefreshAll();
    EXPECT_EQ(KnownFolderInfo::Table()[2].size, FixtureBytes());
    EXPECT_EQ(KnownFolderInfo::Table()[2].available, 1);
    EXPECT_EQ(KnownFolderInfo::Table()[2].isMoved, 0);
    const FolderOps::Tally tally = FolderOps::Measure((Home() / "Music").wstring());
    EXPECT_EQ(tally.files, FixtureFiles().size() + 2);
}

TEST_F(MoverTest, AppFolderGoesToNameWithMillisecondsAndIsRecorded) {
    const fs::path app = MakeApp();
    auto mover = Start();
    const std::int64_t before = NowMs();
    ASSERT_EQ(mover->MoveAppFolder(app.wstring()), 1);
    const std::int64_t after = NowMs();

    ASSERT_TRUE(fs::is_symlink(app));
    const fs::path target = fs::read_symlink(app);
    EXPECT_EQ(target.parent_path(), Root() / "Apps");
    const std::string leaf = target.filename().string();
    ASSERT_EQ(leaf.rfind("Data_", 0), 0u) << leaf;
    const std::int64_t stamp = std::stoll(leaf.substr(5));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_TRUE(TreeWhole(app));
    EXPECT_EQ(fs::read_symlink(app / "link"), "a.txt");  // links stay links
    EXPECT_NE(ReadText(Ini()).find("[MovedAppFolder]\n" + app.string() + "=" + target.string() + "\n"),
              std::string::npos)
        << ReadText(Ini());
    EXPECT_TRUE(mover->IsAppFolderMoved(app.wstring()));

    // The second time nothing happens.
    EXPECT_EQ(mover->MoveAppFolder(app.wstring()), 1);
    EXPECT_EQ(Children(Root() / "Apps").size(), 1u);
    EXPECT_EQ(fs::read_symlink(app), target);

    ASSERT_EQ(mover->RestoreAppFolder(app.wstring()), 1);
    EXPECT_FALSE(fs::is_symlink(app));
    EXPECT_TRUE(TreeWhole(app));
    EXPECT_TRUE(Children(Root() / "Apps").empty());
    EXPECT_FALSE(mover->IsAppFolderMoved(app.wstring()));
    EXPECT_EQ(mover->RestoreAppFolder(app.wstring()), 0);  // no link there any more
}

TEST_F(MoverTest, FolderThatIsALinkIsNeverMoved) {
    MakeTree(m_base.path() / "real");
    fs::create_directories(AppPath().parent_path());
    fs::create_symlink(m_base.path() / "real", AppPath());
    auto mover = Start();
    EXPECT_EQ(mover->MoveAppFolder(AppPath().wstring()), 0);
    EXPECT_TRUE(Children(Root() / "Apps").empty());
    EXPECT_TRUE(TreeWhole(m_base.path() / "real"));
    EXPECT_EQ(fs::read_symlink(AppPath()), m_base.path() / "real");

    // A user folder that is a link is no folder to move either.
    fs::remove_all(Home() / "Pictures");
    fs::create_symlink(m_base.path() / "real", Home() / "Pictures");
    EXPECT_EQ(mover->MoveKnownFolder(3), Trova::kMoverRefused);
    EXPECT_TRUE(TreeWhole(m_base.path() / "real"));
}

// Requests that would move the root into itself, a folder into itself, or
// onto data, are refused before anything changes.
TEST_F(MoverTest, UnsafeRequestsAreRefused) {
    struct Row {
        const char* name;
        fs::path prefix;  // Init's prefix, the drive when empty
        fs::path folder;
    };
    fs::create_directories(m_base.path() / "outer");
    fs::create_symlink(m_base.path() / "outer", m_base.path() / "outer-alias");
    fs::create_symlink(Drive(), m_base.path() / "drive-alias");
    const Row rows[] = {
        {"root inside the folder", {}, Drive()},
        {"folder inside the root", {}, Root() / "Apps" / "inner"},
        {"folder inside the root through a link", {}, m_base.path() / "drive-alias" / "CleanMover" / "Windows" / "x"},
        {"root inside the folder through a link", m_base.path() / "outer-alias", m_base.path() / "outer"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto mover = Start(row.prefix);
        MakeTree(row.folder);
        EXPECT_EQ(mover->MoveAppFolder(row.folder.wstring()), 0);
        EXPECT_FALSE(fs::is_symlink(row.folder));
        EXPECT_TRUE(TreeWhole(row.folder));
        EXPECT_FALSE(mover->IsAppFolderMoved(row.folder.wstring()));
        EXPECT_FALSE(mover->HasJournal());
    }

    // Too little free space on the root's drive for a copy across drives.
    {
        const fs::path app = MakeApp("Big");
        auto mover = Start();
        FolderOps::Faults faults;
        faults.forceCopy = true;
        faults.freeBytes = static_cast<std::int64_t>(FixtureBytes()) - 1;
        FolderOps::SetFaults(faults);
        EXPECT_EQ(mover->MoveAppFolder(app.wstring()), 0);
        faults.freeBytes = static_cast<std::int64_t>(FixtureBytes());
        FolderOps::SetFaults(faults);
        const fs::path enough = MakeApp("Fits");
        EXPECT_EQ(mover->MoveAppFolder(enough.wstring()), 1);  // the same check lets a fitting one go
        FolderOps::SetFaults({});
        EXPECT_FALSE(fs::is_symlink(app));
        EXPECT_TRUE(TreeWhole(app));
        EXPECT_TRUE(fs::is_symlink(enough));
        EXPECT_TRUE(TreeWhole(enough));
    }

    // A known folder whose place under the root already holds data.
    MakeTree(Home() / "Videos");
    auto mover = Start();
    fs::create_directories(Root() / "Windows" / "Videos");
    testutil::WriteBytes(Root() / "Windows" / "Videos" / "other.txt", "other");
    EXPECT_EQ(mover->MoveKnownFolder(1), Trova::kMoverRefused);
    EXPECT_TRUE(TreeWhole(Home() / "Videos"));
    EXPECT_FALSE(fs::is_symlink(Home() / "Videos"));
    EXPECT_EQ(UserDirs::Folder("VIDEOS"), (Home() / "Videos").string());
    EXPECT_TRUE(FileWhole(Root() / "Windows" / "Videos" / "other.txt", "other"));
}

TEST_F(MoverTest, RecordsThatNoLongerHoldAreDroppedAtInit) {
    const fs::path gone = MakeApp("Gone");
    const fs::path kept = MakeApp("Kept");
    MakeTree(Home() / "Documents");
    auto mover = Start();
    ASSERT_EQ(mover->MoveAppFolder(gone.wstring()), 1);
    ASSERT_EQ(mover->MoveAppFolder(kept.wstring()), 1);
    ASSERT_EQ(mover->MoveKnownFolder(4), Trova::kMoverDone);

    // The user removes one link; another tool points Documents elsewhere.
    fs::remove(gone);
    fs::create_directories(m_base.path() / "elsewhere");
    ASSERT_TRUE(UserDirs::SetFolder("DOCUMENTS", (m_base.path() / "elsewhere").string()));

    mover = Start();
    EXPECT_FALSE(mover->IsAppFolderMoved(gone.wstring()));
    EXPECT_TRUE(mover->IsAppFolderMoved(kept.wstring()));
    EXPECT_TRUE(mover->KnownFolders().empty());
    // Init does not write; the next save does.
    EXPECT_NE(ReadText(Ini()).find(gone.string() + "="), std::string::npos);
    const fs::path third = MakeApp("Third");
    ASSERT_EQ(mover->MoveAppFolder(third.wstring()), 1);
    const std::string ini = ReadText(Ini());
    EXPECT_EQ(ini.find(gone.string() + "="), std::string::npos) << ini;
    EXPECT_NE(ini.find(kept.string() + "="), std::string::npos) << ini;
    EXPECT_EQ(ini.find("Documents="), std::string::npos) << ini;
}

TEST_F(MoverTest, ChangeRootCarriesAppFoldersAndKnownFolder) {
    const fs::path one = MakeApp("One");
    const fs::path two = MakeApp("Two");
    MakeTree(Home() / "Music");
    auto mover = Start();
    ASSERT_EQ(mover->MoveAppFolder(one.wstring()), 1);
    ASSERT_EQ(mover->MoveAppFolder(two.wstring()), 1);
    ASSERT_EQ(mover->MoveKnownFolder(2), Trova::kMoverDone);

    const fs::path drive2 = m_base.path() / "drive2";
    fs::create_directories(drive2);
    const fs::path root2 = drive2 / "CleanMover";
    ASSERT_EQ(mover->ChangeRoot(drive2.wstring()), 1);
    EXPECT_EQ(KnownFolderInfo::s_movedRoot, root2.wstring());
    EXPECT_FALSE(fs::exists(Root()));
    for (const fs::path& app : {one, two}) {
        SCOPED_TRACE(app.string());
        ASSERT_TRUE(fs::is_symlink(app));
        EXPECT_EQ(fs::read_symlink(app).parent_path(), root2 / "Apps");
        EXPECT_TRUE(TreeWhole(app));
        EXPECT_EQ(mover->AppFolders().at(app.wstring()), fs::read_symlink(app).wstring());
    }
    EXPECT_EQ(UserDirs::Folder("MUSIC"), (root2 / "Windows" / "Music").string());
    EXPECT_EQ(fs::read_symlink(Home() / "Music"), root2 / "Windows" / "Music");
    EXPECT_TRUE(TreeWhole(Home() / "Music"));
    mover->RefreshAll();
    EXPECT_EQ(KnownFolderInfo::Table()[2].isMoved, 1);

    // The record moved with the root and still holds at the next start.
    mover = Start(drive2);
    EXPECT_EQ(mover->AppFolders().size(), 2u);
    EXPECT_EQ(mover->KnownFolders().count(L"Music"), 1u);
    EXPECT_FALSE(mover->HasJournal());
}

TEST_F(MoverTest, RecordFileReadsWholeSectionsWithPathKeys) {
    const fs::path file = m_base.path() / "record.ini";
    std::string text = "[Other]\nkeep=me\n[MovedAppFolder]\n";
    for (int i = 0; i < 300; ++i)
        text += "/srv/some/rather/long/application/folder/number/" + std::to_string(i) + "=/mnt/b/x_" +
                std::to_string(i) + "\n";
    text += "no equals sign here\n/a/Data=first\n/a/data=lower\n/a/Data=second\nk=v=w\n";
    testutil::WriteBytes(file, text);

    RecordFile::Pairs pairs;
    ASSERT_TRUE(RecordFile::ReadSection(file.wstring(), L"MovedAppFolder", pairs));
    ASSERT_EQ(pairs.size(), 303u);
    const MoverManager::PathMap map(pairs.begin(), pairs.end());
    EXPECT_EQ(map.at(L"/a/Data"), L"second");
    EXPECT_EQ(map.at(L"/a/data"), L"lower");
    EXPECT_EQ(map.at(L"k"), L"v=w");
    EXPECT_EQ(map.at(L"/srv/some/rather/long/application/folder/number/299"), L"/mnt/b/x_299");

    ASSERT_TRUE(RecordFile::WriteSections(file.wstring(), {{L"MovedAppFolder", {{L"/b", L"/c"}}}, {L"Journal", {}}}));
    ASSERT_TRUE(RecordFile::ReadSection(file.wstring(), L"MovedAppFolder", pairs));
    EXPECT_EQ(pairs, (RecordFile::Pairs{{L"/b", L"/c"}}));
    ASSERT_TRUE(RecordFile::ReadSection(file.wstring(), L"Other", pairs));
    EXPECT_EQ(pairs, (RecordFile::Pairs{{L"keep", L"me"}}));
    EXPECT_FALSE(RecordFile::ReadSection((m_base.path() / "none.ini").wstring(), L"Other", pairs));
}

TEST_F(MoverTest, WithinOneFileSystemTheFolderIsRenamed) {
    const fs::path app = MakeApp();
    struct stat before {};
    ASSERT_EQ(stat(app.c_str(), &before), 0);
    auto mover = Start();
    ASSERT_EQ(mover->MoveAppFolder(app.wstring()), 1);
    struct stat after {};
    ASSERT_EQ(stat(fs::read_symlink(app).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(MoverTest, AcrossFileSystemsTheFolderIsCopiedThenDeleted) {
    // /dev/shm is a memory file system on most Linux systems; this test does
    // not mount one itself.
    struct stat shm {}, here {};
    if (stat("/dev/shm", &shm) != 0 || stat(m_base.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev ||
        access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/shm on another file system";
    const fs::path prefix =
        fs::path("/dev/shm") / ("clean-mover-test-" + std::to_string(getpid()) + "-" + std::to_string(NowMs()));
    fs::create_directories(prefix);
    struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } cleanup{prefix};

    const fs::path app = MakeApp();
    struct stat before {};
    ASSERT_EQ(stat(app.c_str(), &before), 0);
    auto mover = Start(prefix);
    ASSERT_EQ(mover->MoveAppFolder(app.wstring()), 1);
    const fs::path target = fs::read_symlink(app);
    struct stat after {};
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_NE(after.st_dev, before.st_dev);
    EXPECT_TRUE(TreeWhole(app));
    EXPECT_EQ(fs::read_symlink(target / "link"), "a.txt");
    struct stat file {};
    ASSERT_EQ(stat((target / "sub" / "b.bin").c_str(), &file), 0);
    EXPECT_EQ(file.st_size, 70000);

    ASSERT_EQ(mover->RestoreAppFolder(app.wstring()), 1);
    EXPECT_FALSE(fs::is_symlink(app));
    EXPECT_TRUE(TreeWhole(app));
    EXPECT_FALSE(fs::exists(target));
}

// ------------------------------------------------------------ fault injection

enum class Op { MoveApp, RestoreApp, MoveKnown, RestoreKnown };

const char* OpName(Op op) {
    switch (op) {
    case Op::MoveApp: return "app move";
    case Op::RestoreApp: return "app restore";
    case Op::MoveKnown: return "known folder move";
    case Op::RestoreKnown: return "known folder restore";
    }
    return "";
}

// Every fault takes the copy road, where the steps are.
FolderOps::Faults CopyFault(std::int64_t afterFiles) {
    FolderOps::Faults f;
    f.forceCopy = true;
    f.copyFailAfterFiles = afterFiles;
    return f;
}
FolderOps::Faults DeleteFault(std::int64_t afterFiles) {
    FolderOps::Faults f;
    f.forceCopy = true;
    f.deleteFailAfterFiles = afterFiles;
    return f;
}
FolderOps::Faults LinkFault() {
    FolderOps::Faults f;
    f.forceCopy = true;
    f.failJunction = true;
    return f;
}

class MoverFaultTest : public MoverTest {
protected:
    // The folder the operation works on and where its content goes.
    fs::path Source(Op op) const {
        return op == Op::MoveApp || op == Op::RestoreApp ? AppPath() : Home() / "Downloads";
    }
    // The content's place under the root, if there is one.
    std::optional<fs::path> Moved(Op op) const {
        if (op == Op::MoveKnown || op == Op::RestoreKnown)
            return Root() / "Windows" / "Downloads";
        const auto apps = Children(Root() / "Apps");
        if (apps.empty())
            return std::nullopt;
        return apps.front();
    }

    // Empty drive, home and configuration for the next row of a table.
    void Fresh() {
        TearDown();
        for (const fs::path& dir : {Drive(), Home(), m_base.path() / "config"})
            fs::remove_all(dir);
        SetUp();
    }

    void Prepare(Op op) {
        if (op == Op::MoveApp || op == Op::RestoreApp)
            MakeApp();
        else
            MakeTree(Home() / "Downloads");
        if (op == Op::RestoreApp || op == Op::RestoreKnown) {
            auto mover = Start();
            ASSERT_EQ(op == Op::RestoreApp ? mover->MoveAppFolder(AppPath().wstring())
                                           : mover->MoveKnownFolder(0),
                      op == Op::RestoreApp ? 1 : 0);
        }
    }

    static int Run(MoverManager& mover, Op op, const fs::path& app) {
        switch (op) {
        case Op::MoveApp: return mover.MoveAppFolder(app.wstring());
        case Op::RestoreApp: return mover.RestoreAppFolder(app.wstring());
        case Op::MoveKnown: return mover.MoveKnownFolder(0);
        case Op::RestoreKnown: return mover.RestoreKnownFolder(0);
        }
        return -1;
    }

    // After the next Init: the path works, every file is whole in exactly
    // one real folder, no step is left open, and the record matches.
    void CheckRecovered(Op op) {
        FolderOps::SetFaults({});
        auto mover = Start();
        EXPECT_FALSE(mover->HasJournal()) << ReadText(Ini());
        const fs::path source = Source(op);
        EXPECT_TRUE(TreeWhole(source));
        const bool linked = fs::is_symlink(source);
        const auto moved = Moved(op);
        if (linked) {
            ASSERT_TRUE(moved.has_value());
            EXPECT_EQ(fs::read_symlink(source), *moved);
            EXPECT_TRUE(TreeWhole(*moved));
        } else {
            EXPECT_FALSE(moved && HoldsFixtureFiles(*moved)) << "a second copy was left at " << moved->string();
        }
        if (op == Op::MoveApp || op == Op::RestoreApp) {
            EXPECT_EQ(mover->IsAppFolderMoved(source.wstring()), linked);
        } else {
            EXPECT_EQ(mover->KnownFolders().count(L"Downloads"), linked ? 1u : 0u);
            EXPECT_EQ(UserDirs::Folder("DOWNLOAD"), linked ? moved->string() : source.string());
        }
    }
};

TEST_F(MoverFaultTest, FailedStepsKeepEveryFileAndInitSettles) {
    struct Row {
        Op op;
        const char* fault;
        FolderOps::Faults faults;
        int result;         // what the operation answers
        bool movedAfter;    // where the data is meant to be after the next Init
    };
    const Row rows[] = {
        {Op::MoveApp, "copy fails after 2 files", CopyFault(2), 0, false},
        {Op::MoveApp, "source deletion stops half-way", DeleteFault(2), 0, true},
        {Op::MoveApp, "link cannot be made", LinkFault(), 0, false},
        {Op::RestoreApp, "copy fails after 2 files", CopyFault(2), 0, true},
        {Op::RestoreApp, "source deletion stops half-way", DeleteFault(2), 0, false},
        {Op::MoveKnown, "copy fails after 2 files", CopyFault(2), Trova::kMoverContentFailed, false},
        {Op::MoveKnown, "source deletion stops half-way", DeleteFault(2), Trova::kMoverSourceLeft, true},
        {Op::RestoreKnown, "copy fails after 2 files", CopyFault(2), Trova::kMoverContentFailed, true},
        {Op::RestoreKnown, "source deletion stops half-way", DeleteFault(2), Trova::kMoverSourceLeft, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(OpName(row.op)) + ": " + row.fault);
        Fresh();
        Prepare(row.op);
        auto mover = Start();
        FolderOps::SetFaults(row.faults);
        EXPECT_EQ(Run(*mover, row.op, AppPath()), row.result);
        FolderOps::SetFaults({});
        // Before any recovery every file is whole somewhere.
        const auto moved = Moved(row.op);
        for (const auto& file : FixtureFiles()) {
            EXPECT_TRUE(FileWhole(Source(row.op) / file.first, file.second) ||
                        (moved && FileWhole(*moved / file.first, file.second)))
                << file.first;
        }
        // A half-deleted source is never silent: the record says where the data is.
        if (moved && HoldsFixtureFiles(Source(row.op)) && HoldsFixtureFiles(*moved)) {
            EXPECT_TRUE(mover->HasJournal());
        }
        CheckRecovered(row.op);
        EXPECT_EQ(fs::is_symlink(Source(row.op)), row.movedAfter);
    }
}

// A process killed at each step of a move or a restore: the next Init
// finishes or undoes it.
TEST_F(MoverFaultTest, KilledAtEveryStepLosesNothing) {
    struct Step {
        const char* name;
        FolderOps::Faults faults;
    };
    const Step steps[] = {
        {"before the first file is copied", CopyFault(0)},
        {"half-way through the copy", CopyFault(3)},
        {"before the source is deleted", DeleteFault(0)},
        {"half-way through the deletion", DeleteFault(2)},
        {"before the link is made", LinkFault()},
    };
    for (Op op : {Op::MoveApp, Op::RestoreApp, Op::MoveKnown, Op::RestoreKnown}) {
        for (const Step& step : steps) {
            SCOPED_TRACE(std::string(OpName(op)) + " killed " + step.name);
            Fresh();
            Prepare(op);
            auto mover = Start();
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                FolderOps::Faults faults = step.faults;
                faults.killAtFault = true;
                FolderOps::SetFaults(faults);
                Run(*mover, op, AppPath());
                _exit(0);  // the step was not reached (restores make no link)
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
            EXPECT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
            CheckRecovered(op);
        }
    }
}

// A process killed at each step of a change of root, the next Init given
// the old root (where the page still looks: it remembers a root only once
// the change has succeeded) or the new one: the moved folders end whole in
// one root, their links and the user folder setting pointing there, with no
// second copy in the other root and no step left open.
TEST_F(MoverFaultTest, ChangeRootKilledAtEveryStepLosesNothing) {
    struct Step {
        const char* name;
        FolderOps::Faults faults;
        bool newRootKnown;  // the new root holds the record by then
    };
    const Step steps[] = {
        {"before the first file is copied", CopyFault(0), false},
        {"half-way through the copy", CopyFault(3), false},
        {"before the old root is deleted", DeleteFault(0), true},
        {"half-way through the deletion", DeleteFault(2), true},
        {"before the links are made again", LinkFault(), true},
    };
    const fs::path newPrefix = m_base.path() / "drive2";
    const fs::path newRoot = newPrefix / "CleanMover";
    for (bool givenNew : {false, true}) {
        for (const Step& step : steps) {
            if (givenNew && !step.newRootKnown)
                continue;
            SCOPED_TRACE(std::string("killed ") + step.name + (givenNew ? ", then the new root" : ", then the old root"));
            fs::remove_all(newPrefix);
            Fresh();
            MakeApp();
            MakeTree(Home() / "Downloads");
            {
                auto mover = Start();
                ASSERT_EQ(mover->MoveAppFolder(AppPath().wstring()), 1);
                ASSERT_EQ(mover->MoveKnownFolder(0), Trova::kMoverDone);
            }
            auto mover = Start();
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                FolderOps::Faults faults = step.faults;
                faults.killAtFault = true;
                FolderOps::SetFaults(faults);
                mover->ChangeRoot(newPrefix.wstring());
                _exit(0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

            auto after = Start(givenNew ? newPrefix : fs::path());
            EXPECT_FALSE(after->HasJournal());
            const fs::path root = KnownFolderInfo::s_movedRoot;
            ASSERT_TRUE(root == Root() || root == newRoot) << root;
            const fs::path other = root == Root() ? newRoot : Root();
            EXPECT_TRUE(fs::is_symlink(AppPath()));
            EXPECT_TRUE(TreeWhole(AppPath()));
            EXPECT_EQ(fs::read_symlink(AppPath()).parent_path(), root / "Apps");
            EXPECT_TRUE(after->IsAppFolderMoved(AppPath().wstring()));
            EXPECT_TRUE(TreeWhole(root / "Windows" / "Downloads"));
            EXPECT_EQ(UserDirs::Folder("DOWNLOAD"), (root / "Windows" / "Downloads").string());
            EXPECT_EQ(after->KnownFolders().count(L"Downloads"), 1u);
            EXPECT_FALSE(HoldsFixtureFiles(other / "Windows" / "Downloads"));
            for (const fs::path& app : Children(other / "Apps"))
                EXPECT_FALSE(HoldsFixtureFiles(app)) << "a second copy was left at " << app;
        }
    }
}

// A file written into the half-restored folder after the stop is no part of
// the copy: Init keeps it and the record, and settles once it is gone.
TEST_F(MoverFaultTest, InitKeepsFilesWrittenIntoAPartialCopy) {
    Prepare(Op::RestoreApp);
    auto mover = Start();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FolderOps::Faults faults = CopyFault(3);
        faults.killAtFault = true;
        FolderOps::SetFaults(faults);
        mover->RestoreAppFolder(AppPath().wstring());
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    testutil::WriteBytes(AppPath() / "new.txt", "written after the stop");

    mover = Start();
    EXPECT_TRUE(mover->HasJournal());
    EXPECT_TRUE(FileWhole(AppPath() / "new.txt", "written after the stop"));
    const auto moved = Moved(Op::RestoreApp);
    ASSERT_TRUE(moved.has_value());
    EXPECT_TRUE(TreeWhole(*moved));
    for (const auto& file : FixtureFiles())
        EXPECT_FALSE(fs::exists(AppPath() / file.first)) << file.first;  // the copy's own part went

    fs::remove(AppPath() / "new.txt");
    CheckRecovered(Op::RestoreApp);
    EXPECT_TRUE(fs::is_symlink(AppPath()));
}

}  // namespace

#else  // Windows, under Wine or not

namespace {

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(MoverWindows, KnownFoldersAreRead) {
    KnownFolderInfo::s_movedRoot = L"C:\\NoSuchRoot\\CleanMover";
    for (KnownFolderInfo& info : KnownFolderInfo::Table()) {
        SCOPED_TRACE(Utils::utf16ToUtf8(info.name));
        info.RefreshPath();
        EXPECT_EQ(info.available, 1);
        EXPECT_FALSE(info.path.empty());
        EXPECT_EQ(info.isMoved, 0);
        EXPECT_EQ(info.path, KnownFolderPaths::Path(info.effectiveFolderId));
        EXPECT_FALSE(info.DefaultLocation().empty());
        EXPECT_FALSE(info.DisplayName().empty());
    }
    KnownFolderInfo::s_movedRoot.clear();
}

TEST(MoverWindows, RecordFileThroughProfileFunctions) {
    testutil::TempDir dir;
    const std::wstring file = dir / L"mover.ini";
    std::string text = "[MovedAppFolder]\r\n";
    for (int i = 0; i < 300; ++i)
        text += "C:\\some\\rather\\long\\application\\folder\\number\\" + std::to_string(i) + "=D:\\x_" +
                std::to_string(i) + "\r\n";
    text += "no equals sign\r\nk=v=w\r\n";
    testutil::WriteBytes(file, text);
    RecordFile::Pairs pairs;
    ASSERT_TRUE(RecordFile::ReadSection(file, L"MovedAppFolder", pairs));
    ASSERT_EQ(pairs.size(), 301u);
    EXPECT_EQ(pairs.back(), (std::pair<std::wstring, std::wstring>(L"k", L"v=w")));
    ASSERT_TRUE(RecordFile::WriteSections(file, {{L"MovedAppFolder", {{L"C:\\b", L"D:\\c"}}}, {L"Journal", {}}}));
    ASSERT_TRUE(RecordFile::ReadSection(file, L"MovedAppFolder", pairs));
    EXPECT_EQ(pairs, (RecordFile::Pairs{{L"C:\\b", L"D:\\c"}}));
    EXPECT_FALSE(RecordFile::ReadSection(dir / L"none.ini", L"MovedAppFolder", pairs));
}

// Wine cannot make junctions: the move must put the content back.
TEST(MoverWindows, AppFolderWithoutJunctionGetsItsContentBack) {
    testutil::TempDir dir;
    const fs::path app = dir.path() / "apps" / "Data";
    MakeTree(app);
    fs::create_directories(dir.path() / "drive");
    MoverManager mover(nullptr, kFolderName);
    mover.Init((dir.path() / "drive").wstring());
    ASSERT_EQ(KnownFolderInfo::s_movedRoot, (dir.path() / "drive" / "CleanMover").wstring());
    FolderOps::Faults faults;
    faults.failJunction = !UnderWine();  // real Windows makes junctions; refuse one there
    FolderOps::SetFaults(faults);
    EXPECT_EQ(mover.MoveAppFolder(app.wstring()), 0);
    FolderOps::SetFaults({});
    EXPECT_TRUE(TreeWhole(app));
    EXPECT_FALSE(FolderOps::IsLink(app.wstring()));
    EXPECT_TRUE(Children(dir.path() / "drive" / "CleanMover" / "Apps").empty());
    EXPECT_FALSE(mover.IsAppFolderMoved(app.wstring()));
    EXPECT_FALSE(mover.HasJournal());
    KnownFolderInfo::s_movedRoot.clear();
}

// Wine lacks SHSetKnownFolderPath and IFileOperation: the folder is set
// through IKnownFolder::SetPath and copied with SHFileOperationW, and both
// fallbacks say so in the log. Only under Wine: its prefix is thrown away
// after the run, while on Windows this would move the user's own Downloads.
TEST(MoverWindows, KnownFolderMovesAndComesBackThroughFallbacks) {
    if (!UnderWine())
        GTEST_SKIP() << "moves the real Downloads folder outside Wine";
    testutil::TempDir dir;
    const fs::path log = dir.path() / "mover.log";
    ASSERT_TRUE(Logger_Init(log.string().c_str(), 1 << 20, 1, false));
    KnownFolderInfo& downloads = KnownFolderInfo::Table()[0];
    KnownFolderInfo::s_movedRoot.clear();
    downloads.RefreshPath();
    const fs::path home = downloads.path;
    ASSERT_FALSE(home.empty());
    MakeTree(home / "fixture");

    MoverManager mover(nullptr, kFolderName);
    mover.Init((dir.path() / "drive").wstring());
    FolderOps::Faults faults;
    faults.forceCopy = true;  // one drive only: take the copy road
    FolderOps::SetFaults(faults);
    EXPECT_EQ(mover.MoveKnownFolder(0), Trova::kMoverDone);
    const fs::path moved = dir.path() / "drive" / "CleanMover" / "Windows" / "Downloads";
    EXPECT_EQ(KnownFolderPaths::Path(downloads.effectiveFolderId), moved.wstring());
    EXPECT_TRUE(TreeWhole(moved / "fixture"));
    EXPECT_EQ(mover.MoveKnownFolder(0), Trova::kMoverAlreadyMoved);

    const std::int32_t restored = mover.RestoreKnownFolder(0);
    Logger_Flush();
    EXPECT_EQ(restored, Trova::kMoverDone) << testutil::ReadBytes(log);
    FolderOps::SetFaults({});
    EXPECT_EQ(KnownFolderPaths::Path(downloads.effectiveFolderId), home.wstring());
    EXPECT_TRUE(TreeWhole(home / "fixture"));
    EXPECT_FALSE(fs::exists(moved));
    EXPECT_EQ(mover.RestoreKnownFolder(0), Trova::kMoverNotMoved);
    Logger_Shutdown();
    const std::string text = testutil::ReadBytes(log);
    EXPECT_NE(text.find("IKnownFolder::SetPath"), std::string::npos) << text;
    EXPECT_NE(text.find("SHFileOperationW"), std::string::npos) << text;
    fs::remove_all(home / "fixture");
    KnownFolderInfo::s_movedRoot.clear();
}

// The shell copy (IFileOperation, or SHFileOperationW where that is not
// implemented) keeps every file; the deletion takes the tree.
TEST(MoverWindows, TreeCopyAndDeletion) {
    testutil::TempDir dir;
    MakeTree(dir.path() / "from");
    ASSERT_TRUE(FolderOps::CopyTree((dir.path() / "from").wstring(), (dir.path() / "to").wstring()));
    EXPECT_TRUE(TreeWhole(dir.path() / "to"));
    EXPECT_EQ(FolderOps::Measure((dir.path() / "to").wstring()),
              FolderOps::Measure((dir.path() / "from").wstring()));
    EXPECT_EQ(FolderOps::Measure((dir.path() / "to").wstring()).bytes, FixtureBytes());
    ASSERT_TRUE(FolderOps::DeleteTree((dir.path() / "to").wstring()));
    EXPECT_FALSE(fs::exists(dir.path() / "to"));
    EXPECT_TRUE(TreeWhole(dir.path() / "from"));
}

}  // namespace

#endif
