// File icons: the icon-file layout built from an icon group, the rule that
// picture files go to the page as they are, the Windows resource reader on
// the test program's own icon group, and the Linux lookup in a small icon
// theme and MIME database made in a temporary folder.
#include "uiclean/fileicon.h"

#include "fendrel/file.h"
#include "fendrel/utils.h"
#include "host/webview.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using fileicon::Bytes;

namespace {

Bytes B(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::uint32_t Read32(const Bytes& bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, &bytes[at], 4);  // little-endian on both targets
    return value;
}

// A raw icon group: header and one 14-byte entry per (width, id).
Bytes Group(const std::vector<std::pair<std::uint8_t, std::uint16_t>>& entries) {
    Bytes group = {0, 0, 1, 0, static_cast<std::uint8_t>(entries.size()), 0};
    for (const auto& [width, id] : entries) {
        const std::uint8_t entry[14] = {width, width, 16, 0, 1, 0, 4, 0, 0xEE, 0xEE, 0xEE, 0xEE,
                                        static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8)};
        group.insert(group.end(), entry, entry + 14);
    }
    return group;
}

const Bytes kPngImage = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3};

}  // namespace

TEST(IconFile, TakesLoadableNonPngImagesWithTheirGroupEntries) {
    const Bytes group = Group({{16, 7}, {256, 8}, {32, 9}, {48, 10}});
    EXPECT_EQ(fileicon::GroupImageIds(group), (std::vector<std::uint16_t>{7, 8, 9, 10}));
    // The PNG-compressed and the missing image are left out.
    const Bytes icon = fileicon::IconFileFromGroup(group, {B("sixteen"), kPngImage, {}, B("forty-eight!")});
    ASSERT_EQ(icon.size(), 6u + 2 * 16 + 7 + 12);
    EXPECT_EQ(Bytes(icon.begin(), icon.begin() + 6), (Bytes{0, 0, 1, 0, 2, 0}));
    const struct {
        std::uint8_t width;
        std::string image;
        std::uint32_t offset;
    } expected[] = {{16, "sixteen", 38}, {48, "forty-eight!", 45}};
    for (std::size_t n = 0; n < 2; ++n) {
        const std::size_t entry = 6 + n * 16;
        EXPECT_EQ(Bytes(icon.begin() + entry, icon.begin() + entry + 8),
                  (Bytes{expected[n].width, expected[n].width, 16, 0, 1, 0, 4, 0}));
        EXPECT_EQ(Read32(icon, entry + 8), expected[n].image.size());
        EXPECT_EQ(Read32(icon, entry + 12), expected[n].offset);
        EXPECT_EQ(std::string(icon.begin() + expected[n].offset,
                              icon.begin() + expected[n].offset + expected[n].image.size()),
                  expected[n].image);
    }
}

TEST(IconFile, NothingUsableGivesNone) {
    EXPECT_TRUE(fileicon::IconFileFromGroup(Group({{16, 1}, {32, 2}}), {kPngImage, {}}).empty());
    EXPECT_TRUE(fileicon::IconFileFromGroup(Group({}), {}).empty());
    // A count larger than the group holds is no group.
    Bytes truncated = Group({{16, 1}});
    truncated[4] = 3;
    EXPECT_TRUE(fileicon::GroupImageIds(truncated).empty());
    EXPECT_TRUE(fileicon::IconFileFromGroup(truncated, {B("a"), B("b"), B("c")}).empty());
    EXPECT_TRUE(fileicon::GroupImageIds({0, 0}).empty());
}

TEST(IconForFile, PictureFilesGoAsTheyAreAndEmptyOnesGiveTheDefault) {
    testutil::TempDir dir;
#if !defined(_WIN32)
    // No icon theme: the lookup of a type's icon finds nothing.
    testutil::EnvOverride noThemes{"XDG_DATA_DIRS", dir.path().string()};
#endif
    testutil::WriteBytes(dir.path() / "photo.png", "png bytes");
    testutil::WriteBytes(dir.path() / "LOGO.ICO", "ico bytes");
    testutil::WriteBytes(dir.path() / "empty.png", "");
    // Not a picture type: looked into for an icon, and a plain text file has none.
    testutil::WriteBytes(dir.path() / "notes.bin", "text");
    const Bytes fallback = B("default icon");
    const struct {
        const wchar_t* name;
        std::string expected;
    } cases[] = {
        {L"photo.png", "png bytes"}, {L"LOGO.ICO", "ico bytes"},       {L"empty.png", "default icon"},
        {L"gone.jpg", "default icon"}, {L"notes.bin", "default icon"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utils::utf16ToUtf8(c.name));
        EXPECT_EQ(fileicon::IconForFile(dir / c.name, fallback), B(c.expected));
    }
    // No default: nothing.
    EXPECT_TRUE(fileicon::IconForFile(dir / L"empty.png", {}).empty());
}

#if defined(_WIN32)

TEST(IconForFile, ReadsTheFirstIconGroupOfAProgram) {
    // The group's bitmap image as it is in the icon file the test program was built with.
    const Bytes icon = fileicon::FileIconImage(File::FullPath());
    ASSERT_EQ(icon.size(), 6u + 16 + 296) << "the test program's icon group (16-colour bitmap plus a PNG)";
    EXPECT_EQ(Bytes(icon.begin(), icon.begin() + 6), (Bytes{0, 0, 1, 0, 1, 0}));
    EXPECT_EQ(Bytes(icon.begin() + 6, icon.begin() + 14), (Bytes{16, 16, 16, 0, 1, 0, 4, 0}));
    EXPECT_EQ(Read32(icon, 14), 296u);
    EXPECT_EQ(Read32(icon, 18), 22u);
    EXPECT_EQ(Read32(icon, 22), 40u) << "the image starts with its bitmap header";
    EXPECT_EQ(fileicon::IconForFile(File::FullPath(), B("default")), icon);
}

TEST(IconForFile, AProgramWithoutIconsGivesTheDefault) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir.path() / "fake.exe", "MZ but no program");
    const std::wstring library = File::Directory(L"") + L"\\" + WebViewLibraryName();
    ASSERT_TRUE(File::Exist(library));
    for (const std::wstring& path : {library, dir / L"fake.exe", dir / L"missing.dll"}) {
        SCOPED_TRACE(Utils::utf16ToUtf8(path));
        EXPECT_TRUE(fileicon::FileIconImage(path).empty());
        EXPECT_EQ(fileicon::IconForFile(path, B("default")), B("default"));
    }
}

TEST(IconForFile, TheSystemDefaultIsAnIconFileOrNone) {
    const Bytes icon = fileicon::SystemDefaultIcon();
    if (icon.empty()) {
        std::printf("this system offers no default file icon (imageres.dll group 15 / shell32.dll group 3)\n");
        return;
    }
    ASSERT_GE(icon.size(), 22u);
    const std::size_t count = icon[4] | (icon[5] << 8);
    EXPECT_EQ(Bytes(icon.begin(), icon.begin() + 4), (Bytes{0, 0, 1, 0}));
    ASSERT_GE(count, 1u);
    // The last image ends where the buffer does.
    const std::size_t last = 6 + (count - 1) * 16;
    EXPECT_EQ(Read32(icon, last + 8) + Read32(icon, last + 12), icon.size());
}

#else

// A MIME database and icon themes in a temporary data folder, with the
// user's configuration folder pointed at it too.
class IconTheme : public ::testing::Test {
protected:
    void SetUp() override {
        Write("mime/globs2", "# comment\n"
                             "50:application/pdf:*.pdf\n"
                             "50:application/x-thing:*.thing\n"
                             "50:text/x-readme:README:cs\n"
                             "60:application/x-tar-gz:*.tar.gz\n"
                             "50:application/gzip:*.gz\n"
                             "50:audio/x-odd:*.odd\n");
        Write("mime/generic-icons", "application/x-thing:package-x-generic\n");
        Theme("Adwaita", {"16x16/mimetypes:16:Fixed", "48x48/mimetypes:48:Fixed", "96x96/mimetypes:96:Fixed",
                          "scalable/mimetypes:128:Scalable", "32x32@2/mimetypes:32:Fixed:2"});
        Theme("hicolor", {"32x32/mimetypes:32:Fixed"});
        Theme("Mine", {"24x24/mimetypes:24:Fixed"});
        Write("icons/Adwaita/16x16/mimetypes/application-pdf.png", "pdf 16");
        Write("icons/Adwaita/48x48/mimetypes/application-pdf.png", "pdf 48");
        Write("icons/Adwaita/96x96/mimetypes/application-pdf.png", "pdf 96");
        Write("icons/Adwaita/scalable/mimetypes/application-pdf.svg", "<svg>pdf</svg>");
        Write("icons/Adwaita/scalable/mimetypes/package-x-generic.svg", "<svg>package</svg>");
        Write("icons/Adwaita/96x96/mimetypes/application-x-tar-gz.png", "tgz 96");
        Write("icons/Adwaita/32x32@2/mimetypes/application-gzip.png", "gz hi-dpi");
        Write("icons/hicolor/32x32/mimetypes/text-x-generic.png", "text generic");
        Write("icons/Mine/24x24/mimetypes/text-x-readme.png", "readme mine");
        // A folder the index does not list is not looked in.
        Write("icons/Adwaita/64x64/mimetypes/audio-x-odd.png", "unlisted");
    }
    void Write(const std::string& name, const std::string& text) {
        fs::create_directories((data.path() / name).parent_path());
        testutil::WriteBytes(data.path() / name, text);
    }
    // Folders as "name:size:type[:scale]".
    void Theme(const std::string& theme, const std::vector<std::string>& folders) {
        std::string index = "[Icon Theme]\nName=" + theme + "\nDirectories=";
        std::string sections;
        for (const std::string& folder : folders) {
            std::vector<std::string> f;
            for (std::size_t at = 0, next; at <= folder.size(); at = next + 1) {
                next = folder.find(':', at);
                if (next == std::string::npos)
                    next = folder.size();
                f.push_back(folder.substr(at, next - at));
            }
            index += f[0] + ",";
            sections += "\n[" + f[0] + "]\nSize=" + f[1] + "\nType=" + f[2] + "\n" +
                        (f.size() > 3 ? "Scale=" + f[3] + "\n" : "");
        }
        Write("icons/" + theme + "/index.theme", index + "\n" + sections);
    }
    std::string Icon(const std::wstring& name) {
        const Bytes icon = fileicon::FileIconImage(data / name);
        return std::string(icon.begin(), icon.end());
    }

    testutil::TempDir data;
    testutil::TempDir config;
    testutil::EnvOverride dataDirs{"XDG_DATA_DIRS", data.path().string()};
    testutil::EnvOverride configHome{"XDG_CONFIG_HOME", config.path().string()};
};

TEST_F(IconTheme, FindsTheTypesIconInTheThemes) {
    const struct {
        const wchar_t* file;
        const char* icon;
    } cases[] = {
        {L"report.pdf", "pdf 48"},          // a PNG between 32 and 64 before SVG and other sizes
        {L"REPORT.PDF", "pdf 48"},          // globs match without case unless marked
        {L"a.thing", "<svg>package</svg>"}, // the generic icon the database names
        {L"README", "text generic"},        // the media's generic icon, from hicolor
        {L"b.tar.gz", "tgz 96"},            // the heavier glob wins over "*.gz"
        {L"readme", ""},                    // a case-sensitive glob does not match
        {L"c.gz", ""},                      // only a high-resolution folder has it
        {L"d.odd", ""},                     // only an unlisted folder has it
        {L"e.unknown", ""},                 // no type at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utils::utf16ToUtf8(c.file));
        EXPECT_EQ(Icon(c.file), c.icon);
    }
}

TEST_F(IconTheme, TheUsersThemeComesFirst) {
    fs::create_directories(config.path() / "gtk-3.0");
    testutil::WriteBytes(config.path() / "gtk-3.0" / "settings.ini", "[Settings]\ngtk-icon-theme-name = Mine\n");
    EXPECT_EQ(Icon(L"README"), "readme mine");
}

TEST_F(IconTheme, TheDefaultIsTheGenericFileIconOrNone) {
    const Bytes text = fileicon::SystemDefaultIcon();
    EXPECT_EQ(std::string(text.begin(), text.end()), "text generic");
    fs::remove(data.path() / "icons/hicolor/32x32/mimetypes/text-x-generic.png");
    Write("icons/Adwaita/scalable/mimetypes/application-x-generic.svg", "<svg>generic</svg>");
    // A new data folder value is read anew.
    testutil::EnvOverride again{"XDG_DATA_DIRS", data.path().string() + ":/nonexistent"};
    const Bytes application = fileicon::SystemDefaultIcon();
    EXPECT_EQ(std::string(application.begin(), application.end()), "<svg>generic</svg>");

    testutil::TempDir empty;
    testutil::EnvOverride none{"XDG_DATA_DIRS", empty.path().string()};
    EXPECT_TRUE(fileicon::SystemDefaultIcon().empty());
    EXPECT_EQ(fileicon::IconForFile(data / L"x.pdf", {}), Bytes{});
}

#endif
