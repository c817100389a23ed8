// The page's "launchAndWait" through the main window, against a small fake
// web view: the page hears "launchAndWaitCbk" with the result and its tag on
// the UI thread, and only once the whole started process tree has ended.
#include "uiclean/mainblkwindow.h"

#include "host/uitask.h"
#include "host/webview.h"
#include "fendrel/utils.h"
#include "testutil.h"
#include "uithread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Arguments of the next native call are texts; an int value is its own
// handle, so the recorded page calls show the numbers as they were sent.
std::vector<std::string> g_args;
std::map<std::string, wkeJsNativeFunction> g_bound;
std::mutex g_callsMutex;
std::vector<std::string> g_calls;  // "name(args)", with " + marker" when the marker existed then
std::filesystem::path g_marker;
constexpr jsValue kCallback = 1'000'000'007;

jsValue WKE_CALL FakeArg(jsExecState, int index) { return index; }
int WKE_CALL FakeArgCount(jsExecState) { return static_cast<int>(g_args.size()); }
const char* WKE_CALL FakeToString(jsExecState, jsValue value) {
    return static_cast<std::size_t>(value) < g_args.size() ? g_args[static_cast<std::size_t>(value)].c_str() : "";
}
int WKE_CALL FakeToInt(jsExecState es, jsValue value) { return std::atoi(FakeToString(es, value)); }
jsValue WKE_CALL FakeInt(int n) { return n; }
jsValue WKE_CALL FakeNull() { return 0; }
jsExecState WKE_CALL FakeGlobalExec(wkeWebView) { return reinterpret_cast<jsExecState>(1); }
jsValue WKE_CALL FakeGetGlobal(jsExecState, const char* name) {
    return std::string(name) == "launchAndWaitCbk" ? kCallback : 0;
}
jsType WKE_CALL FakeTypeOf(jsValue value) { return value == kCallback ? JSTYPE_FUNCTION : JSTYPE_UNDEFINED; }
jsValue WKE_CALL FakeCallGlobal(jsExecState, jsValue, jsValue* args, int count) {
    std::string call = "launchAndWaitCbk(";
    for (int i = 0; i < count; ++i)
        call += (i ? "," : "") + std::to_string(args[i]);
    call += ")";
    if (!g_marker.empty() && std::filesystem::exists(g_marker))
        call += " + marker";
    std::lock_guard<std::mutex> lock(g_callsMutex);
    g_calls.push_back(call);
    return 0;
}
void WKE_CALL FakeBind(const char* name, wkeJsNativeFunction function, void*, unsigned) { g_bound[name] = function; }
void WKE_CALL FakeDrag(wkeWebView, bool) {}

class LaunchAndWait : public ::testing::Test {
protected:
    void SetUp() override {
        g_wke = WebViewApi{};
        g_wke.jsArg = FakeArg;
        g_wke.jsArgCount = FakeArgCount;
        g_wke.jsToTempString = FakeToString;
        g_wke.jsToString = FakeToString;
        g_wke.jsToInt = FakeToInt;
        g_wke.jsInt = FakeInt;
        g_wke.jsNull = FakeNull;
        g_wke.wkeGlobalExec = FakeGlobalExec;
        g_wke.jsGetGlobal = FakeGetGlobal;
        g_wke.jsTypeOf = FakeTypeOf;
        g_wke.jsCallGlobal = FakeCallGlobal;
        g_wke.wkeJsBindFunction = FakeBind;
        g_wke.wkeSetDragEnable = FakeDrag;
        g_wke.wkeSetDragDropEnable = FakeDrag;
        g_calls.clear();
        window = std::make_unique<MainBlkWindow>(nullptr, 0, "", 3);
        window->window = ui.window();
        window->webView = reinterpret_cast<wkeWebView>(1);
    }
    void TearDown() override {
        window.reset();  // waits for its workers
        g_wke = WebViewApi{};
        g_marker.clear();
    }
    void Launch(const std::wstring& commandLine, int tag) {
        ASSERT_EQ(1u, g_bound.count("launchAndWait"));
        g_args = {Utils::utf16ToUtf8(commandLine), std::to_string(tag)};
        g_bound["launchAndWait"](reinterpret_cast<jsExecState>(1), window.get());
    }
    // The page's calls once n have come (bounded wait).
    std::vector<std::string> WaitCalls(std::size_t n) {
        for (int i = 0; i < 3000; ++i) {
            {
                std::lock_guard<std::mutex> lock(g_callsMutex);
                if (g_calls.size() >= n)
                    return g_calls;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard<std::mutex> lock(g_callsMutex);
        return g_calls;
    }

    testutil::UiThread ui{[](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        return uitask::HandleTaskMessage(message, wParam, lParam);
    }};
    testutil::TempDir dir;
    std::unique_ptr<MainBlkWindow> window;
};

TEST_F(LaunchAndWait, CallsBackAfterTheWholeTreeWithItsTag) {
    // The started program starts a child and exits at once; the child writes
    // the marker just before it ends.
    g_marker = dir.path() / "marker";
    {
        testutil::ChildJob job("spawn 0 marker 2000 " + Utils::utf16ToUtf8(g_marker.wstring()));
        Launch(testutil::SelfCommandLine(), 7);
        EXPECT_EQ(WaitCalls(1), (std::vector<std::string>{"launchAndWaitCbk(0,7) + marker"}));
    }
    g_marker.clear();
    Launch(L"\"" + (dir.path() / "no-such-program.exe").wstring() + L"\"", 8);
    EXPECT_EQ(WaitCalls(2).back(), "launchAndWaitCbk(2,8)");
}

}  // namespace
