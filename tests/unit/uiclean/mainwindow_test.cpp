// The main window's side of the bridge against a recording fake web view:
// which page function each engine slot calls with which arguments, the
// throttles, the ids on the bridge, and the argument checks of the
// application functions. The tasks really cross to a UI thread.
#include "uiclean/enginecallbacks.h"
#include "uiclean/i18nconfig.h"
#include "uiclean/mainblkwindow.h"

#include "host/uitask.h"
#include "host/webview.h"
#include "fendrel/uiqueue.h"
#include "testutil.h"
#include "uithread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// ---- a fake web view: values in a table, page calls recorded as text ----

struct FakeValue {
    enum Kind { Undefined, Null, Bool, Int, Double, String, Array, Object, Function, Buffer };
    FakeValue(Kind k = Undefined, double n = 0, std::string t = {}) : kind(k), number(n), text(std::move(t)) {}
    Kind kind;
    double number = 0;
    std::string text;  // string, function name, buffer bytes
    std::vector<jsValue> items;
    std::vector<std::pair<std::string, jsValue>> properties;
};

std::mutex g_fakeMutex;
std::vector<FakeValue> g_values;            // handle = index + 1
std::set<std::string> g_pageFunctions;      // what the page declares
std::vector<std::string> g_calls;           // "name(args)"
std::vector<std::string> g_bound;           // "name" or "name/no window"
std::vector<jsValue> g_args;                // arguments of the next native call

jsValue Make(FakeValue value) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    g_values.push_back(std::move(value));
    return static_cast<jsValue>(g_values.size());
}

FakeValue Get(jsValue handle) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    return handle >= 1 && static_cast<std::size_t>(handle) <= g_values.size() ? g_values[handle - 1] : FakeValue{};
}

std::string Render(jsValue handle) {
    const FakeValue value = Get(handle);
    switch (value.kind) {
    case FakeValue::Null: return "null";
    case FakeValue::Bool: return value.number != 0 ? "true" : "false";
    case FakeValue::Int: return std::to_string(static_cast<long long>(value.number));
    case FakeValue::Double: return std::to_string(value.number);
    case FakeValue::String: return "\"" + value.text + "\"";
    case FakeValue::Buffer: return "buffer(" + std::to_string(value.text.size()) + ")";
    case FakeValue::Function: return "function " + value.text;
    case FakeValue::Array: {
        std::string out = "[";
        for (std::size_t i = 0; i < value.items.size(); ++i)
            out += (i ? "," : "") + Render(value.items[i]);
        return out + "]";
    }
    case FakeValue::Object: {
        std::string out = "{";
        for (std::size_t i = 0; i < value.properties.size(); ++i)
            out += (i ? "," : "") + value.properties[i].first + ":" + Render(value.properties[i].second);
        return out + "}";
    }
    default: return "undefined";
    }
}

jsValue WKE_CALL FakeInt(int n) { return Make({FakeValue::Int, static_cast<double>(n)}); }
jsValue WKE_CALL FakeDouble(jsExecState, double d) { return Make({FakeValue::Double, d}); }
jsValue WKE_CALL FakeBoolean(bool b) { return Make({FakeValue::Bool, b ? 1.0 : 0.0}); }
jsValue WKE_CALL FakeTrue() { return FakeBoolean(true); }
jsValue WKE_CALL FakeFalse() { return FakeBoolean(false); }
jsValue WKE_CALL FakeNull() { return Make({FakeValue::Null}); }
jsValue WKE_CALL FakeUndefined() { return Make({FakeValue::Undefined}); }
jsValue WKE_CALL FakeString(jsExecState, const char* text) { return Make({FakeValue::String, 0, text}); }
jsValue WKE_CALL FakeEmptyArray(jsExecState) { return Make({FakeValue::Array}); }
jsValue WKE_CALL FakeEmptyObject(jsExecState) { return Make({FakeValue::Object}); }
jsValue WKE_CALL FakeArrayBuffer(jsExecState, const char* data, size_t length) {
    return Make({FakeValue::Buffer, 0, std::string(data, length)});
}
void WKE_CALL FakeSet(jsExecState, jsValue object, const char* name, jsValue value) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    g_values[object - 1].properties.emplace_back(name, value);
}
void WKE_CALL FakeSetAt(jsExecState, jsValue array, int index, jsValue value) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    auto& items = g_values[array - 1].items;
    if (items.size() <= static_cast<std::size_t>(index))
        items.resize(static_cast<std::size_t>(index) + 1);
    items[static_cast<std::size_t>(index)] = value;
}
jsExecState WKE_CALL FakeGlobalExec(wkeWebView) { return reinterpret_cast<jsExecState>(1); }
jsValue WKE_CALL FakeGetGlobal(jsExecState, const char* name) {
    return g_pageFunctions.count(name) ? Make({FakeValue::Function, 0, name}) : FakeUndefined();
}
jsType WKE_CALL FakeTypeOf(jsValue value) {
    switch (Get(value).kind) {
    case FakeValue::Function: return JSTYPE_FUNCTION;
    case FakeValue::String: return JSTYPE_STRING;
    case FakeValue::Array: return JSTYPE_ARRAY;
    default: return JSTYPE_UNDEFINED;
    }
}
jsValue WKE_CALL FakeCallGlobal(jsExecState, jsValue function, jsValue* args, int count) {
    std::string call = Get(function).text + "(";
    for (int i = 0; i < count; ++i)
        call += (i ? "," : "") + Render(args[i]);
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    g_calls.push_back(call + ")");
    return 0;
}
jsValue WKE_CALL FakeArg(jsExecState, int index) {
    return static_cast<std::size_t>(index) < g_args.size() ? g_args[static_cast<std::size_t>(index)] : FakeUndefined();
}
int WKE_CALL FakeArgCount(jsExecState) { return static_cast<int>(g_args.size()); }
int WKE_CALL FakeToInt(jsExecState, jsValue value) { return static_cast<int>(Get(value).number); }
bool WKE_CALL FakeToBoolean(jsExecState, jsValue value) { return Get(value).number != 0; }
const char* WKE_CALL FakeToTempString(jsExecState, jsValue value) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    return value >= 1 && static_cast<std::size_t>(value) <= g_values.size() ? g_values[value - 1].text.c_str() : "";
}
int WKE_CALL FakeGetLength(jsExecState, jsValue value) { return static_cast<int>(Get(value).items.size()); }
jsValue WKE_CALL FakeGetAt(jsExecState, jsValue array, int index) {
    const FakeValue value = Get(array);
    return static_cast<std::size_t>(index) < value.items.size() ? value.items[static_cast<std::size_t>(index)] : 0;
}
void WKE_CALL FakeBind(const char* name, wkeJsNativeFunction, void* param, unsigned) {
    g_bound.push_back(std::string(name) + (param == nullptr ? "/no window" : ""));
}
void WKE_CALL FakeDrag(wkeWebView, bool) {}

void InstallFakeWebView() {
    g_wke = WebViewApi{};
    g_wke.jsInt = FakeInt;
    g_wke.jsDouble = FakeDouble;
    g_wke.jsBoolean = FakeBoolean;
    g_wke.jsTrue = FakeTrue;
    g_wke.jsFalse = FakeFalse;
    g_wke.jsNull = FakeNull;
    g_wke.jsUndefined = FakeUndefined;
    g_wke.jsString = FakeString;
    g_wke.jsEmptyArray = FakeEmptyArray;
    g_wke.jsEmptyObject = FakeEmptyObject;
    g_wke.jsArrayBuffer = FakeArrayBuffer;
    g_wke.jsSet = FakeSet;
    g_wke.jsSetAt = FakeSetAt;
    g_wke.wkeGlobalExec = FakeGlobalExec;
    g_wke.jsGetGlobal = FakeGetGlobal;
    g_wke.jsTypeOf = FakeTypeOf;
    g_wke.jsCallGlobal = FakeCallGlobal;
    g_wke.jsArg = FakeArg;
    g_wke.jsArgCount = FakeArgCount;
    g_wke.jsToInt = FakeToInt;
    g_wke.jsToBoolean = FakeToBoolean;
    g_wke.jsToTempString = FakeToTempString;
    g_wke.jsToString = FakeToTempString;
    g_wke.jsGetLength = FakeGetLength;
    g_wke.jsGetAt = FakeGetAt;
    g_wke.wkeJsBindFunction = FakeBind;
    g_wke.wkeSetDragEnable = FakeDrag;
    g_wke.wkeSetDragDropEnable = FakeDrag;
}

jsValue Str(const std::string& text) { return FakeString(nullptr, text.c_str()); }
jsValue List(const std::vector<std::string>& texts) {
    jsValue list = FakeEmptyArray(nullptr);
    for (std::size_t i = 0; i < texts.size(); ++i)
        FakeSetAt(nullptr, list, static_cast<int>(i), Str(texts[i]));
    return list;
}

// A UI thread whose one window runs the program's task messages.
bool RunsTasks(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (uitask::HandleTaskMessage(message, wParam, lParam))
        return true;
    if (message != uitask::kTaskData)
        return false;
    Trova::RunTypedTask(wParam, lParam);
    return true;
}

class MainWindowBridge : public ::testing::Test {
protected:
    void SetUp() override {
        InstallFakeWebView();
        g_calls.clear();
        g_bound.clear();
        g_args.clear();
        g_pageFunctions = {"cacheScanCbkTotal", "cacheScanCbk0", "cacheScanCbk1", "cacheScanCbk2", "cacheScanCbk3",
                           "sizeCbk", "cacheFileNameCbk", "cacheScanEndCbk", "cacheProgressCbk", "cacheDeleteOneCbk",
                           "cacheScanStopCbk", "bigFiles", "done"};
        owner.webView = reinterpret_cast<wkeWebView>(1);
        Trova::CacheCleanCbkImple::ResetCounters();
    }
    void TearDown() override {
        I18nConfig::Instance().SetEncryption(false);
        g_wke = WebViewApi{};
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(g_fakeMutex);
        return g_calls;
    }
    // Waits (bounded) until n page calls were made, or the one named.
    std::vector<std::string> WaitCalls(std::size_t n, const std::string& last = "") {
        for (int i = 0; i < 3000; ++i) {
            const std::vector<std::string> calls = Calls();
            if (last.empty() ? calls.size() >= n : std::find(calls.begin(), calls.end(), last) != calls.end())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return Calls();
    }

    testutil::UiThread ui{RunsTasks};
    BaseBlkWinow owner{nullptr, 0, "", 3};
};

TEST_F(MainWindowBridge, EachCacheSlotCallsItsPageFunction) {
    Trova::CacheCleanCbkImple callback(1, 1, ui.window(), &owner);
    callback.OnTotal(0, 5);
    callback.OnGroup("Junk", 1152921504606846976ull, 3, 7);
    callback.OnProgram("Browser", 10, 0, 100);
    callback.OnItem("Cache", 10, 4, true);
    callback.OnItemFiles({});
    callback.OnItemFiles({{"/b", 2}, {"/a", 1}});
    callback.OnRunningSize(10, 5);
    callback.OnFileFound("/a");
    callback.OnScanEnd(2);
    callback.OnProgress(1, 3);
    const std::vector<std::string> expected = {
        R"(cacheScanCbkTotal("0","5"))",
        R"(cacheScanCbk0("Junk","1152921504606846976","3","7"))",
        R"(cacheScanCbk1("Browser","10","0","100"))",
        R"(cacheScanCbk2("Cache","10","4",true))",
        R"(cacheScanCbk3([]))",
        R"(cacheScanCbk3([{fileName:"/a",size:"1"},{fileName:"/b",size:"2"}]))",
        R"(sizeCbk("10","5"))",
        R"(cacheFileNameCbk("/a"))",
        R"(cacheScanEndCbk(2))",
        R"(cacheProgressCbk(1,3))",
    };
    EXPECT_EQ(Calls(), expected);  // each post waits for the UI thread: in order
}

TEST_F(MainWindowBridge, ThrottlesDeliverEveryNthEventAndNeverDivideByZero) {
    Trova::CacheCleanCbkImple callback(1, 3, ui.window(), &owner);
    for (int i = 1; i <= 6; ++i)
        callback.OnFileFound("/f" + std::to_string(i));
    EXPECT_EQ(Calls(), (std::vector<std::string>{R"(cacheFileNameCbk("/f3"))", R"(cacheFileNameCbk("/f6"))"}));

    g_calls.clear();
    callback.SetThrottles(0, -4);
    callback.OnRunningSize(1, 0);
    callback.OnFileFound("/g");
    EXPECT_EQ(Calls(), (std::vector<std::string>{R"(sizeCbk("1","0"))", R"(cacheFileNameCbk("/g"))"}));
}

TEST_F(MainWindowBridge, MissingPageFunctionsAndEmptyNamesCallNothing) {
    g_pageFunctions.erase("cacheScanEndCbk");
    Trova::CacheCleanCbkImple callback(1, 1, ui.window(), &owner);
    callback.OnScanEnd(1);

    Trova::ExtensionCleanCbkImple extension(ui.window(), &owner);
    extension.SetNames({"", "", "bigFiles", "", "done", "", ""});
    extension.OnTotal(5);
    extension.OnBigFiles(0, {{"/big.iso", 4294967296ull}});
    extension.OnFinished(1);
    EXPECT_EQ(Calls(), (std::vector<std::string>{R"(bigFiles(0,[{fileName:"/big.iso",size:"4294967296"}]))",
                                                 "done(1)"}));
}

// A tiny rule tree over one file, so a deletion shows which ids reached the engine.
class MainWindowFunctions : public MainWindowBridge {
protected:
    void SetUp() override {
        MainWindowBridge::SetUp();
        testutil::WriteBytes(dir.path() / "junk.tmp", "junk");
        const std::string rules = "<wu><hz><g cb=\"3\" aw=\"Junk\"><gd><p ka=\"100\"/></gd></g></hz><op>"
                                  "<d gp=\"100\"><dx><fa ar=\"3\" hd=\"1\"><vg uk=\"" +
                                  dir.path().string() + "\" od=\"*.tmp\"/></fa></dx></d></op></wu>";
        testutil::WriteBytes(dir.path() / "rules.xml", rules);
        window = std::make_unique<MainBlkWindow>(nullptr, 0, "", 3);
        window->window = ui.window();
        window->webView = reinterpret_cast<wkeWebView>(1);
        ASSERT_TRUE(window->Cache().Load((dir.path() / "rules.xml").wstring(), false));
    }
    void TearDown() override {
        window.reset();  // waits for its workers
        MainWindowBridge::TearDown();
    }
    jsValue Call(jsValue (*function)(jsExecState, void*), std::vector<jsValue> args) {
        g_args = std::move(args);
        return function(reinterpret_cast<jsExecState>(1), window.get());
    }

    testutil::TempDir dir;
    std::unique_ptr<MainBlkWindow> window;
};

TEST_F(MainWindowFunctions, BindsTheApplicationFunctions) {
    EXPECT_EQ(g_bound.size(), 23u);
    for (const char* withoutWindow : {"deleteFile/no window", "setLanguageId/no window", "getLanguageId/no window"})
        EXPECT_NE(std::find(g_bound.begin(), g_bound.end(), withoutWindow), g_bound.end()) << withoutWindow;
}

TEST_F(MainWindowFunctions, DeleteOneTakesIdsAsThePageSendsThem) {
    for (bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled ? "masked" : "plain");
        testutil::WriteBytes(dir.path() / "junk.tmp", "junk");
        g_calls.clear();
        I18nConfig::Instance().SetEncryption(scrambled);
        const std::uint32_t mask = scrambled ? Trova::g_idMask : 0;
        const std::string group = std::to_string(3 ^ mask), program = std::to_string(100 ^ mask);
        Call(MainBlkWindow::CacheDeleteOne, {Str(group), Str(program), List({std::to_string(1 ^ mask)})});
        // The callback echoes the ids the page sent.
        EXPECT_EQ(WaitCalls(1), (std::vector<std::string>{"cacheDeleteOneCbk(\"" + group + "\",\"" + program + "\")"}));
        EXPECT_FALSE(fs::exists(dir.path() / "junk.tmp"));
    }
}

TEST_F(MainWindowFunctions, DeleteOneWithAnIdThatIsNoNumberStartsNothing) {
    for (const auto& ids : std::vector<std::vector<std::string>>{{"x3", "100", "1"}, {"3", "100", "1.5"},
                                                                 {"3", "4294967296", "1"}, {"-3", "100", "1"}}) {
        Call(MainBlkWindow::CacheDeleteOne, {Str(ids[0]), Str(ids[1]), List({ids[2]})});
    }
    window.reset();  // every worker has ended
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(fs::exists(dir.path() / "junk.tmp"));
}

TEST_F(MainWindowFunctions, ExtensionScanWantsExactlySevenNames) {
    const std::vector<std::string> six = {"a", "b", "c", "d", "e", "f"};
    EXPECT_EQ(Render(Call(MainBlkWindow::ExtensionScanStart,
                          {FakeInt(0), FakeUndefined(), FakeFalse(), Str("/"), List(six), FakeInt(0), FakeInt(10)})),
              "false");
    EXPECT_EQ(window->ExtensionCallback(0), nullptr);

    // Seven names start the scan; the page hears its end under the fifth.
    const std::vector<std::string> seven = {"a", "b", "c", "d", "done", "f", "g"};
    EXPECT_EQ(Render(Call(MainBlkWindow::ExtensionScanStart, {FakeInt(1), FakeUndefined(), FakeFalse(),
                                                              Str(dir.path().string()), List(seven), FakeInt(0),
                                                              FakeInt(0)})),
              "true");
    ASSERT_NE(window->ExtensionCallback(1), nullptr);
    EXPECT_EQ(window->ExtensionCallback(1)->Names()[6], "g");
    EXPECT_EQ(window->ExtensionCallback(1)->Period(), 1);  // 0 counts as 1
    EXPECT_EQ(WaitCalls(0, "done(0)").back(), "done(0)");
}

TEST_F(MainWindowFunctions, AScanStartedWithoutInitReportsWithTheDefaultThrottles) {
    Call(MainBlkWindow::CacheScanStart, {});
    const std::vector<std::string> calls = WaitCalls(0, "cacheScanEndCbk(1)");
    ASSERT_NE(window->CacheCallback(), nullptr);
    EXPECT_EQ(window->CacheCallback()->FileEvery(), 10000);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "cacheScanEndCbk(1)");
    EXPECT_NE(std::find(calls.begin(), calls.end(), R"(cacheScanCbk2("","4","1",false))"), calls.end());
}

}  // namespace
