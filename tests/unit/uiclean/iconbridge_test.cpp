// The main window's "getIconBuffer" and "previewImage" as the page calls
// them, against a small fake web view that keeps values in a table.
#include "uiclean/mainblkwindow.h"

#include "fendrel/utils.h"
#include "host/webview.h"
#include "realwebview.h"
#include "testutil.h"
#include "uiclean/imagepreview.h"
#include "uithread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Value {
    std::string kind;  // "null", "bool", "string", "buffer"
    std::string text;
};
std::vector<Value> g_values;  // handle = index + 1
std::vector<jsValue> g_args;
std::map<std::string, wkeJsNativeFunction> g_bound;

jsValue Make(Value value) {
    g_values.push_back(std::move(value));
    return static_cast<jsValue>(g_values.size());
}
const Value& Of(jsValue handle) {
    static const Value undefined{"undefined", ""};
    return handle >= 1 && static_cast<std::size_t>(handle) <= g_values.size() ? g_values[handle - 1] : undefined;
}

jsValue WKE_CALL FakeNull() { return Make({"null", ""}); }
jsValue WKE_CALL FakeBoolean(bool b) { return Make({"bool", b ? "true" : "false"}); }
jsValue WKE_CALL FakeTrue() { return FakeBoolean(true); }
jsValue WKE_CALL FakeFalse() { return FakeBoolean(false); }
jsValue WKE_CALL FakeUndefined() { return Make({"undefined", ""}); }
jsValue WKE_CALL FakeArrayBuffer(jsExecState, const char* data, size_t length) {
    return Make({"buffer", std::string(data, length)});
}
jsValue WKE_CALL FakeArg(jsExecState, int index) {
    return static_cast<std::size_t>(index) < g_args.size() ? g_args[static_cast<std::size_t>(index)] : FakeUndefined();
}
const char* WKE_CALL FakeToTempString(jsExecState, jsValue value) { return Of(value).text.c_str(); }
void WKE_CALL FakeBind(const char* name, wkeJsNativeFunction function, void*, unsigned) { g_bound[name] = function; }
void WKE_CALL FakeDrag(wkeWebView, bool) {}

class IconBridge : public ::testing::Test {
protected:
    void SetUp() override {
        saved = g_wke;
        g_wke = WebViewApi{};
        g_wke.jsNull = FakeNull;
        g_wke.jsBoolean = FakeBoolean;
        g_wke.jsTrue = FakeTrue;
        g_wke.jsFalse = FakeFalse;
        g_wke.jsUndefined = FakeUndefined;
        g_wke.jsArrayBuffer = FakeArrayBuffer;
        g_wke.jsArg = FakeArg;
        g_wke.jsToTempString = FakeToTempString;
        g_wke.jsToString = FakeToTempString;
        g_wke.wkeJsBindFunction = FakeBind;
        g_wke.wkeSetDragEnable = FakeDrag;
        g_wke.wkeSetDragDropEnable = FakeDrag;
        g_values.clear();
        g_bound.clear();
        window = std::make_unique<MainBlkWindow>(nullptr, 0, "", 3);
    }
    void TearDown() override {
        window.reset();
        g_wke = saved;
    }
    // Calls a bound function with one text argument; the result as "kind:text".
    std::string Call(const char* name, const std::string& argument) {
        g_args = {Make({"string", argument})};
        const jsValue result = g_bound.at(name)(reinterpret_cast<jsExecState>(1), window.get());
        return Of(result).kind + ":" + Of(result).text;
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
