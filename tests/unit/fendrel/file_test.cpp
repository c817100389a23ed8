// File: path arithmetic, enumeration, text files, copies and sizes, on real
// trees in a temporary folder made per test.
#include "fendrel/file.h"
#include "fendrel/utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#  include <winioctl.h>
#else
#  include <fcntl.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kSep = fendrel::kPathSep;
constexpr wchar_t kOtherSep = kSep == L'/' ? L'\\' : L'/';

// Table rows are written with "\" for the platform separator and "|" for the
// other one, so one table serves both systems.
std::wstring Native(std::wstring text) {
    for (auto& c : text) {
        c = c == L'\\' ? kSep : c == L'|' ? kOtherSep : c;
    }
    return text;
}

fs::path FsPath(const std::wstring& path) {
    if constexpr (sizeof(wchar_t) == 2) {
        return fs::path(path);
    } else {
        return fs::u8path(Utils::utf16ToUtf8(path));
    }
}

// A fresh folder under the system temporary folder, removed with everything in it.
class TempTree : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = File::TempPath() + L"fendrel-" + Utils::utf8ToUtf16(info->name()) + L"-" +
                std::to_wstring(counter++) + L"-" + std::to_wstring(ProcessId());
        fs::remove_all(FsPath(root_));
        ASSERT_TRUE(fs::create_directories(FsPath(root_)));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(FsPath(root_), ignored);
    }

    std::wstring At(const std::wstring& relative) const { return root_ + kSep + Native(relative); }

    void Write(const std::wstring& relative, const std::string& bytes) const {
        std::ofstream out(FsPath(At(relative)), std::ios::binary);
        out << bytes;
        ASSERT_TRUE(out.good());
    }
    void MakeDir(const std::wstring& relative) const { ASSERT_TRUE(fs::create_directories(FsPath(At(relative)))); }
    std::string Contents(const std::wstring& relative) const {
        std::ifstream in(FsPath(At(relative)), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static unsigned long ProcessId() {
#if defined(_WIN32)
        return GetCurrentProcessId();
#else
        return static_cast<unsigned long>(getpid());
#endif
    }

    std::wstring root_;
};

// A file of the given length whose data occupies no disk space where the
// file system allows it.
bool MakeSizedFile(const std::wstring& path, std::int64_t size) {
#if defined(_WIN32)
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD ignored = 0;
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size;
    const bool ok = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
#else
    const int fd = open(Utils::utf16ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool ok = fd >= 0 && ftruncate(fd, size) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return ok;
#endif
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(FilePaths, TableOfPaths) {
    struct Row {
        const wchar_t* path;
        const wchar_t* directory;
        const wchar_t* name;
        const wchar_t* basename;
        const wchar_t* extension;
    };
    const Row rows[] = {
        {L"C:\\a\\b.txt", L"C:\\a", L"b.txt", L"b", L"txt"},
        {L"b.txt", L"", L"b.txt", L"b", L"txt"},
        {L"C:|a|b.txt", L"", L"b.txt", L"b", L"txt"},                 // either separator names, only ours splits folders
        {L"C:\\x|y\\b.txt", L"C:\\x|y", L"b.txt", L"b", L"txt"},
        {L"C:\\a.b\\File.TXT", L"C:\\a.b", L"File.TXT", L"File", L"txt"},
        {L"C:\\a.b\\file", L"C:\\a.b", L"file", L"file", L"b\\file"},  // the last dot of the whole path
        {L"C:\\dir.x\\file", L"C:\\dir.x", L"file", L"file", L"x\\file"},
        {L"\\srv\\archive.tar.GZ", L"\\srv", L"archive.tar.GZ", L"archive.tar", L"gz"},
        {L"\\home\\.profile", L"\\home", L".profile", L"", L"profile"},
        {L"\\a\\folder\\", L"\\a\\folder", L"", L"", L""},
        {L"noext", L"", L"noext", L"noext", L""},
        {L"\\x\\\u00C4rger.\u00C4PFEL", L"\\x", L"\u00C4rger.\u00C4PFEL", L"\u00C4rger", L"\u00E4pfel"},
    };
    for (const auto& row : rows) {
        const std::wstring path = Native(row.path);
        SCOPED_TRACE(Utils::utf16ToUtf8(path));
        EXPECT_EQ(Native(row.directory), File::Directory(path));
        EXPECT_EQ(Native(row.name), File::Name(path));
        EXPECT_EQ(Native(row.basename), File::Basename(path));
        EXPECT_EQ(Native(row.extension), File::Extension(path));

        const File file(path);
        EXPECT_EQ(Native(row.name), file.Name());
        EXPECT_EQ(Native(row.basename), file.Basename());
        EXPECT_EQ(Native(row.extension), file.Extension());
    }
    EXPECT_EQ(L"c", File::Name(L"a:b:c", L':'));
    EXPECT_EQ(L"a\\b/c", File::Name(L"a\\b/c", L':'));
}

TEST(FilePaths, ProgramAndTemporaryFolders) {
    const std::wstring program = File::FullPath();
    ASSERT_FALSE(program.empty());
    EXPECT_TRUE(File::Exist(program));
    EXPECT_EQ(0u, File::Name(program).find(L"fendrel_tests"));
    EXPECT_EQ(File::Directory(program), File::Directory(L""));

    const std::wstring temp = File::TempPath();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(kSep, temp.back());
    EXPECT_TRUE(File::Exist(temp));
}

TEST(FilePaths, MemberFormsAndRename) {
    File file(Native(L"\\data\\report.TXT"));
    File copy(file);
    file.Rename(L"summary.csv");
    EXPECT_EQ(Native(L"\\data\\summary.csv"), file.Path());
    EXPECT_EQ(Native(L"\\data\\report.TXT"), copy.Path());  // a deep copy

    File moved(std::move(copy));
    EXPECT_EQ(Native(L"\\data\\report.TXT"), moved.Path());
    moved = file;
    EXPECT_EQ(file.Path(), moved.Path());

    File bare(L"plain");
    bare.Rename(L"other");
    EXPECT_EQ(L"other", bare.Path());
}

TEST(FilePaths, FileTypeText) {
    EXPECT_EQ(L"pdf", File::FileTypeToString(FileType::pdf));
    EXPECT_EQ(L"exif", File::FileTypeToString(FileType::exif));
    EXPECT_EQ(L"", File::FileTypeToString(FileType::none));
    EXPECT_EQ(L"webp", File::FileTypeToString(FileType::webp));
    EXPECT_THROW(File::FileTypeToString(static_cast<FileType>(21)), std::out_of_range);
    EXPECT_THROW(File::FileTypeToString(static_cast<FileType>(-1)), std::out_of_range);
}

using FileTree = TempTree;

TEST_F(FileTree, GenerateUniquePath) {
    Write(L"report.txt", "0");
    Write(L"report_1.txt", "1");
    MakeDir(L"data");
    MakeDir(L"a.b");
    Write(L"a.b\\file", "x");

    std::wstring path = At(L"report.txt");
    EXPECT_EQ(At(L"report_2.txt"), File::GenerateUniquePath(path, true));
    EXPECT_EQ(At(L"report_2.txt"), path);  // the argument follows

    path = At(L"data");
    EXPECT_EQ(At(L"data_1"), File::GenerateUniquePath(path, false));

    // The dot in the folder name is not an extension of the file.
    path = At(L"a.b\\file");
    EXPECT_EQ(At(L"a.b\\file_1"), File::GenerateUniquePath(path, true));

    path = At(L"free.txt");
    EXPECT_EQ(At(L"free.txt"), File::GenerateUniquePath(path, true));
}

TEST_F(FileTree, EnumerationOfASmallTree) {
    Write(L"one.txt", "1");
    Write(L"two.DAT", "22");
    MakeDir(L"sub");
    Write(L"sub\\inner.txt", "3");
    MakeDir(L"empty");

    struct Case {
        const wchar_t* pattern;
        int files;
    };
    const Case cases[] = {
        {L"*", 2},       {L"*.*", 2},     {L"*.txt", 1},     {L"*.dat", 1},  // case-insensitive
        {L"?NE.TXT", 1}, {L"s*", 0},      {L"*.xyz", -1},    {L"missing\\*", -1},
        {L"empty\\*", 0},  // "." and ".." match, but they are folders
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utils::utf16ToUtf8(c.pattern));
        EXPECT_EQ(c.files, File::CountFileInDir(At(c.pattern)));
    }

    const std::vector<std::wstring> all = {L".", L"..", L"empty", L"one.txt", L"sub", L"two.DAT"};
    EXPECT_EQ(all, Sorted(File::ListDir(At(L"*"))));
    EXPECT_EQ(std::vector<std::wstring>{L"one.txt"}, File::ListDir(At(L"*.TXT")));
    EXPECT_TRUE(File::ListDir(At(L"missing\\*")).empty());

    EXPECT_EQ((std::vector<std::wstring>{At(L"one.txt"), At(L"two.DAT")}), Sorted(File::GetFilesInDir(root_)));
    EXPECT_TRUE(File::GetFilesInDir(At(L"missing")).empty());

#if !defined(_WIN32)
    // A link to a folder counts as a folder, a dangling link as a file.
    // (Linux only: links in a tree seen by Wine would be deleted through.)
    fs::create_directory_symlink(FsPath(At(L"sub")), FsPath(At(L"to-sub")));
    fs::create_symlink(FsPath(At(L"gone")), FsPath(At(L"dangling")));
    EXPECT_EQ(3, File::CountFileInDir(At(L"*")));
#endif
}

TEST_F(FileTree, TextFilesAreUtf16LittleEndian) {
    const std::wstring text = L"Gr\u00FC\u00DFe \u6587\u4EF6 \U0001F600\r\nend";
    ASSERT_TRUE(File::WriteTextToFile(At(L"t.txt"), text));
    EXPECT_EQ(text, File::ReadTextFile(At(L"t.txt")));

    // The bytes on disk, identical on both systems: no byte-order mark, the
    // emoji as a surrogate pair, no terminator.
    ASSERT_TRUE(File::WriteTextToFile(At(L"bytes.txt"), L"A\u00E9\U0001F600"));
    EXPECT_EQ(std::string("A\0\xE9\0\x3D\xD8\x00\xDE", 8), Contents(L"bytes.txt"));

    Write(L"stop.txt", std::string("a\0b\0\0\0c\0", 8));  // ("nul.txt" would be a device on Windows)
    EXPECT_EQ(L"ab", File::ReadTextFile(At(L"stop.txt")));  // stops at the first NUL

    ASSERT_TRUE(File::WriteTextToFile(At(L"t.txt"), L""));
    EXPECT_EQ("", Contents(L"t.txt"));  // truncated
    EXPECT_EQ(L"", File::ReadTextFile(At(L"missing.txt")));
    EXPECT_FALSE(File::WriteTextToFile(At(L"missing\\t.txt"), L"x"));

    const std::wstring unicodeName = At(L"\u6587\u4EF6-\u00E9.txt");
    ASSERT_TRUE(File::WriteTextToFile(unicodeName, L"x"));
    EXPECT_EQ(std::vector<std::wstring>{File::Name(unicodeName)}, File::ListDir(At(L"\u6587*")));
}

TEST_F(FileTree, ReadFileReturnsExactBytes) {
    const std::string bytes("\0\x01\xFF binary\r\n\0", 12);
    Write(L"b.bin", bytes);
    const auto data = File::readFile(At(L"b.bin"));
    EXPECT_EQ(bytes, std::string(data.begin(), data.end()));

    Write(L"empty.bin", "");
    EXPECT_TRUE(File::readFile(At(L"empty.bin")).empty());
    EXPECT_TRUE(File::readFile(At(L"missing.bin")).empty());
    EXPECT_TRUE(File::readFile(root_).empty());
}

TEST_F(FileTree, CopyMoveAndDelete) {
    Write(L"src.txt", "source");
    Write(L"dst.txt", "older and longer contents");

    EXPECT_TRUE(File::Copy(File(At(L"src.txt")), At(L"new.txt"), false));
    EXPECT_EQ("source", Contents(L"new.txt"));
    EXPECT_TRUE(File::Copy(File(At(L"src.txt")), At(L"dst.txt"), false));  // overwrites
    EXPECT_EQ("source", Contents(L"dst.txt"));
    EXPECT_TRUE(File::Exist(At(L"src.txt")));

    // Copying a file onto itself must fail without emptying it.
    EXPECT_FALSE(File::Copy(File(At(L"src.txt")), At(L"src.txt"), false));
    EXPECT_EQ("source", Contents(L"src.txt"));

    EXPECT_TRUE(File::Copy(File(At(L"src.txt")), At(L"moved.txt"), true));
    EXPECT_FALSE(File::Exist(At(L"src.txt")));
    EXPECT_EQ("source", Contents(L"moved.txt"));

    EXPECT_FALSE(File::Copy(File(At(L"missing.txt")), At(L"x.txt"), false));
    EXPECT_FALSE(File::Exist(At(L"x.txt")));
    EXPECT_FALSE(File::Copy(File(At(L"moved.txt")), At(L"missing\\x.txt"), true));
    EXPECT_TRUE(File::Exist(At(L"moved.txt")));  // a failed move keeps the source

    EXPECT_TRUE(File::Delete(File(At(L"moved.txt"))));
    EXPECT_FALSE(File::Exist(At(L"moved.txt")));
    EXPECT_FALSE(File::Delete(File(At(L"moved.txt"))));
    MakeDir(L"folder");
    EXPECT_FALSE(File::Delete(File(At(L"folder"))));  // files only
    EXPECT_TRUE(File::Exist(At(L"folder")));
}

TEST_F(FileTree, SizesAcrossTheThirtyTwoBitLimit) {
    Write(L"small", "12345");
    EXPECT_EQ(5, File::BytesSize(At(L"small")));
    EXPECT_EQ(5, File(At(L"small")).BytesSize64());
    EXPECT_EQ(-1, File::BytesSize(At(L"missing")));
    EXPECT_EQ(-1, File::BytesSize64(At(L"missing")));
    EXPECT_EQ(-1, File::BytesSize64(root_));

    struct Case {
        std::int64_t size;
        std::int32_t size32;
    };
    const Case cases[] = {
        {INT32_MAX, INT32_MAX},
        {std::int64_t{1} << 31, -1},        // 2 GiB: used to come back negative
        {std::int64_t{3} << 30, -1},        // 3 GiB: used to come back as a plausible 1 GiB
        {(std::int64_t{4} << 30) + 7, -1},  // 4 GiB + 7: used to come back as 7
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const std::wstring path = At(L"sparse");
        ASSERT_TRUE(MakeSizedFile(path, c.size));
        EXPECT_EQ(c.size, File::BytesSize64(path));
        EXPECT_EQ(c.size32, File::BytesSize(path));
        EXPECT_EQ(c.size32, File(path).BytesSize());
        ASSERT_TRUE(File::Delete(File(path)));
    }
}

TEST_F(FileTree, CreateDeepDirectory) {
    EXPECT_TRUE(File::CreateDeepDirectory(At(L"a\\b\\c")));
    EXPECT_TRUE(fs::is_directory(FsPath(At(L"a\\b\\c"))));
    EXPECT_TRUE(File::CreateDeepDirectory(At(L"a\\b\\c")));  // already there
    EXPECT_EQ(1, Utils::CreateDeepDirectory(At(L"a\\b\\d\\")));
    EXPECT_TRUE(fs::is_directory(FsPath(At(L"a\\b\\d"))));

    Write(L"file", "x");
    EXPECT_FALSE(File::CreateDeepDirectory(At(L"file\\below")));
    EXPECT_FALSE(File::CreateDeepDirectory(L""));
#if defined(_WIN32)
    EXPECT_FALSE(File::CreateDeepDirectory(L"C:"));
#else
    EXPECT_TRUE(File::CreateDeepDirectory(L"/"));
#endif
}
