// The window host over a live web view: the page served from the preloaded
// map, host functions called through the bridge as the page calls them, the
// private messages of the base procedure, and close-as-quit ending the loop.
#include "host/basewindow.h"
#include "host/nativewindow.h"
#include "host/preload.h"
#include "host/webview.h"

#include "fendrel/uiqueue.h"
#include "testutil.h"
#include "unit/trova/rule_test_helpers.h"
#include "unit/webview/liveview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>

namespace fs = std::filesystem;
using webviewtest::BridgeClient;
using webviewtest::EventStream;
using webviewtest::ParseJson;
using webviewtest::WriteJson;

namespace {

// Messages that reached a test window with the test's mark as wParam. The
// test procedure takes them before the base procedure could read the mark as
// an address.
constexpr std::uintptr_t kMark = 0x7A11;
constexpr std::intptr_t kMarkAnswer = 77;

class SeenMessages {
public:
    void Add(std::uint32_t message) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(message);
        m_changed.notify_all();
    }
    std::vector<std::uint32_t> Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::move(m_messages);
    }
    // Posted messages are dispatched later; give the loop a generous while.
    bool WaitFor(std::uint32_t message) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [&] {
            return std::find(m_messages.begin(), m_messages.end(), message) != m_messages.end();
        });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::uint32_t> m_messages;
};
SeenMessages g_seen;

Json::Value Handle(HWND window) {
    return static_cast<Json::Int64>(reinterpret_cast<std::intptr_t>(window));
}

// A window of the program on a thread that runs the program's own message
// loop, as the start-up does.
class HostWindow {
public:
    explicit HostWindow(bool closeAsQuit = false, std::function<void(BaseBlkWinow&)> configure = nullptr) {
        std::promise<void> created;
        m_thread = std::thread([this, closeAsQuit, configure, &created] {
            m_window = std::make_unique<BaseBlkWinow>(nullptr, 0, "http://clean.test/index.html", 3);
            m_window->host = "http://clean.test";
            m_window->className = L"cleanHostTest";
            m_window->outer = {0, 0, 800, 600};
            m_window->closeAsQuit = closeAsQuit ? 1 : 0;
            m_window->procedure = TestProcedure;
            if (configure)
                configure(*m_window);
            m_created = m_window->CreateWebViewWindow(nativewin::ProgramInstance(), 5);
            if (m_created)
                m_launch = g_wke.wkeGetLaunchAddress(m_window->webView);
            created.set_value();
            if (m_created)
                m_exitCode = RunMessageLoop(nativewin::ProgramInstance(), 0);
        });
        created.get_future().wait();
    }
    ~HostWindow() {
        if (m_thread.joinable()) {
            fendrel::ui::Post(m_window->window, kEnd, 0, 0);
            m_thread.join();
        }
    }
    bool created() const { return m_created; }
    BaseBlkWinow& window() { return *m_window; }
    const std::string& launch() const { return m_launch; }
    int Join() {
        m_thread.join();
        return m_exitCode;
    }

private:
    // Ends the window and its loop, whatever its close options.
    static constexpr std::uint32_t kEnd = 0x8000 + 7;  // WM_APP + 7
    static std::intptr_t TestProcedure(BaseBlkWinow& self, std::uint32_t message, std::uintptr_t wParam,
                                       std::intptr_t, bool& handled) {
        if (wParam == kMark) {
            g_seen.Add(message);
            handled = true;
            return kMarkAnswer;
        }
        handled = message == kEnd;
        if (handled) {
            self.DestroyNative();
            fendrel::ui::PostQuit(0);
        }
        return 0;
    }
    std::thread m_thread;
    std::unique_ptr<BaseBlkWinow> m_window;
    std::string m_launch;
    bool m_created = false;
    int m_exitCode = -1;
};

class HostTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ruletest::SetEnv("CLEAN_NO_BROWSER", "1");
        ASSERT_TRUE(LoadWebView());
    }
    void SetUp() override {
        testutil::WriteBytes(pages.path() / "index.html", "<!DOCTYPE html><html><body>host page</body></html>");
        fs::create_directories(pages.path() / "js");
        testutil::WriteBytes(pages.path() / "js" / "app.js", "var app = 1;");
        preload::LoadFrom(pages.wstr());
    }

    Json::Value Call(BridgeClient& client, const std::string& name, const Json::Value& args) {
        Json::Value body(Json::objectValue);
        body["page"] = "p";
        body["name"] = name;
        body["args"] = args;
        Json::Value reply;
        EXPECT_EQ(client.Call(body, reply), 200) << name;
        EXPECT_TRUE(reply["ok"].asBool()) << name << ": " << WriteJson(reply);
        return reply["value"];
    }

    testutil::TempDir pages;
};

Json::Value Args(std::initializer_list<Json::Value> values) {
    Json::Value list(Json::arrayValue);
    for (const Json::Value& value : values)
        list.append(value);
    return list;
}

TEST_F(HostTest, ThePageComesFromThePreloadedMap) {
    HostWindow host;
    ASSERT_TRUE(host.created());
    BridgeClient client(host.launch());
    client.Login();
    auto http = client.Client();
    auto page = http->Get("/index.html?v=2", httplib::Headers{{"Cookie", client.cookie()}});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("host page"), std::string::npos);
    auto script = http->Get("/js/app.js#top", httplib::Headers{{"Cookie", client.cookie()}});
    ASSERT_TRUE(script);
    EXPECT_EQ(script->body, "var app = 1;");
    auto missing = http->Get("/js/none.js", httplib::Headers{{"Cookie", client.cookie()}});
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

TEST_F(HostTest, HostFunctionsAnswerThroughTheBridge) {
    HostWindow host;
    ASSERT_TRUE(host.created());
    BridgeClient client(host.launch());
    client.Login();

    testutil::TempDir files;
    const std::string source = (files.path() / "source.txt").u8string();
    const std::string target = (files.path() / "target.txt").u8string();
    testutil::WriteBytes(fs::u8path(source), "source");
    testutil::WriteBytes(fs::u8path(target), "target");
    ruletest::SetEnv("CLEAN_HOST_TEST", "expanded");

    struct Case {
        const char* name;
        Json::Value args;
        Json::Value expected;
    };
    const Case cases[] = {
        {"baseSystemInfo", Args({8}), "unimplement"},
        {"baseSystemInfo", Args({11}), ""},
        {"baseSystemInfo", Args({6}), "5"},
        {"pathFileExists", Args({source}), true},
        {"pathFileExists", Args({source + ".none"}), false},
        // A move never replaces a file: both stay as they were.
        {"copyFile", Args({source, target, true}), false},
        {"fileBytesSize", Args({target}), 6},
        {"copyFile", Args({source, target, false}), true},
        {"fileBytesSize", Args({source}), 6},
        {"expandEnvironmentStrings", Args({"<%CLEAN_HOST_TEST%>"}), "<expanded>"},
        {"isWindow", Args({static_cast<Json::Int64>(reinterpret_cast<std::intptr_t>(host.window().window))}), true},
        {"isWindow", Args({0}), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Call(client, c.name, c.args), c.expected) << c.name << " " << WriteJson(c.args);
    EXPECT_EQ(testutil::ReadBytes(fs::u8path(target)), "source");
    EXPECT_TRUE(fs::exists(fs::u8path(source)));
}

// The start-up list through the page's functions: the registry's Run key on
// Windows (the throwaway prefix's under Wine), an autostart entry under a
// temporary configuration folder on Linux.
TEST_F(HostTest, StartupListRoundTrip) {
#if !defined(_WIN32)
    testutil::TempDir config;
    ruletest::SetEnv("XDG_CONFIG_HOME", config.path().string());
#endif
    HostWindow host;
    ASSERT_TRUE(host.created());
    BridgeClient client(host.launch());
    client.Login();
    const std::string name = ruletest::UniqueName("CleanHostTest");
    const std::string command = "\"C:\\Program Files\\Clean\\Clean.exe\" --quiet";
    EXPECT_EQ(Call(client, "addToStartupList", Args({name, command})), 0);
    EXPECT_EQ(Call(client, "checkStartupList", Args({name, command})), true);
    std::string shouted = command;
    shouted[4] = 'p';  // differs in letter case only
    EXPECT_EQ(Call(client, "checkStartupList", Args({name, shouted})), false);
    EXPECT_EQ(Call(client, "deleteFromStartupList", Args({name})), 0);
    EXPECT_EQ(Call(client, "checkStartupList", Args({name, command})), false);
    EXPECT_EQ(Call(client, "deleteFromStartupList", Args({name})), 2);
#if !defined(_WIN32)
    ruletest::UnsetEnv("XDG_CONFIG_HOME");
#endif
}

// 0x465 replaces the drag area (and frees the record); 0x464 tells the page
// that a child window is closing, when the page has that function.
TEST_F(HostTest, PrivateMessagesReachTheWindowAndThePage) {
    HostWindow host;
    ASSERT_TRUE(host.created());
    HWND window = host.window().window;

    auto* rect = new WindowRect{10, 20, 110, 50};
    EXPECT_EQ(fendrel::ui::Send(window, 0x465, reinterpret_cast<std::uintptr_t>(rect), 0), 1);
    const WindowRect caption = host.window().caption;
    EXPECT_EQ((std::vector<int>{caption.left, caption.top, caption.right, caption.bottom}),
              (std::vector<int>{10, 20, 110, 50}));

    BridgeClient client(host.launch());
    client.Login();
    EventStream stream(client, "p");
    ASSERT_TRUE(stream.WaitOpen());
    ASSERT_EQ(client.Report(ParseJson(R"({"page":"p","kind":"ready","url":"/index.html","title":"Clean",)"
                                      R"("globals":["notifyWindowMSGByCpp"]})")),
              200);
    fendrel::ui::Send(window, 0x464, 4242, 0);
    const std::vector<Json::Value> events = stream.WaitEvents(4);
    // The start-up globals come first (set when the page reported ready).
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0]["n"], "handle");
    EXPECT_EQ(events[1]["n"], "pid");
    EXPECT_EQ(events[2]["n"], "cmdline");
    EXPECT_EQ(events[3], ParseJson(R"({"t":"call","n":"notifyWindowMSGByCpp","a":[4242,1]})"));
}

// The page may not send the program's private messages or WM_COPYDATA with
// numbers of its choosing: the receiver would read and free them as records.
// Neighbouring numbers and ordinary messages still arrive.
TEST_F(HostTest, SendMessageRefusesMessagesWhoseParametersAreAddresses) {
    HostWindow host;
    ASSERT_TRUE(host.created());
    BridgeClient client(host.launch());
    client.Login();
    const Json::Value window = Handle(host.window().window);
    g_seen.Take();
    for (std::uint32_t message : {0x4Au, 0x464u, 0x465u, 0x467u, 0x468u, 0x469u, 0x46Au, 0x46Bu, 0x46Cu, 0x46Du})
        EXPECT_EQ(Call(client, "sendMessage", Args({window, message, Json::UInt64(kMark), 0x1234})), 0) << message;
    EXPECT_TRUE(g_seen.Take().empty());
    const std::vector<std::uint32_t> ordinary = {0x49u, 0x463u, 0x46Eu, 0x8009u};
    for (std::uint32_t message : ordinary)
        EXPECT_EQ(Call(client, "sendMessage", Args({window, message, Json::UInt64(kMark), 0})), kMarkAnswer) << message;
    EXPECT_EQ(g_seen.Take(), ordinary);
}

// setDragRect and createProcessWithReturnedDataAsync hand the window an
// address it frees: only a window of this process may get one.
TEST_F(HostTest, AddressesGoOnlyToWindowsOfThisProcess) {
    HostWindow host;
    ASSERT_TRUE(host.created());
    BridgeClient client(host.launch());
    client.Login();
#if defined(_WIN32)
    HWND foreign = GetDesktopWindow();
    DWORD owner = 0;
    GetWindowThreadProcessId(foreign, &owner);
    if (owner == GetCurrentProcessId())
        GTEST_SKIP() << "the desktop window belongs to this process here";
#else
    // Linux has no other process's windows: a handle that is gone stands for one.
    HWND foreign = fendrel::ui::CreateMessageWindow(
        [](HWND, std::uint32_t, std::uintptr_t, std::intptr_t, void*) -> std::intptr_t { return 0; }, nullptr);
    ASSERT_TRUE(fendrel::ui::DestroyMessageWindow(foreign));
#endif
    const WindowRect before = host.window().caption;
    EXPECT_EQ(Call(client, "setDragRect", Args({0, Handle(foreign), 5, 6, 100, 30})), false);
    EXPECT_EQ(Call(client, "createProcessWithReturnedDataAsync",
                   Args({"clean-test-no-such-program", Handle(foreign), 9})),
              false);
    const WindowRect unchanged = host.window().caption;
    EXPECT_EQ((std::vector<int>{unchanged.left, unchanged.top, unchanged.right, unchanged.bottom}),
              (std::vector<int>{before.left, before.top, before.right, before.bottom}));

    EXPECT_EQ(Call(client, "setDragRect", Args({0, Handle(host.window().window), 5, 6, 100, 30})),
              ParseJson(R"({"$":"u"})"));  // undefined, as before
    const WindowRect caption = host.window().caption;
    EXPECT_EQ((std::vector<int>{caption.left, caption.top, caption.right, caption.bottom}),
              (std::vector<int>{5, 6, 105, 36}));
}

// What cannot be done answers failure instead of a made-up success: a hide
// of a page that lives in a browser window, and (Linux) a question box,
// whose answer only a user could give.
TEST_F(HostTest, FunctionsAnswerFailureForWhatTheyCannotDo) {
    HostWindow host;
    ASSERT_TRUE(host.created());
    BridgeClient client(host.launch());
    client.Login();
    const Json::Value window = Handle(host.window().window);
    struct Case {
        const char* name;
        Json::Value args;
        Json::Value expected;
    };
    const Case cases[] = {
        {"showWindow", Args({window, 0}), false},  // SW_HIDE
        {"showWindow", Args({window, 5}), true},
        {"showWindow", Args({0, 5}), false},
#if !defined(_WIN32)
        {"messageBox", Args({0, "text", "caption", 0x00}), 1},  // MB_OK
        {"messageBox", Args({0, "text", "caption", 0x40}), 1},  // MB_OK | MB_ICONINFORMATION
        {"messageBox", Args({0, "text", "caption", 0x01}), 0},  // MB_OKCANCEL
        {"messageBox", Args({0, "text", "caption", 0x24}), 0},  // MB_YESNO | MB_ICONQUESTION
        {"messageBox", Args({0, "text", "caption", 0x06}), 0},  // MB_CANCELTRYCONTINUE
#endif
    };
    for (const Case& c : cases)
        EXPECT_EQ(Call(client, c.name, c.args), c.expected) << c.name << " " << WriteJson(c.args);
}

// A restart whose new instance did not start leaves this one running.
TEST_F(HostTest, RestartAppKeepsRunningWhenTheNewInstanceDoesNotStart) {
#if defined(_WIN32)
    GTEST_SKIP() << "an elevated start succeeds under Wine, and would start a second copy of the tests";
#else
    // The single-instance lock is given up for the new instance, and taken back.
    int released = 0, retaken = 0;
    HostWindow host(false, [&](BaseBlkWinow& window) {
        window.releaseInstance = [&] { ++released; };
        window.retakeInstance = [&] { ++retaken; };
    });
    ASSERT_TRUE(host.created());
    BridgeClient client(host.launch());
    client.Login();
    HWND window = host.window().window;
    g_seen.Take();
    EXPECT_EQ(Call(client, "restartApp", Args({true})), EPERM);  // Linux cannot elevate
    EXPECT_EQ(released, 1);
    EXPECT_EQ(retaken, 1);
    // A close the call had posted would be handled before this mark.
    ASSERT_TRUE(fendrel::ui::Post(window, 0x8009, kMark, 0));
    ASSERT_TRUE(g_seen.WaitFor(0x8009));
    EXPECT_TRUE(fendrel::ui::IsMessageWindow(window));
    EXPECT_EQ(Call(client, "isWindow", Args({Handle(window)})), true);
#endif
}

TEST_F(HostTest, CloseAsQuitEndsTheLoopWithTheExitCode) {
    HostWindow host(true);
    ASSERT_TRUE(host.created());
    BridgeClient client(host.launch());
    client.Login();
    Call(client, "setExitCode", Args({7}));
    ASSERT_TRUE(fendrel::ui::Post(host.window().window, wmsg::kClose, 0, 0));
    EXPECT_EQ(host.Join(), 7);
}

#if defined(_WIN32)
// The native window: a pop-up for a borderless window, hidden while the page
// lives in a browser window, the caption area dragging it, minimum sizes.
TEST_F(HostTest, TheNativeWindowFollowsItsOptions) {
    HostWindow host(false, [](BaseBlkWinow& window) {
        window.outer = {0, 0, 400, 300};
        window.caption = {-1, 0, -1, 40};
        window.minWidth = 320;
        window.minHeight = 200;
        window.borderlessResize = 0;
    });
    ASSERT_TRUE(host.created());
    HWND window = host.window().window;
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    EXPECT_EQ(std::wstring(className), L"cleanHostTest");
    EXPECT_NE(GetWindowLongW(window, GWL_STYLE) & WS_POPUP, 0);
    EXPECT_FALSE(IsWindowVisible(window));

    RECT rect{};
    ASSERT_TRUE(GetWindowRect(window, &rect));
    const auto at = [&](int x, int y) { return MAKELPARAM(rect.left + x, rect.top + y); };
    EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, at(100, 20)), HTCAPTION);
    EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, at(100, 100)), HTCLIENT);

    MINMAXINFO limits{};
    SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, 320);
    EXPECT_EQ(limits.ptMinTrackSize.y, 200);
}
#endif

}  // namespace
