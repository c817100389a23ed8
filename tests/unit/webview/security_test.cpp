// The checks every request passes: they are what keeps another user or a
// web site from driving the host's functions.
#include "liveview.h"

namespace webviewtest {
namespace {

jsValue WKE_CALL Answer(jsExecState, void*) {
    return jsInt(1);
}

class WebViewSecurity : public ::testing::Test {
protected:
    void SetUp() override {
        wkeJsBindFunction("securityProbe", Answer, nullptr, 0);
        live.pages["secret.txt"] = "secret";
        live.Login();
    }
    LiveView live;
};

TEST_F(WebViewSecurity, TheLaunchTokenBuysOneSessionCookie) {
    // SetUp has used the token once already.
    std::string query = live.launchAddress().substr(live.launchAddress().find("/?"));
    auto again = live.Client()->Get(query.c_str());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 403);
    EXPECT_FALSE(again->has_header("Set-Cookie"));

    auto wrong = live.Client()->Get("/?token=00000000000000000000000000000000");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 403);

    // The cookie carries a secret of its own, never the token, and the
    // attributes that keep scripts and other sites away from it.
    std::string token = query.substr(query.find('=') + 1);
    EXPECT_EQ(token.size(), 32u);
    EXPECT_EQ(live.cookie().find(token), std::string::npos);
    EXPECT_EQ(live.cookie().size(), std::string("wke_session=").size() + 32);
}

TEST_F(WebViewSecurity, TheLaunchSetsAStrictHttpOnlyCookieAndOpensThePage) {
    LiveView fresh;
    std::string query = fresh.launchAddress().substr(fresh.launchAddress().find("/?"));
    auto response = fresh.Client()->Get(query.c_str());
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 303);
    EXPECT_EQ(response->get_header_value("Location"), "/index.html");
    std::string cookie = response->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos) << cookie;
    EXPECT_NE(cookie.find("; SameSite=Strict"), std::string::npos) << cookie;
}

struct Case {
    const char* name;
    const char* method;
    const char* path;
    bool cookie;
    httplib::Headers headers;  // on top of (or replacing) the page's own
    std::string body;
    int status;
};

TEST_F(WebViewSecurity, EachCheckRefusesWhatItGuardsAndPassesTheRest) {
    const std::string port = std::to_string(live.port());
    const std::string self = "http://127.0.0.1:" + port;
    const std::string call = R"({"page":"p","name":"securityProbe","args":[]})";
    const std::vector<Case> cases = {
        {"page resource", "GET", "/index.html", true, {}, "", 200},
        {"resource without cookie", "GET", "/index.html", false, {}, "", 403},
        {"resource with a wrong cookie", "GET", "/index.html", false,
         {{"Cookie", "wke_session=0123456789abcdef0123456789abcdef"}}, "", 403},
        {"call", "POST", "/__wke/call", true, {}, call, 200},
        {"call without cookie", "POST", "/__wke/call", false, {}, call, 403},
        {"call without the custom header", "POST", "/__wke/call", true, {{"X-Wke-Request", "0"}}, call, 403},
        {"call by GET", "GET", "/__wke/call", true, {}, "", 403},
        {"report by GET", "GET", "/__wke/report", true, {}, "", 403},
        {"POST to a resource", "POST", "/index.html", true, {}, call, 403},
        {"PUT", "PUT", "/__wke/call", true, {}, call, 403},
        {"Host of another name", "POST", "/__wke/call", true, {{"Host", "evil.example:" + port}}, call, 403},
        {"Host of another port", "POST", "/__wke/call", true,
         {{"Host", "127.0.0.1:" + std::to_string(live.port() + 1)}}, call, 403},
        {"Host localhost", "POST", "/__wke/call", true, {{"Host", "localhost:" + port}}, call, 200},
        {"foreign Origin", "POST", "/__wke/call", true, {{"Origin", "http://evil.example"}}, call, 403},
        {"opaque Origin", "POST", "/__wke/call", true, {{"Origin", "null"}}, call, 403},
        {"Origin of another loopback port", "POST", "/__wke/call", true,
         {{"Origin", "http://127.0.0.1:" + std::to_string(live.port() + 1)}}, call, 403},
        {"cross-site fetch", "GET", "/index.html", true, {{"Sec-Fetch-Site", "cross-site"}}, "", 403},
        {"same-site fetch (another port)", "GET", "/index.html", true, {{"Sec-Fetch-Site", "same-site"}}, "", 403},
        {"direct navigation", "GET", "/index.html", true, {{"Sec-Fetch-Site", "none"}}, "", 200},
        {"declared body over the limit", "POST", "/__wke/call", true, {{"Content-Length", "67108864"}}, call, 403},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        httplib::Headers headers = {{"X-Wke-Request", "1"}, {"Origin", self}, {"Sec-Fetch-Site", "same-origin"}};
        if (c.cookie)
            headers.emplace("Cookie", live.cookie());
        for (const auto& header : c.headers) {
            headers.erase(header.first);
            headers.insert(header);
        }
        if (std::string(c.method) == "GET")
            headers.erase("Origin");  // browsers send none on same-origin GETs
        httplib::Request request;
        request.method = c.method;
        request.path = c.path;
        request.headers = headers;
        request.body = c.body;
        if (!c.body.empty() && !request.has_header("Content-Type"))
            request.set_header("Content-Type", "application/json");
        auto response = live.Client()->send(request);
        ASSERT_TRUE(response) << httplib::to_string(response.error());
        EXPECT_EQ(response->status, c.status) << response->body;
    }
}

TEST_F(WebViewSecurity, ResourcePathsCannotLeaveThePageMap) {
    const char* paths[] = {
        "/../secret.txt",         "/a/../secret.txt",   "/%2e%2e/secret.txt", "/a/%2E%2E/secret.txt",
        "/a/..%2fsecret.txt",     "/a%2F..%2Fsecret.txt", "/a%5c..%5csecret.txt", "/./secret.txt",
        "//secret.txt",           "/a//../secret.txt",  "/secret.txt%00.png",
    };
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        auto response = live.Client()->Get(path, {{"Cookie", live.cookie()}});
        ASSERT_TRUE(response);
        EXPECT_EQ(response->status, 403);
    }
    // The host was never asked for any of them.
    std::lock_guard<std::mutex> lock(live.hooks.mutex);
    EXPECT_TRUE(live.requestedUrls.empty()) << live.requestedUrls.front();
}

}  // namespace
}  // namespace webviewtest
