// The bridge as the page's runtime uses it: resources through the host's
// hook, native calls with values of every kind in both directions, and the
// event stream that carries the host's calls to the page.
#include "liveview.h"

#include <cmath>

namespace webviewtest {
namespace {

// Builds a result of the kind named by argument 0.
jsValue WKE_CALL MakeValue(jsExecState es, void*) {
    std::string kind = jsToString(es, jsArg(es, 0));
    if (kind == "int")
        return jsInt(-42);
    if (kind == "double")
        return jsDouble(es, 2.5);
    if (kind == "nan")
        return jsDouble(es, std::nan(""));
    if (kind == "bool")
        return jsBoolean(true);
    if (kind == "null")
        return jsNull();
    if (kind == "undefined")
        return jsUndefined();
    if (kind == "string")
        return jsString(es, "h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9D\x84\x9E");
    if (kind == "wide")
        return jsStringW(es, L"h\u00E9llo \u2713");
    if (kind == "object") {
        // Insertion order, not key order, must reach the page.
        jsValue object = jsEmptyObject(es);
        jsSet(es, object, "z", jsInt(1));
        jsValue inner = jsEmptyArray(es);
        jsSetAt(es, inner, 0, jsString(es, "x"));
        jsSet(es, object, "a", inner);
        jsSet(es, object, "z", jsInt(2));  // replaces, keeps its place
        return object;
    }
    if (kind == "array") {
        jsValue array = jsEmptyArray(es);
        jsSetAt(es, array, 0, jsInt(1));
        jsSetAt(es, array, 2, jsString(es, "three"));  // index 1 stays undefined
        return array;
    }
    if (kind == "buffer") {
        const char bytes[] = {0, 1, 2, '\xFF'};
        return jsArrayBuffer(es, bytes, sizeof bytes);
    }
    return jsUndefined();
}

jsValue WKE_CALL Echo(jsExecState es, void*) {
    return jsArg(es, 0);
}

struct Seen {
    jsType type;
    int asInt;
    std::string asText;
    std::wstring asWide;
    int length;
    std::vector<unsigned char> bytes;
    std::string property;  // object "a" as text, array element 1 as text
};

std::mutex g_seenMutex;
std::vector<Seen> g_seen;
jsValue g_keptHandle = 0;

jsValue WKE_CALL Inspect(jsExecState es, void*) {
    std::lock_guard<std::mutex> lock(g_seenMutex);
    g_seen.clear();
    for (int i = 0; i < jsArgCount(es); ++i) {
        jsValue arg = jsArg(es, i);
        Seen seen{jsTypeOf(arg), jsToInt(es, arg), jsToString(es, arg), jsToStringW(es, arg), jsGetLength(es, arg),
                  {}, {}};
        if (wkeMemBuf* buffer = jsGetArrayBuffer(es, arg)) {
            auto* data = static_cast<unsigned char*>(buffer->data);
            seen.bytes.assign(data, data + buffer->length);
        }
        if (seen.type == JSTYPE_OBJECT)
            seen.property = jsToString(es, jsGet(es, arg, "a"));
        if (seen.type == JSTYPE_ARRAY)
            seen.property = jsToString(es, jsGetAt(es, arg, 1));
        g_seen.push_back(seen);
    }
    g_keptHandle = jsArg(es, 0);
    return jsArgCount(es) > 0 ? jsInt(jsArgCount(es)) : jsUndefined();
}

class WebViewBridge : public ::testing::Test {
protected:
    void SetUp() override {
        wkeJsBindFunction("testMake", MakeValue, nullptr, 1);
        wkeJsBindFunction("testEcho", Echo, nullptr, 1);
        wkeJsBindFunction("testInspect", Inspect, nullptr, 0);
        live.Login();
    }

    Json::Value CallFor(const std::string& name, const std::string& argsJson) {
        Json::Value body = ParseJson(R"({"page":"p","name":")" + name + R"(","args":)" + argsJson + "}");
        Json::Value reply;
        EXPECT_EQ(live.Call(body, reply), 200);
        EXPECT_TRUE(reply["ok"].asBool()) << WriteJson(reply);
        return reply["value"];
    }

    LiveView live;
};

TEST_F(WebViewBridge, ThePageIsServedThroughTheHookWithItsQueryAndTheRuntimeFirst) {
    auto response = live.Client()->Get("/index.html?lang=en&x=%C3%A9", {{"Cookie", live.cookie()}});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    {
        std::lock_guard<std::mutex> lock(live.hooks.mutex);
        ASSERT_EQ(live.requestedUrls.size(), 1u);
        EXPECT_EQ(live.requestedUrls[0], "http://clean.local/index.html?lang=en&x=%C3%A9");
    }
    EXPECT_EQ(response->get_header_value("Content-Type"), "text/html; charset=utf-8");
    std::string csp = response->get_header_value("Content-Security-Policy");
    EXPECT_NE(csp.find("default-src 'self'"), std::string::npos) << csp;
    EXPECT_NE(csp.find("frame-ancestors 'none'"), std::string::npos) << csp;
    // Before the title, so before anything else of the page.
    EXPECT_NE(response->body.find("<head><script src=\"/__wke/runtime.js\"></script><title>"), std::string::npos)
        << response->body;

    auto runtime = live.Client()->Get("/__wke/runtime.js", {{"Cookie", live.cookie()}});
    ASSERT_TRUE(runtime);
    EXPECT_EQ(runtime->status, 200);
    EXPECT_NE(runtime->body.find("\"testEcho\""), std::string::npos);  // every binding, in every page

    auto style = live.Client()->Get("/style.css", {{"Cookie", live.cookie()}});
    ASSERT_TRUE(style);
    EXPECT_EQ(style->status, 200);
    EXPECT_EQ(style->body, live.pages["style.css"]);
    EXPECT_EQ(style->get_header_value("Content-Type"), "text/css; charset=utf-8");
    EXPECT_FALSE(style->has_header("Content-Security-Policy"));

    auto missing = live.Client()->Get("/missing.png", {{"Cookie", live.cookie()}});
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

TEST_F(WebViewBridge, ResultsOfEveryKindReachThePageInTheirWireForm) {
    const std::pair<const char*, const char*> cases[] = {
        {"int", "-42"},
        {"double", "2.5"},
        {"nan", R"({"$":"d","v":"NaN"})"},
        {"bool", "true"},
        {"null", "null"},
        {"undefined", R"({"$":"u"})"},
        {"string", "\"h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9D\x84\x9E\""},
        {"wide", "\"h\xC3\xA9llo \xE2\x9C\x93\""},
        {"object", R"({"$":"o","k":["z","a"],"v":[2,{"$":"a","v":["x"]}]})"},
        {"array", R"({"$":"a","v":[1,{"$":"u"},"three"]})"},
        {"buffer", R"({"$":"b","v":"AAEC/w=="})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        Json::Value value = CallFor("testMake", std::string("[\"") + c.first + "\"]");
        EXPECT_EQ(value, ParseJson(c.second)) << WriteJson(value);
    }
}

TEST_F(WebViewBridge, ArgumentsOfEveryKindReachTheNativeFunction) {
    const std::string args =
        R"([7, 2.75, true, null, {"$":"u"}, "h\u00e9llo \u2713 \ud834\udd1e",)"
        R"( {"$":"o","k":["z","a"],"v":[1,"x"]}, {"$":"a","v":[1,2,3]}, {"$":"b","v":"AAEC/w=="},)"
        R"( {"$":"f","n":"pageCallback"}, " 0x1F ", "abc", 1e21, 1e-7, -4294967297, {"$":"d","v":"-Infinity"}])";
    Json::Value value = CallFor("testInspect", args);
    EXPECT_EQ(value, Json::Value(16));

    std::lock_guard<std::mutex> lock(g_seenMutex);
    ASSERT_EQ(g_seen.size(), 16u);
    struct Expected {
        jsType type;
        int asInt;
        std::string asText;
        int length;
    };
    const Expected expected[] = {
        {JSTYPE_NUMBER, 7, "7", 0},
        {JSTYPE_NUMBER, 2, "2.75", 0},
        {JSTYPE_BOOLEAN, 1, "true", 0},
        {JSTYPE_NULL, 0, "", 0},
        {JSTYPE_UNDEFINED, 0, "", 0},
        {JSTYPE_STRING, 0, "h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9D\x84\x9E", 10},  // UTF-16 units
        {JSTYPE_OBJECT, 0, "[object Object]", 0},
        {JSTYPE_ARRAY, 0, "1,2,3", 3},
        {JSTYPE_ARRAYBUFFER, 0, "[object ArrayBuffer]", 4},
        {JSTYPE_FUNCTION, 0, "function pageCallback() { [native code] }", 0},
        {JSTYPE_STRING, 31, " 0x1F ", 6},
        {JSTYPE_STRING, 0, "abc", 3},
        {JSTYPE_NUMBER, -559939584, "1e+21", 0},
        {JSTYPE_NUMBER, 0, "1e-7", 0},
        {JSTYPE_NUMBER, -1, "-4294967297", 0},
        {JSTYPE_NUMBER, 0, "-Infinity", 0},
    };
    for (std::size_t i = 0; i < g_seen.size(); ++i) {
        SCOPED_TRACE("argument " + std::to_string(i));
        EXPECT_EQ(g_seen[i].type, expected[i].type);
        EXPECT_EQ(g_seen[i].asInt, expected[i].asInt);
        EXPECT_EQ(g_seen[i].asText, expected[i].asText);
        EXPECT_EQ(g_seen[i].length, expected[i].length);
    }
    EXPECT_EQ(g_seen[5].asWide, L"h\u00E9llo \u2713 \U0001D11E");
    EXPECT_EQ(g_seen[6].property, "x");
    EXPECT_EQ(g_seen[7].property, "2");
    EXPECT_EQ(g_seen[8].bytes, (std::vector<unsigned char>{0, 1, 2, 255}));
}

TEST_F(WebViewBridge, NestedValuesComeBackAsTheyWent) {
    const std::string value =
        R"({"$":"o","k":["b","a"],"v":[{"$":"a","v":[{"$":"b","v":""},null,{"$":"u"},-0.5]},)"
        R"({"$":"o","k":[],"v":[]}]})";
    EXPECT_EQ(CallFor("testEcho", "[" + value + "]"), ParseJson(value));
}

TEST_F(WebViewBridge, ACallsValuesExpireWhenItReturns) {
    CallFor("testInspect", R"(["kept"])");
    jsType type = JSTYPE_STRING;
    live.ui().Run([&] { type = jsTypeOf(g_keptHandle); });
    EXPECT_EQ(type, JSTYPE_UNDEFINED);
}

TEST_F(WebViewBridge, BadCallsFailWithoutReachingAnything) {
    Json::Value reply;
    EXPECT_EQ(live.Call(ParseJson(R"({"page":"p","name":"notBound","args":[]})"), reply), 200);
    EXPECT_FALSE(reply["ok"].asBool());
    // A plain page object never passes for a tagged value.
    EXPECT_EQ(live.Call(ParseJson(R"({"page":"p","name":"testEcho","args":[{"a":1}]})"), reply), 400);
    EXPECT_EQ(live.Call(ParseJson(R"({"page":"p","name":"testEcho","args":[{"$":"b","v":"A"}]})"), reply), 400);
    EXPECT_EQ(live.Call(ParseJson(R"({"page":"p","name":"testEcho","args":[{"$":"nf","id":99}]})"), reply), 400);
}

TEST_F(WebViewBridge, TheHostReachesThePageOverItsEventStream) {
    live.onLoaded = [](wkeWebView view) {
        jsExecState es = wkeGlobalExec(view);
        jsSetGlobal(es, "handle", jsInt(7));
        jsSetGlobal(es, "cmdline", jsString(es, "clean --x"));
    };
    EventStream stream(live, "page1");
    ASSERT_TRUE(stream.WaitOpen());
    Json::Value ready = ParseJson(
        R"({"page":"page1","kind":"ready","url":"/index.html?x=1","title":"Clean","globals":["present"]})");
    ASSERT_EQ(live.Report(ready), 200);
    {
        std::lock_guard<std::mutex> lock(live.hooks.mutex);
        EXPECT_EQ(live.events, (std::vector<std::string>{"title:Clean", "url:http://clean.local/index.html?x=1",
                                                          "loaded:http://clean.local/index.html?x=1"}));
    }

    jsType present = JSTYPE_UNDEFINED;
    jsType missing = JSTYPE_FUNCTION;
    jsValue callResult = jsNull();
    live.ui().Run([&] {
        jsExecState es = wkeGlobalExec(live.view());
        jsValue gone = jsGetGlobal(es, "missing");
        missing = jsTypeOf(gone);
        jsCallGlobal(es, gone, nullptr, 0);
        jsValue function = jsGet(es, jsGlobalObject(es), "present");
        present = jsTypeOf(function);
        jsValue args[] = {jsInt(1), jsString(es, "two"), jsEmptyArray(es)};
        callResult = jsCallGlobal(es, function, args, 3);
        wkeRunJSW(live.view(), L"document.title = 'x'");
        wkeSetZoomFactor(live.view(), 1.5f);
    });
    EXPECT_EQ(missing, JSTYPE_UNDEFINED);
    EXPECT_EQ(present, JSTYPE_FUNCTION);
    EXPECT_EQ(jsTypeOf(callResult), JSTYPE_UNDEFINED);  // the page is never waited for

    std::vector<Json::Value> events = stream.WaitEvents(5);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0], ParseJson(R"({"t":"set","n":"handle","v":7})"));
    EXPECT_EQ(events[1], ParseJson(R"({"t":"set","n":"cmdline","v":"clean --x"})"));
    EXPECT_EQ(events[2], ParseJson(R"({"t":"call","n":"present","a":[1,"two",{"$":"a","v":[]}]})"));
    EXPECT_EQ(events[3], ParseJson(R"({"t":"run","s":"document.title = 'x'"})"));
    EXPECT_EQ(events[4], ParseJson(R"({"t":"zoom","f":1.5})"));

    // A global defined later, reported with a call, becomes callable.
    Json::Value reply;
    ASSERT_EQ(live.Call(ParseJson(R"({"page":"page1","name":"testEcho","args":[1],"globals":["later"]})"), reply),
              200);
    live.ui().Run([&] {
        jsExecState es = wkeGlobalExec(live.view());
        present = jsTypeOf(jsGetGlobal(es, "later"));
    });
    EXPECT_EQ(present, JSTYPE_FUNCTION);

    // Destroying the view asks the page to close and ends the stream.
    live.DestroyView();
    ASSERT_TRUE(stream.WaitEnded());
    events = stream.WaitEvents(6);
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[5], ParseJson(R"({"t":"close"})"));
}

// Closing the browser window ends the page's stream; a few seconds later
// the host is asked, and told, in that order; a host that refuses keeps
// the view.
TEST_F(WebViewBridge, AClosedPageWindowClosesTheView) {
    for (bool allow : {true, false}) {
        SCOPED_TRACE(allow ? "host allows" : "host refuses");
        LiveView fresh;
        fresh.Login();
        fresh.allowClose = allow;
        {
            EventStream stream(fresh, "page1");
            ASSERT_TRUE(stream.WaitOpen());
            stream.Abort();
        }
        ASSERT_TRUE(fresh.hooks.WaitFor([&] { return !fresh.events.empty(); }));
        fresh.ui().Run([] {});  // the hook's job is over
        std::lock_guard<std::mutex> lock(fresh.hooks.mutex);
        if (allow)
            EXPECT_EQ(fresh.events, (std::vector<std::string>{"closing", "destroy"}));
        else
            EXPECT_EQ(fresh.events, (std::vector<std::string>{"closing"}));
    }
}

TEST(WebViewUrlDecode, DecodesPercentEscapesOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://clean.local/a%20b.html", "http://clean.local/a b.html"},
        {"%E4%BD%A0%e5%a5%bd", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        {"a+b", "a+b"},
        {"100%", "100%"},
        {"%zz%4", "%zz%4"},
        {"%2e%2E/", "../"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(wkeUtilDecodeURLEscape(c.first), c.second) << c.first;
}

}  // namespace
}  // namespace webviewtest
