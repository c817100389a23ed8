// One web view: its loopback server, the page's event streams, the hooks
// and the state the host set. The server threads only carry messages: every
// request that needs the host becomes a job that runs on the UI thread
// through the view's message window (fendrel/uiqueue.h), and the server
// thread waits for it.
#pragma once

#include "values.h"
#include "wke.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

struct wkeStringImpl {
    std::string utf8;
    std::wstring wide;
};

struct wkeNetJobImpl {
    std::string data;
    bool answered = false;
};

struct wkeExecStateImpl {
    wkeViewImpl* view = nullptr;
    std::unique_ptr<wke::Store> store;
    std::vector<jsValue> args;
};

namespace wke {

// Process-wide settings of wkeInitializeEx.
struct Settings {
    std::string browserPath;
    bool noBrowser = false;
};
Settings& GlobalSettings();

struct Binding {
    wkeJsNativeFunction function = nullptr;
    void* param = nullptr;
    unsigned argCount = 0;
};
void BindFunction(const std::string& name, const Binding& binding);
bool FindBinding(const std::string& name, Binding& binding);

// Work handed from a server thread to the UI thread.
struct UiJob {
    virtual ~UiJob() = default;
    virtual void Run(wkeViewImpl& view) = 0;
    bool ran = false;
};

template <typename Callback>
struct Hook {
    Callback callback = nullptr;
    void* param = nullptr;
};

}  // namespace wke

struct wkeViewImpl : wke::NativeRegistry {
    // Null when the server cannot start.
    static wkeViewImpl* Create(wkeWindowType type, HWND parent, int x, int y, int width, int height);
    // The live view behind a host's handle on its UI thread; null (logged)
    // for a destroyed view or a call from another thread.
    static wkeViewImpl* Live(wkeWebView view, const char* function);
    void Destroy();

    void LoadUrl(const std::string& url);
    void Show(bool show);
    void RunScript(const std::string& script);
    void SetZoom(float factor);
    void SetDrag(bool drag, bool drop);
    bool DragEnabled() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_drag;
    }
    bool DragDropEnabled() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_dragDrop;
    }
    // Host-to-page traffic, in order, to every connected page.
    void SendToPage(const Json::Value& event);

    bool PageHasGlobal(const std::string& name) const { return m_pageGlobals.count(name) != 0; }
    wkeExecStateImpl* GlobalExec() { return &m_globalExec; }
    // Marks a value made in the global execution state: it goes when the
    // UI thread is back in its message loop.
    void NoteGlobalValue();
    const std::string& LaunchAddress() const { return m_launchAddress; }
    HWND Window() const { return m_window; }

    int RegisterNative(wkeJsNativeFunction function, void* param) override;
    bool FindNative(int id, wkeJsNativeFunction& function, void*& param) override;

    wke::Hook<wkeTitleChangedCallback> onTitle;
    wke::Hook<wkeURLChangedCallback> onUrl;
    wke::Hook<wkeNavigationCallback> onNavigation;
    wke::Hook<wkeLoadUrlBeginCallback> onLoadUrlBegin;
    wke::Hook<wkeWindowDestroyCallback> onDestroy;
    wke::Hook<wkeWindowClosingCallback> onClosing;
    wke::Hook<wkeDownload2Callback> onDownload;
    wke::Hook<wkeLoadingFinishCallback> onLoadingFinish;

    // Kept as the host set them (no browser meaning; see wke.h).
    bool transparent = false;
    std::wstring localStoragePath;
    std::wstring cookieJarPath;
    std::map<std::string, std::string> debugConfig;

    // Jobs of the server threads, on the UI thread.
    void HandleCall(const Json::Value& request, int& status, std::string& body);
    void HandleReport(const Json::Value& request, int& status, std::string& body);
    void HandleResource(const std::string& target, int& status, std::string& body);
    void HandleStreamClosed();
    void ReleaseGlobalValues();

private:
    struct Stream {
        std::string pageId;
        std::deque<std::string> events;
    };

    wkeViewImpl() = default;
    ~wkeViewImpl() override;
    static std::intptr_t Proc(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                              void* userData);
    bool StartServer();
    void Launch();
    void JoinThreads();
    // Runs a job on the UI thread and waits; false when the view is gone.
    bool RunOnUi(wke::UiJob& job);

    // Server side.
    void Route();
    bool Admit(const httplib::Request& request, httplib::Response& response);
    void Refuse(const httplib::Request& request, httplib::Response& response, const char* reason);
    bool HasSession(const httplib::Request& request) const;
    void ServeLaunch(const httplib::Request& request, httplib::Response& response);
    void ServeRuntime(httplib::Response& response);
    void ServeEvents(const httplib::Request& request, httplib::Response& response);
    void ServeResource(const httplib::Request& request, httplib::Response& response);
    void ServePost(const httplib::Request& request, httplib::Response& response);
    std::shared_ptr<Stream> OpenStream(const std::string& pageId);
    void CloseStream(const std::shared_ptr<Stream>& stream);
    void WatchStreams();

    std::string ToVirtual(const std::string& pathAndQuery) const;
    std::string FromPageUrl(const std::string& url) const;

    std::thread::id m_uiThread;
    HWND m_window = nullptr;
    int m_busy = 0;               // jobs and hooks running on the UI thread
    bool m_reapWhenIdle = false;  // destroyed while busy: free after the job

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_serverThread;
    std::atomic<bool> m_serverEnded{false};  // listen returned (or never began)
    std::thread m_watcher;
    int m_port = 0;
    std::string m_token;    // launch token, good for one use
    std::string m_session;  // cookie value
    bool m_tokenUsed = false;
    std::string m_launchAddress;

    std::string m_virtualOrigin;  // "http://clean.local"
    std::string m_pagePath;       // "/index.html?x=1"
    bool m_shown = false;
    bool m_launched = false;
    float m_zoom = 1.0f;
    bool m_drag = true;
    bool m_dragDrop = true;

    // Guards everything the server threads share with the UI thread.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::shared_ptr<Stream>> m_streams;
    bool m_stopping = false;
    bool m_everConnected = false;
    bool m_closePosted = false;
    std::chrono::steady_clock::time_point m_lastClosed;

    // UI thread only.
    std::string m_currentPage;
    std::set<std::string> m_pageGlobals;
    std::vector<wke::Binding> m_natives;
    wkeExecStateImpl m_globalExec;
    bool m_releasePosted = false;
};
