// The engines' file system, wildcard, environment, disk and INI services.
// The wildcard and INI tables run unchanged on Linux and under Wine, so the
// Linux code is held to what the Windows calls do.
#include "fendrel/fsops.h"
#include "fendrel/file.h"
#include "fendrel/utils.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <sys/vfs.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string Narrow(const fs::path& path) {
    return Utils::Utf16ToAnsi(path.wstring());
}

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void UnsetVariable(const char* name) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name, nullptr);
#else
    unsetenv(name);
#endif
}

#if defined(_WIN32)
constexpr int kNotFound = ERROR_FILE_NOT_FOUND;
#else
constexpr int kNotFound = ENOENT;
#endif

class FileSystemTest : public ::testing::Test {
protected:
    testutil::TempDir dir_;
    fs::path At(const char* name) const { return dir_.path() / name; }
    std::string NarrowAt(const char* name) const { return Narrow(At(name)); }
};

TEST_F(FileSystemTest, ExistsAndSize) {
    testutil::WriteBytes(At("seven.bin"), "1234567");
    testutil::WriteBytes(At("empty"), "");
    fs::create_directories(At("folder"));

    struct Row {
        const char* name;
        bool exists;
        std::int64_t size;
    };
    const Row rows[] = {
        {"seven.bin", true, 7}, {"empty", true, 0}, {"folder", true, -1}, {"missing", false, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(FileSystem::Exists(NarrowAt(row.name)), row.exists);
        EXPECT_EQ(FileSystem::Size(NarrowAt(row.name)), row.size);
    }
    EXPECT_FALSE(FileSystem::Exists(""));
    EXPECT_EQ(FileSystem::Size(""), -1);

#if defined(_WIN32)
    // Held open without sharing reads by its program, a file is still measured.
    HANDLE held = CreateFileW(At("seven.bin").c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FileSystem::Size(NarrowAt("seven.bin")), 7);
    CloseHandle(held);
#endif
}

TEST_F(FileSystemTest, CopyHonoursOverwriteAndLeavesNoHalfFile) {
    testutil::WriteBytes(At("source"), "new contents");
    testutil::WriteBytes(At("existing"), "old");

    EXPECT_FALSE(FileSystem::CopyFile(NarrowAt("source"), NarrowAt("existing"), false));
    EXPECT_EQ(testutil::ReadBytes(At("existing")), "old");

    EXPECT_TRUE(FileSystem::CopyFile(NarrowAt("source"), NarrowAt("existing"), true));
    EXPECT_EQ(testutil::ReadBytes(At("existing")), "new contents");

    EXPECT_TRUE(FileSystem::CopyFile(NarrowAt("source"), NarrowAt("fresh"), false));
    EXPECT_EQ(testutil::ReadBytes(At("fresh")), "new contents");

    EXPECT_FALSE(FileSystem::CopyFile(NarrowAt("missing"), NarrowAt("nowhere"), true));
    EXPECT_EQ(FileSystem::LastError(), kNotFound);
    EXPECT_FALSE(fs::exists(At("nowhere")));

    // Onto itself: must not truncate the only copy.
    EXPECT_FALSE(FileSystem::CopyFile(NarrowAt("source"), NarrowAt("source"), true));
    EXPECT_EQ(testutil::ReadBytes(At("source")), "new contents");
}

TEST_F(FileSystemTest, RemoveFileRemovesFilesOnly) {
    testutil::WriteBytes(At("junk.tmp"), "x");
    fs::create_directories(At("folder"));

    int error = -1;
    EXPECT_TRUE(FileSystem::RemoveFile(NarrowAt("junk.tmp"), &error));
    EXPECT_FALSE(fs::exists(At("junk.tmp")));

    EXPECT_FALSE(FileSystem::RemoveFile(NarrowAt("junk.tmp"), &error));
    EXPECT_EQ(error, kNotFound);
    EXPECT_EQ(FileSystem::LastError(), kNotFound);

    error = 0;
    EXPECT_FALSE(FileSystem::RemoveFile(NarrowAt("folder"), &error));
    EXPECT_NE(error, 0);
    EXPECT_TRUE(fs::is_directory(At("folder")));
}

TEST_F(FileSystemTest, TempFilesAreNewEmptyAndNamedByThePrefix) {
    const std::string first = FileSystem::CreateTempFile("tmp");
    const std::string second = FileSystem::CreateTempFile("tmp");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    for (const std::string& path : {first, second}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(FileSystem::Size(path), 0);
        const std::string name = path.substr(path.find_last_of(fendrel::kPathSepA) + 1);
        EXPECT_EQ(Utils::toLower(Utils::AnsiToUtf16(name.substr(0, 3))), L"tmp");
        EXPECT_EQ(Utils::AnsiToUtf16(path.substr(0, path.size() - name.size())), File::TempPath());
        EXPECT_TRUE(FileSystem::RemoveFile(path));
    }
}

TEST(FileSystemProgram, ProgramDirectoryHoldsTheRunningProgram) {
    const std::string folder = FileSystem::ProgramDirectory();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), fendrel::kPathSepA);
    const std::string program = Utils::Utf16ToAnsi(File::Name(File::FullPath()));
    EXPECT_TRUE(FileSystem::Exists(folder + fendrel::kPathSepA + program)) << folder << " / " << program;
}

#if !defined(_WIN32)
// Links: a copy neither reads through a planted link nor writes through
// one, and removing a link leaves its target alone.
TEST_F(FileSystemTest, LinuxLinksAreNeverFollowed) {
    testutil::TempDir outside;
    const fs::path canary = outside.path() / "canary.txt";
    testutil::WriteBytes(canary, "keep me");
    testutil::WriteBytes(At("source"), "payload");
    ASSERT_EQ(symlink(canary.c_str(), At("link-out").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/clean-test", At("dangling").c_str()), 0);

    EXPECT_TRUE(FileSystem::Exists(NarrowAt("dangling")));
    EXPECT_EQ(FileSystem::Size(NarrowAt("link-out")), 7);  // sizes go through, as CreateFile does

    EXPECT_FALSE(FileSystem::CopyFile(NarrowAt("link-out"), NarrowAt("copy"), true));
    EXPECT_EQ(FileSystem::LastError(), ELOOP);
    EXPECT_FALSE(FileSystem::CopyFile(NarrowAt("source"), NarrowAt("link-out"), true));
    EXPECT_EQ(testutil::ReadBytes(canary), "keep me");

    EXPECT_TRUE(FileSystem::RemoveFile(NarrowAt("link-out")));
    EXPECT_TRUE(FileSystem::RemoveFile(NarrowAt("dangling")));
    EXPECT_EQ(testutil::ReadBytes(canary), "keep me");
}

TEST_F(FileSystemTest, LinuxCopyKeepsModeAndModificationTime) {
    testutil::WriteBytes(At("source"), "x");
    ASSERT_EQ(chmod(At("source").c_str(), 0640), 0);
    const struct timespec times[2] = {{1000000000, 0}, {1500000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, At("source").c_str(), times, 0), 0);
    ASSERT_TRUE(FileSystem::CopyFile(NarrowAt("source"), NarrowAt("copy"), false));
    struct stat st;
    ASSERT_EQ(stat(At("copy").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
}
#endif

// One table for both systems: the Windows rows are what PathMatchSpecA
// answers under Wine, and Linux must give the same.
struct MatchRow {
    const char* name;
    const char* pattern;
    bool matches;
};

const MatchRow kSharedMatches[] = {
    // case, and near misses of an extension
    {"a.LOG", "*.log", true},
    {"a.log", "*.LOG", true},
    {"a.log.bak", "*.log", false},
    {"a.log", "*.log*", true},
    {"abc", "A*C", true},
    // prefixes
    {"keep.log", "keep*", true},
    {"keep", "keep*", true},
    {"kee", "keep*", false},
    // "?" is exactly one character
    {"axb", "a?b", true},
    {"ab", "a?b", false},
    {"ab", "a?", true},
    {"a", "a?", false},
    {"abc", "a?", false},
    {"a.b", "?.?", true},
    {"ab", "*?*?", true},
    {"a", "*?*?", false},
    // dots are ordinary characters, except that "*.*" alone means everything
    {"abc", "*.*", true},
    {".abc", "*.*", true},
    {"a.b.c", "*.*", true},
    {"abc", "*.", false},
    {"abc", "abc.*", false},
    {"abc.", "abc", false},
    {"x..", "x*.", true},
    {"abc", "  *.*", false},
    {"abc", "*.*;x", false},
    // no bracket classes
    {"[a].txt", "[a].txt", true},
    {"a.txt", "[a].txt", false},
    // spaces: part of names, and leading ones of a pattern entry are dropped
    {"a b.txt", "a b.*", true},
    {"ab", "a *b", false},
    {"abc", " abc", true},
    {"abc", "abc ", false},
    // ";" separates entries (the engine splits its lists itself)
    {"b.tmp", "*.log;*.tmp", true},
    {"b.tmp", "*.log; *.tmp", true},
    {"c.txt", "*.log;*.tmp", false},
    {"a.log", "*.log ;*.tmp", false},
    {"abc.txt", "*.txt;", true},
    {"a;b", "a;b", false},
    {"x;y", "*", true},
    {"x", ";", false},
    // empty names and patterns
    {"", "*", true},
    {"", "?", false},
    {"", "", false},
    {"abc", "", false},
    // non-ASCII names where byte and character matching agree
    {"\xC3\x89t\xC3\xA9.txt", "*.TXT", true},
    {"\xC3\x89t\xC3\xA9.txt", "\xC3\x89t\xC3\xA9.txt", true},
    {"\xE6\x97\xA5\xE6\x9C\xAC.log", "\xE6\x97\xA5*", true},
    {"\xE6\x97\xA5\xE6\x9C\xAC.log", "\xE6\x9C\xAC*", false},
};

// UTF-8 as characters: Linux only. Windows matches in the process code page,
// which under the test program (no manifest) is not UTF-8.
const MatchRow kUtf8Matches[] = {
    {"\xC3\x89t\xC3\xA9.txt", "\xC3\xA9T\xC3\x89.TXT", true},  // Été / éTÉ
    {"\xC3\xA4", "\xC3\x84", true},                            // ä / Ä
    {"\xCE\xB1", "\xCE\x91", true},                            // α / Α
    {"\xC3\xA9.txt", "?.txt", true},                           // one character, two bytes
    {"\xC3\xA9.txt", "??.txt", false},
    {"\xFF.txt", "?.txt", true},  // a stray byte counts as one character
    {"\xFF", "\xFE", false},
};

TEST(Wildcards, SharedTable) {
    for (const MatchRow& row : kSharedMatches)
        EXPECT_EQ(Wildcards::MatchSpec(row.name, row.pattern), row.matches)
            << "name [" << row.name << "] pattern [" << row.pattern << "]";
}

TEST(Wildcards, Utf8Characters) {
#if defined(_WIN32)
    if (GetACP() != CP_UTF8)
        GTEST_SKIP() << "the process code page is " << GetACP() << ", not UTF-8";
#endif
    for (const MatchRow& row : kUtf8Matches)
        EXPECT_EQ(Wildcards::MatchSpec(row.name, row.pattern), row.matches)
            << "name [" << row.name << "] pattern [" << row.pattern << "]";
}

TEST(EnvironmentExpand, KnownNamesAreReplacedAndTheRestKept) {
    SetVariable("CLEAN_T1", "v1");
    SetVariable("CLEAN_T2", "%CLEAN_T1%");
    UnsetVariable("CLEAN_NOPE");
    const struct {
        const char* text;
        const char* expanded;
    } rows[] = {
        {"%CLEAN_T1%/x", "v1/x"},
        {"%CLEAN_T1%%CLEAN_T1%", "v1v1"},
        {"%CLEAN_NOPE%/x", "%CLEAN_NOPE%/x"},
        // an unknown name is kept whole; the next name starts after it
        {"%CLEAN_NOPE%CLEAN_T1%", "%CLEAN_NOPE%CLEAN_T1%"},
        {"a % b %CLEAN_T1%", "a % b %CLEAN_T1%"},
        {"100%", "100%"},
        {"%CLEAN_T1%%", "v1%"},
        {"%", "%"},
        {"%%", "%%"},
        {"", ""},
        {"%CLEAN_T2%", "%CLEAN_T1%"},  // values are not expanded again
    };
    for (const auto& row : rows)
        EXPECT_EQ(Environment::Expand(row.text), row.expanded) << row.text;

#if defined(_WIN32)
    EXPECT_EQ(Environment::Expand("%clean_t1%"), "v1");
#else
    EXPECT_EQ(Environment::Expand("%clean_t1%"), "%clean_t1%");  // Linux names keep their case
#endif

    // No fixed buffer: a result far past 260 characters comes out whole.
    const std::string longValue(1000, 'L');
    SetVariable("CLEAN_LONG", longValue);
    EXPECT_EQ(Environment::Expand("<%CLEAN_LONG%>%CLEAN_LONG%"), "<" + longValue + ">" + longValue);
    for (const char* name : {"CLEAN_T1", "CLEAN_T2", "CLEAN_LONG"})
        UnsetVariable(name);
}

TEST(DisksList, ListsThisMachinesDisks) {
    std::vector<std::string> roots{"stale"};
    ASSERT_TRUE(Disks::List(roots));
    ASSERT_FALSE(roots.empty());
    for (std::size_t i = 0; i < roots.size(); ++i)
        for (std::size_t k = i + 1; k < roots.size(); ++k)
            EXPECT_NE(roots[i], roots[k]);
#if defined(_WIN32)
    for (const std::string& root : roots) {
        ASSERT_EQ(root.size(), 2u) << root;
        EXPECT_EQ(root[1], ':');
    }
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 2u);
    EXPECT_NE(std::find(roots.begin(), roots.end(), std::string(windows, 2)), roots.end());
#else
    // Kernel and memory file systems are no disks; every other root is a folder.
    for (const std::string& root : roots) {
        SCOPED_TRACE(root);
        if (root.empty())
            continue;
        EXPECT_EQ(root[0], '/');
        EXPECT_TRUE(fs::is_directory(root));
        EXPECT_NE(root, "/proc");
        EXPECT_NE(root, "/sys");
        EXPECT_NE(root, "/dev");
        EXPECT_NE(root, "/dev/shm");
    }
    struct statfs info;
    ASSERT_EQ(statfs("/", &info), 0);
    constexpr long kTmpfs = 0x01021994, kRamfs = 0x858458f6, kSquashfs = 0x73717368;
    if (info.f_type == kTmpfs || info.f_type == kRamfs || info.f_type == kSquashfs)
        GTEST_SKIP() << "/ is a memory or image file system here";
    EXPECT_NE(std::find(roots.begin(), roots.end(), ""), roots.end()) << "\"/\" is given as \"\"";
#endif
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = Narrow(dir_.path() / "settings.ini");
        testutil::WriteBytes(dir_.path() / "settings.ini",
                             "; comment\r\n"
                             "[Paths]\r\n"
                             "Data = C:\\data \r\n"
                             "quoted=\"with spaces \"\r\n"
                             "single='x'\r\n"
                             "unbalanced=\"open\r\n"
                             "inner=\"a\" b\"\r\n"
                             "  spaced key  =  v  w  \r\n"
                             "empty=\r\n"
                             "semicolon=a ; b\r\n"
                             "long=" + std::string(600, 'x') + "\r\n"
                             "name=\xC3\x89t\xC3\xA9\r\n"
                             "[Other]\r\n"
                             "Data=other\r\n");
    }
    testutil::TempDir dir_;
    std::string path_;
};

TEST_F(ProfileTest, ReadsValuesAsTheProfileFunctionsDo) {
    const struct {
        const char* section;
        const char* key;
        std::string value;
    } rows[] = {
        {"Paths", "Data", "C:\\data"},
        {"PATHS", "data", "C:\\data"},  // names are case-insensitive
        {"Other", "Data", "other"},
        {"Paths", "quoted", "with spaces "},  // quotes go, what they hold stays
        {"Paths", "single", "x"},
        {"Paths", "unbalanced", "\"open"},
        {"Paths", "inner", "a\" b"},
        {"Paths", "spaced key", "v  w"},
        {"Paths", "empty", ""},
        {"Paths", "semicolon", "a ; b"},  // no comments after a value
        {"Paths", "long", std::string(600, 'x')},
        {"Paths", "name", "\xC3\x89t\xC3\xA9"},
        {"Paths", "missing", ""},
        {"Missing", "Data", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Profile::ReadString(path_, row.section, row.key), row.value) << row.section << "/" << row.key;
    EXPECT_EQ(Profile::ReadString(Narrow(dir_.path() / "missing.ini"), "Paths", "Data"), "");
}

}  // namespace
