// DirEnum on small real trees in a temporary folder: what each entry says
// about itself, compared with an independent listing; links and mount points
// on Linux only (Wine would delete a link's target, see DESIGN).
#include "fendrel/direnum.h"
#include "fendrel/utils.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kHidden = 0x2;
constexpr std::uint32_t kDirectory = 0x10;
constexpr std::uint32_t kReparsePoint = 0x400;
constexpr std::uint64_t k5GiB = 5ull << 30;

std::string Narrow(const fs::path& path) {
    return Utils::Utf16ToAnsi(path.wstring());
}

// A file of the given size without writing its bytes (sparse where the file
// system allows): past 4 GiB it shows whether the high size word is kept.
bool MakeSized(const fs::path& path, std::uint64_t size) {
#if defined(_WIN32)
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
#else
    testutil::WriteBytes(path, "");
    return truncate(path.c_str(), static_cast<off_t>(size)) == 0;
#endif
}

std::map<std::string, DirEntry> ListAll(const std::string& folder) {
    std::map<std::string, DirEntry> entries;
    DirEnum listing;
    EXPECT_TRUE(listing.Open(folder)) << folder << " error " << listing.Error();
    DirEntry entry;
    while (listing.Next(entry))
        EXPECT_TRUE(entries.emplace(entry.name, entry).second) << "listed twice: " << entry.name;
    EXPECT_EQ(listing.Error(), 0) << "the listing ended on an error";
    return entries;
}

class DirEnumTest : public ::testing::Test {
protected:
    testutil::TempDir dir_;
    fs::path At(const char* name) const { return dir_.path() / name; }
};

TEST_F(DirEnumTest, ReportsNamesSizesAndKindsOfOneLevel) {
    testutil::WriteBytes(At("a.txt"), "abc");
    testutil::WriteBytes(At("empty.log"), "");
    ASSERT_TRUE(MakeSized(At("big.bin"), k5GiB));
    testutil::WriteBytes(At(".hidden"), "12345");
#if defined(_WIN32)
    // Windows has no dot rule of its own; Wine applies one as well.
    ASSERT_TRUE(SetFileAttributesW(At(".hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
#endif
    fs::create_directories(At("sub") / "deeper");
    testutil::WriteBytes(At("sub") / "inside.txt", "not listed at this level");

    const auto entries = ListAll(Narrow(dir_.path()));

    // The same names as an independent listing, and never "." or "..".
    std::set<std::string> expected;
    for (const auto& item : fs::directory_iterator(dir_.path()))
        expected.insert(Narrow(item.path().filename()));
    std::set<std::string> listed;
    for (const auto& [name, entry] : entries)
        listed.insert(name);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(listed, (std::set<std::string>{".hidden", "a.txt", "big.bin", "empty.log", "sub"}));

    struct Row {
        const char* name;
        std::uint64_t size;
        bool isDirectory;
        bool hidden;
    };
    const Row rows[] = {
        {"a.txt", 3, false, false},  {"empty.log", 0, false, false}, {"big.bin", k5GiB, false, false},
        {".hidden", 5, false, true}, {"sub", 0, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const DirEntry& entry = entries.at(row.name);
        EXPECT_EQ(entry.size, row.size);
        EXPECT_EQ(entry.isDirectory, row.isDirectory);
        EXPECT_EQ((entry.attributes & kDirectory) != 0, row.isDirectory);
        EXPECT_EQ((entry.attributes & kHidden) != 0, row.hidden);
        EXPECT_FALSE(entry.isLink);
        EXPECT_EQ(entry.attributes & kReparsePoint, 0u);
    }
}

TEST_F(DirEnumTest, OpenFailsWithTheSystemErrorNumber) {
    testutil::WriteBytes(At("file.txt"), "x");
    DirEnum listing;
    DirEntry entry;

    EXPECT_FALSE(listing.Open(Narrow(At("missing"))));
#if defined(_WIN32)
    EXPECT_EQ(listing.Error(), ERROR_PATH_NOT_FOUND);
#else
    EXPECT_EQ(listing.Error(), ENOENT);
#endif
    EXPECT_FALSE(listing.Next(entry));

    EXPECT_FALSE(listing.Open(Narrow(At("file.txt"))));
#if defined(_WIN32)
    // Windows says "not a directory", Wine "invalid name".
    EXPECT_TRUE(listing.Error() == ERROR_DIRECTORY || listing.Error() == ERROR_INVALID_NAME) << listing.Error();
#else
    EXPECT_EQ(listing.Error(), ENOTDIR);
#endif

    // A failed Open leaves the object usable, and an open listing is
    // replaced by the next Open.
    fs::create_directories(At("one"));
    testutil::WriteBytes(At("one") / "only.txt", "x");
    ASSERT_TRUE(listing.Open(Narrow(dir_.path())));
    ASSERT_TRUE(listing.Open(Narrow(At("one")) + std::string(1, fendrel::kPathSepA)));  // trailing separator
    ASSERT_TRUE(listing.Next(entry));
    EXPECT_EQ(entry.name, "only.txt");
    EXPECT_FALSE(listing.Next(entry));
    EXPECT_EQ(listing.Error(), 0);
}

TEST_F(DirEnumTest, EmptyFolderNameListsTheRoot) {
    // "" is how Disks spells "/" on Linux; on Windows it is the current drive's root.
    const auto fromEmpty = ListAll("");
    const auto fromRoot = ListAll(std::string(1, fendrel::kPathSepA));
    EXPECT_FALSE(fromEmpty.empty());
    ASSERT_EQ(fromEmpty.size(), fromRoot.size());
    for (const auto& [name, entry] : fromRoot)
        EXPECT_EQ(fromEmpty.count(name), 1u) << name;
}

#if !defined(_WIN32)
// Links are listed as links and their targets are never described as the
// entry: a walk must be able to tell without another system call.
TEST_F(DirEnumTest, LinuxLinksAreListedAsLinks) {
    testutil::TempDir outside;  // the canary: a folder beyond the tree
    testutil::WriteBytes(outside.path() / "canary.txt", "keep me");
    testutil::WriteBytes(At("target.txt"), "0123456789");
    ASSERT_EQ(symlink(outside.path().c_str(), At("to-folder").c_str()), 0);
    ASSERT_EQ(symlink(At("target.txt").c_str(), At("to-file").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/clean-test", At("dangling").c_str()), 0);

    const auto entries = ListAll(Narrow(dir_.path()));
    struct Row {
        const char* name;
        bool isDirectory;
        bool isLink;
        std::uint64_t size;
    };
    const Row rows[] = {
        {"to-folder", true, true, 0},
        {"to-file", false, true, 0},  // the link's own bytes are no file's contents
        {"dangling", false, true, 0},
        {"target.txt", false, false, 10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const DirEntry& entry = entries.at(row.name);
        EXPECT_EQ(entry.isDirectory, row.isDirectory);
        EXPECT_EQ(entry.isLink, row.isLink);
        EXPECT_EQ((entry.attributes & kReparsePoint) != 0, row.isLink);
        EXPECT_EQ((entry.attributes & kDirectory) != 0, row.isDirectory);
        EXPECT_EQ(entry.size, row.size);
    }
    EXPECT_TRUE(fs::exists(outside.path() / "canary.txt"));
}

// Mount points are the Linux counterpart of a junction: compared with the
// device numbers stat reports for every folder of "/".
TEST(DirEnumMounts, FoldersOnAnotherDeviceAreLinks) {
    struct stat root;
    ASSERT_EQ(stat("/", &root), 0);
    const auto entries = ListAll("/");
    int mounts = 0;
    for (const auto& [name, entry] : entries) {
        struct stat st;
        if (lstat(("/" + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        SCOPED_TRACE(name);
        EXPECT_TRUE(entry.isDirectory);
        EXPECT_EQ(entry.isLink, st.st_dev != root.st_dev);
        mounts += entry.isLink ? 1 : 0;
    }
    if (mounts == 0)
        GTEST_SKIP() << "no file system is mounted directly under / here";
}
#endif

}  // namespace
