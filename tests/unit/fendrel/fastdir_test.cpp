// The walker's listing and digests: the same tree gives the same names,
// sizes and kinds on both systems (this test runs on Linux and under Wine),
// long paths are reached, and SHA-512 matches its published value.
#include "fendrel/fastdir.h"

#include "fendrel/platform.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#if defined(FENDREL_POSIX)
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::map<std::wstring, FastDir::Entry> Listed(const std::wstring& folder) {
    std::map<std::wstring, FastDir::Entry> entries;
    EXPECT_TRUE(FastDir::List(folder, [&](const FastDir::Entry& entry) {
        entries[entry.name] = entry;
        return true;
    }));
    return entries;
}

TEST(FastDir, ListsNamesSizesAndKindsInOneGo) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir.path() / "empty.txt", "");
    testutil::WriteBytes(dir.path() / "five.bin", "12345");
    testutil::WriteBytes(dir.path() / "big.dat", std::string(70000, 'b'));
    fs::create_directories(dir.path() / "folder" / "inner");
    testutil::WriteBytes(dir.path() / fs::u8path("Ünïcode.txt"), "u");  // UTF-8 on both systems

    const auto entries = Listed(dir.wstr());
    ASSERT_EQ(entries.size(), 5u) << "no \".\" or \"..\"";
    EXPECT_EQ(entries.at(L"empty.txt").logicalSize, 0u);
    EXPECT_EQ(entries.at(L"five.bin").logicalSize, 5u);
    EXPECT_EQ(entries.at(L"big.dat").logicalSize, 70000u);
    EXPECT_GE(entries.at(L"big.dat").physicalSize, 65536u) << "allocated bytes";
    EXPECT_TRUE(entries.at(L"folder").IsDirectory());
    EXPECT_FALSE(entries.at(L"five.bin").IsDirectory());
    EXPECT_EQ(entries.count(L"Ünïcode.txt"), 1u);
    EXPECT_GT(entries.at(L"five.bin").lastWrite, 116444736000000000ull) << "a FILETIME after 1970";

    EXPECT_FALSE(FastDir::List(dir / L"missing", [](const FastDir::Entry&) {
        ADD_FAILURE() << "nothing to visit";
        return true;
    }));
    // A visit that answers false ends the listing.
    int seen = 0;
    EXPECT_TRUE(FastDir::List(dir.wstr(), [&](const FastDir::Entry&) { return ++seen < 2; }));
    EXPECT_EQ(seen, 2);
}

TEST(FastDir, Sha512MatchesThePublishedValueWholeOrHead) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir.path() / "abc", "abc");
    testutil::WriteBytes(dir.path() / "abcdef", "abcdef");
    const std::string abc =
        "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
        "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f";
    EXPECT_EQ(Hex(FastDir::Sha512(dir / L"abc", 0, nullptr).bytes), abc);
    EXPECT_EQ(Hex(FastDir::Sha512(dir / L"abcdef", 3, nullptr).bytes), abc) << "the first three bytes only";
    const FastDir::Digest digest = FastDir::Sha512(dir / L"abcdef", 0, nullptr);
    EXPECT_EQ(digest.size, 6u);
    EXPECT_TRUE(FastDir::Sha512(dir / L"missing", 0, nullptr).bytes.empty());
}

TEST(FastDir, HardLinksShareTheirIdentity) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir.path() / "one", "same");
    testutil::WriteBytes(dir.path() / "copy", "same");
    fs::create_hard_link(dir.path() / "one", dir.path() / "two");
    FastDir::FileReader one(dir / L"one"), two(dir / L"two"), copy(dir / L"copy");
    ASSERT_TRUE(one.IsOpen() && two.IsOpen() && copy.IsOpen());
    EXPECT_EQ(one.id, two.id);
    EXPECT_FALSE(one.id == copy.id);
    char bytes[8] = {};
    EXPECT_EQ(one.Read(bytes, sizeof bytes), 4);
    EXPECT_EQ(std::string(bytes, 4), "same");
    EXPECT_EQ(one.Read(bytes, sizeof bytes), 0);
}

// Folders nested until the path is longer than the system's usual limit
// (4,096 bytes on Linux, 260 characters on Windows): still listed and read.
TEST(FastDir, PathsBeyondTheUsualLimitAreReached) {
    testutil::TempDir dir;
    const std::wstring part(120, L'n');
    std::wstring path = dir.wstr();
#if defined(FENDREL_POSIX)
    int at = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(at, 0);
    const std::string narrow(120, 'n');
    for (int level = 0; level < 40; ++level) {
        ASSERT_EQ(mkdirat(at, narrow.c_str(), 0700), 0);
        const int next = openat(at, narrow.c_str(), O_RDONLY | O_DIRECTORY);
        close(at);
        ASSERT_GE(next, 0);
        at = next;
        path += L"/" + part;
    }
    const int file = openat(at, "deep.bin", O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, "abc", 3), 3);
    close(file);
    close(at);
    ASSERT_GT(path.size(), 4096u);
#else
    for (int level = 0; level < 3; ++level) {
        path += L"\\" + part;
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr));
    }
    HANDLE file = CreateFileW((L"\\\\?\\" + path + L"\\deep.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "abc", 3, &written, nullptr);
    CloseHandle(file);
    ASSERT_GT(path.size(), 260u);
#endif
    const auto entries = Listed(path);
    ASSERT_EQ(entries.count(L"deep.bin"), 1u);
    EXPECT_EQ(entries.at(L"deep.bin").logicalSize, 3u);
    EXPECT_EQ(FastDir::Sha512(path + fendrel::kPathSep + L"deep.bin", 0, nullptr).size, 3u);
#if defined(FENDREL_POSIX)
    // The standard library's removal builds whole paths; rm does not.
    EXPECT_EQ(std::system(("rm -rf '" + (dir.path() / std::string(120, 'n')).string() + "'").c_str()), 0);
#endif
}

#if defined(FENDREL_POSIX)
TEST(FastDir, LinuxMarksDotNamesHiddenLinksAndKernelTreesProtected) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir.path() / ".hidden", "h");
    fs::create_directories(dir.path() / "real");
    fs::create_directory_symlink(dir.path() / "real", dir.path() / "to-folder");
    fs::create_symlink(dir.path() / ".hidden", dir.path() / "to-file");
    const auto entries = Listed(dir.wstr());
    EXPECT_NE(entries.at(L".hidden").attributes & FastDir::kAttrHidden, 0u);
    EXPECT_EQ(entries.at(L"real").attributes & FastDir::kAttrReparsePoint, 0u);
    EXPECT_EQ(entries.at(L"to-folder").reparseTag, FastDir::kTagSymlink);
    EXPECT_TRUE(entries.at(L"to-folder").IsDirectory());
    EXPECT_EQ(entries.at(L"to-file").reparseTag, FastDir::kTagSymlink);
    EXPECT_FALSE(entries.at(L"to-file").IsDirectory());

    const auto root = Listed(L"/");
    for (const wchar_t* name : {L"proc", L"sys", L"dev"}) {
        ASSERT_EQ(root.count(name), 1u);
        EXPECT_EQ(root.at(name).attributes & (FastDir::kAttrHidden | FastDir::kAttrSystem),
                  FastDir::kAttrHidden | FastDir::kAttrSystem)
            << "never entered";
    }
}
#endif

}  // namespace
