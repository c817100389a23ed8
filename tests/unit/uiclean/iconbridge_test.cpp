// The main window's "getIconBuffer" and "previewImage" as the page calls
// them, against the recording fake web view.
#include "fakeview.h"

#include "fendrel/utils.h"
#include "realwebview.h"
#include "uiclean/imagepreview.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace fakeview;

class IconBridge : public ::testing::Test {
protected:
    void SetUp() override {
        saved = g_wke;
        InstallFakeWebView();
        g_functions.clear();
        window = std::make_unique<MainBlkWindow>(nullptr, 0, "", 3);
    }
    void TearDown() override {
        window.reset();
        g_wke = saved;
    }
    // Calls a bound function with one text argument; the result as "kind:text".
    std::string Call(const char* name, const std::string& argument) {
        g_args = {Str(argument)};
        const auto& bound = g_functions.at(name);
        const FakeValue result = Get(bound.first(reinterpret_cast<jsExecState>(1), bound.second));
        switch (result.kind) {
        case FakeValue::Null: return "null:";
        case FakeValue::Bool: return result.number != 0 ? "bool:true" : "bool:false";
        case FakeValue::Buffer: return "buffer:" + result.text;
        default: return "other:" + result.text;
        }
    }

    WebViewApi saved;
    std::unique_ptr<MainBlkWindow> window;
    testutil::TempDir dir;
};

}  // namespace

TEST_F(IconBridge, GetIconBufferGivesPicturesAsTheyAreAndTheWindowsDefaultOtherwise) {
#if !defined(_WIN32)
    // A theme whose generic file icon is the default.
    fs::create_directories(dir.path() / "icons/hicolor/32x32/mimetypes");
    testutil::WriteBytes(dir.path() / "icons/hicolor/index.theme",
                         "[Icon Theme]\nDirectories=32x32/mimetypes\n[32x32/mimetypes]\nSize=32\nType=Fixed\n");
    testutil::WriteBytes(dir.path() / "icons/hicolor/32x32/mimetypes/text-x-generic.png", "generic");
    testutil::EnvOverride dataDirs{"XDG_DATA_DIRS", dir.path().string()};
    testutil::EnvOverride configHome{"XDG_CONFIG_HOME", dir.path().string()};
#endif
    testutil::WriteBytes(dir.path() / "photo.png", "png bytes");
    testutil::WriteBytes(dir.path() / "empty.png", "");
    const std::string root = Utils::utf16ToUtf8(dir.wstr()) + (dir.wstr().back() == L'/' ? "" : "/");

    EXPECT_EQ(Call("getIconBuffer", root + "photo.png"), "buffer:png bytes");
    const std::string fallback = Call("getIconBuffer", root + "empty.png");
    const std::vector<std::uint8_t>& icon = window->DefaultIcon();
    EXPECT_EQ(fallback, icon.empty() ? "null:" : "buffer:" + std::string(icon.begin(), icon.end()));
#if !defined(_WIN32)
    EXPECT_EQ(fallback, "buffer:generic");
    // Built once per window: a theme that changes later does not change it.
    fs::remove(dir.path() / "icons/hicolor/32x32/mimetypes/text-x-generic.png");
    EXPECT_EQ(Call("getIconBuffer", root + "missing.jpg"), "buffer:generic");
    // A new window builds its own, and with no theme there is none.
    window = std::make_unique<MainBlkWindow>(nullptr, 0, "", 3);
    EXPECT_EQ(Call("getIconBuffer", root + "missing.jpg"), "null:");
#endif
}

TEST_F(IconBridge, PreviewImageOfAFileThatIsNoPictureIsFalse) {
    testutil::WriteBytes(dir.path() / "notes.txt", "text, not a picture");
    testutil::WriteBytes(dir.path() / "one.gif", "G");
    for (const char* name : {"notes.txt", "one.gif", "missing.png"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Call("previewImage", (dir.path() / name).string()), "bool:false");
    }
}

TEST_F(IconBridge, ClosingTheProgramClosesThePreview) {
#if !defined(_WIN32)
    // The preview's own page needs the real library; the page's side stays fake.
    testutil::EnvOverride noBrowser{"CLEAN_NO_BROWSER", "1"};
    const WebViewApi& real = testutil::RealWebView();
    ASSERT_NE(real.wkeCreateWebWindow, nullptr) << "the web-view library beside the test program";
    g_wke.wkeCreateWebWindow = real.wkeCreateWebWindow;
    g_wke.wkeDestroyWebView = real.wkeDestroyWebView;
    g_wke.wkeShowWindow = real.wkeShowWindow;
    g_wke.wkeLoadURL = real.wkeLoadURL;
    g_wke.wkeOnLoadUrlBegin = real.wkeOnLoadUrlBegin;
    g_wke.wkeOnWindowClosing = real.wkeOnWindowClosing;
    g_wke.wkeOnWindowDestroy = real.wkeOnWindowDestroy;
#endif
    // The smallest GIF: one white pixel.
    testutil::WriteBytes(dir.path() / "pixel.gif",
                         std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01"
                                     "\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
                                     "D\x01\x00;",
                                     43));
    window->closeAsQuit = 1;
    testutil::UiThread ui;
    void* shown = nullptr;
    void* afterClose = nullptr;
    ui.Run([&] {
        EXPECT_EQ(Call("previewImage", (dir.path() / "pixel.gif").string()), "bool:true");
        shown = imagepreview::PreviewHandle();
        bool handled = false;
        window->procedure(*window, wmsg::kSysCommand, wmsg::kScClose, 0, handled);
        afterClose = imagepreview::PreviewHandle();
    });
    EXPECT_NE(shown, nullptr);
    EXPECT_EQ(afterClose, nullptr);
}
