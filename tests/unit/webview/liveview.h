// A live web view for the tests: a UI thread running the message loop of
// fendrel/uiqueue.h, one view on it serving a small page map through the
// load-URL hook, and an HTTP client that plays the page.
#pragma once

#include "fendrel/uiqueue.h"
#include "uithread.h"
#include "wke.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace webviewtest {

inline const char kPrefix[] = "http://clean.local";

using testutil::UiThread;

// Waits on a condition that another thread makes true. The limit is a
// watchdog so that a broken build fails instead of hanging the run.
class Signal {
public:
    template <typename Predicate>
    bool WaitFor(Predicate done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), done);
    }
    void Notify() { changed.notify_all(); }
    std::mutex mutex;
    std::condition_variable changed;
};

// The page's side of a view's server: the launch exchange, native calls,
// reports, as a page's runtime makes them.
class BridgeClient {
public:
    BridgeClient() = default;
    explicit BridgeClient(const std::string& launchAddress) { SetLaunch(launchAddress); }
    // "http://127.0.0.1:PORT/?token=..."
    void SetLaunch(const std::string& launchAddress);

    int port() const { return m_port; }
    const std::string& launchAddress() const { return m_launch; }
    const std::string& cookie() const { return m_cookie; }

    // A client that sends nothing of its own beyond what the test asks for.
    std::unique_ptr<httplib::Client> Client() const;
    // The launch exchange; the session cookie ("name=value") afterwards.
    void Login();
    // The headers a page's own requests carry.
    httplib::Headers PageHeaders() const;
    // A native call as the runtime makes it; the reply parsed.
    int Call(const Json::Value& body, Json::Value& reply);
    int Report(const Json::Value& body, Json::Value* reply = nullptr);

private:
    int m_port = 0;
    std::string m_launch;
    std::string m_cookie;
};

class LiveView : public BridgeClient {
public:
    LiveView();
    ~LiveView();

    UiThread& ui() { return m_ui; }
    wkeWebView view() const { return m_view; }
    void DestroyView();

    // What the hooks saw, guarded by hooks.mutex; hooks.Notify on change.
    Signal hooks;
    std::vector<std::string> requestedUrls;
    std::vector<std::string> events;  // "title:..", "url:..", "loaded:..", "closing", "destroy"
    bool allowClose = true;
    // Work the loading-finished hook does (on the UI thread).
    std::function<void(wkeWebView)> onLoaded;

    std::map<std::string, std::string> pages;  // path after the prefix => bytes

private:
    static bool WKE_CALL OnLoadUrlBegin(wkeWebView, void* param, const char* url, wkeNetJob job);
    static void WKE_CALL OnTitle(wkeWebView, void* param, const wkeString title);
    static void WKE_CALL OnUrl(wkeWebView, void* param, const wkeString url);
    static void WKE_CALL OnLoaded(wkeWebView, void* param, const wkeString url, wkeLoadingResult, const wkeString);
    static bool WKE_CALL OnClosing(wkeWebView, void* param);
    static void WKE_CALL OnDestroy(wkeWebView, void* param);
    void Record(const std::string& event);

    UiThread m_ui;
    wkeWebView m_view = nullptr;
};

// Reads one JSON text; fails the test when it is not JSON.
Json::Value ParseJson(const std::string& text);
std::string WriteJson(const Json::Value& value);

// An event stream read by a thread of its own, as a page's EventSource.
class EventStream {
public:
    EventStream(BridgeClient& live, const std::string& pageId);
    ~EventStream();
    // Waits until the stream has delivered something (it is registered then).
    bool WaitOpen();
    // Waits for n data events; all data events so far, parsed.
    std::vector<Json::Value> WaitEvents(std::size_t n);
    bool WaitEnded();
    void Abort();

private:
    std::vector<Json::Value> EventsLocked();
    Signal m_signal;
    std::string m_text;
    bool m_ended = false;
    bool m_abort = false;
    std::thread m_thread;
};

}  // namespace webviewtest
