#include "view.h"

#include "runtime.h"
#include "system.h"

#include "fendrel/logger.h"
#include "fendrel/uiqueue.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <functional>

namespace ui = fendrel::ui;

namespace wke {
namespace {

constexpr std::uint32_t kMsgJob = ui::kApp + 0x201;
constexpr std::uint32_t kMsgRelease = ui::kApp + 0x202;
constexpr std::uint32_t kMsgStreamClosed = ui::kApp + 0x203;

// Largest request body: arguments of one native call (a file's text, an
// ArrayBuffer) travel in it.
constexpr std::size_t kMaxBody = 8u << 20;
// A page's event stream closed this long (and not reopened, as after a
// reload) means its window was closed.
constexpr auto kCloseGrace = std::chrono::seconds(3);
// Idle streams get a comment this often, so that a closed window shows up
// as a failed write.
constexpr auto kHeartbeat = std::chrono::seconds(1);

const char kCookieName[] = "wke_session";
const char kRequestHeader[] = "X-Wke-Request";
const char kCallPath[] = "/__wke/call";
const char kReportPath[] = "/__wke/report";
const char kRuntimePath[] = "/__wke/runtime.js";
const char kEventsPath[] = "/__wke/events";

// Inline script and eval stay allowed: pages written for an embedded engine
// use inline handlers, and wkeRunJSW runs script text. What the policy does
// guarantee: nothing is loaded from or sent to anywhere but this server, and
// no other site can frame the page.
const char kContentSecurityPolicy[] =
    "default-src 'self'; script-src 'self' 'unsafe-inline' 'unsafe-eval'; style-src 'self' 'unsafe-inline'; "
    "img-src 'self' data: blob:; font-src 'self' data:; media-src 'self' blob:; connect-src 'self'; "
    "object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

struct FunctionJob : UiJob {
    explicit FunctionJob(std::function<void(wkeViewImpl&)> work) : work(std::move(work)) {}
    void Run(wkeViewImpl& view) override { work(view); }
    std::function<void(wkeViewImpl&)> work;
};

std::mutex& LiveMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

std::set<wkeViewImpl*>& LiveViews() {
    static auto* views = new std::set<wkeViewImpl*>;
    return *views;
}

std::string Hex(const unsigned char* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

bool NewSecret(std::string& out) {
    unsigned char bytes[16];
    if (!sys::RandomBytes(bytes, sizeof bytes))
        return false;
    out = Hex(bytes, sizeof bytes);
    return true;
}

// Same time whatever the first difference, so that a guesser learns nothing
// from how fast a wrong secret is refused.
bool SecretEquals(const std::string& given, const std::string& secret) {
    if (given.size() != secret.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
    return difference == 0;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Printable(const std::string& text) {
    std::string out = text.substr(0, 200);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return out;
}

std::string Str(const Json::Value& value) {
    return value.isString() ? value.asString() : std::string();
}

bool ParseJson(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &out, &errors) && out.isObject();
}

std::string MimeOf(const std::string& path) {
    static const std::map<std::string, std::string> types = {
        {"html", "text/html; charset=utf-8"}, {"htm", "text/html; charset=utf-8"},
        {"js", "text/javascript; charset=utf-8"}, {"mjs", "text/javascript; charset=utf-8"},
        {"css", "text/css; charset=utf-8"}, {"json", "application/json"},
        {"txt", "text/plain; charset=utf-8"}, {"svg", "image/svg+xml"},
        {"png", "image/png"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"}, {"gif", "image/gif"},
        {"webp", "image/webp"}, {"ico", "image/x-icon"}, {"bmp", "image/bmp"},
        {"woff", "font/woff"}, {"woff2", "font/woff2"}, {"ttf", "font/ttf"}, {"otf", "font/otf"},
        {"wasm", "application/wasm"}, {"mp3", "audio/mpeg"}, {"mp4", "video/mp4"}, {"wav", "audio/wav"},
    };
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    auto it = types.find(Lower(path.substr(dot + 1)));
    return it == types.end() ? "application/octet-stream" : it->second;
}

bool LooksLikeHtml(const std::string& data) {
    std::size_t start = data.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (start == std::string::npos)
        return false;
    std::string head = Lower(data.substr(start, 15));
    return head.rfind("<!doctype html", 0) == 0 || head.rfind("<html", 0) == 0 || head.rfind("<head", 0) == 0;
}

// The runtime goes first in <head>, before any page script, so that the
// bound functions exist when the page's own scripts run.
std::string InjectRuntime(const std::string& html) {
    static const std::string tag = std::string("<script src=\"") + kRuntimePath + "\"></script>";
    std::string lower = Lower(html);
    for (const char* opener : {"<head", "<html"}) {
        std::size_t at = lower.find(opener);
        while (at != std::string::npos) {
            char next = at + std::strlen(opener) < lower.size() ? lower[at + std::strlen(opener)] : '\0';
            if (next == '>' || std::isspace(static_cast<unsigned char>(next))) {
                std::size_t close = lower.find('>', at);
                if (close == std::string::npos)
                    break;
                return html.substr(0, close + 1) + tag + html.substr(close + 1);
            }
            at = lower.find(opener, at + 1);
        }
    }
    std::size_t doctype = lower.find("<!doctype");
    if (doctype != std::string::npos) {
        std::size_t close = lower.find('>', doctype);
        if (close != std::string::npos)
            return html.substr(0, close + 1) + tag + html.substr(close + 1);
    }
    return tag + html;
}

// Paths that are refused before any hook sees them: a "." or ".." segment
// (also when percent-encoded, since the decoded path is checked), an empty
// segment ("//"), a back slash, or an encoded slash, back slash or NUL that
// would let a segment hide a separator.
bool SafeResourcePath(const httplib::Request& request) {
    std::string raw = Lower(request.target.substr(0, request.target.find('?')));
    if (raw.empty() || raw[0] != '/' || raw.find('\\') != std::string::npos)
        return false;
    for (const char* encoded : {"%2f", "%5c", "%00"}) {
        if (raw.find(encoded) != std::string::npos)
            return false;
    }
    const std::string& path = request.path;
    if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos)
        return false;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string segment = path.substr(start, end - start);
        if (segment == "." || segment == ".." || (segment.empty() && end != path.size()))
            return false;
        start = end + 1;
    }
    return true;
}

std::string ToJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

}  // namespace

Settings& GlobalSettings() {
    static auto* settings = new Settings;
    return *settings;
}

namespace {
std::mutex& BindingMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::map<std::string, Binding>& Bindings() {
    static auto* bindings = new std::map<std::string, Binding>;
    return *bindings;
}
}  // namespace

void BindFunction(const std::string& name, const Binding& binding) {
    std::lock_guard<std::mutex> lock(BindingMutex());
    Bindings()[name] = binding;
}

bool FindBinding(const std::string& name, Binding& binding) {
    std::lock_guard<std::mutex> lock(BindingMutex());
    auto it = Bindings().find(name);
    if (it == Bindings().end())
        return false;
    binding = it->second;
    return true;
}

}  // namespace wke

using namespace wke;

wkeViewImpl* wkeViewImpl::Create(wkeWindowType type, HWND parent, int x, int y, int width, int height) {
    auto* view = new wkeViewImpl;
    view->m_uiThread = std::this_thread::get_id();
    view->m_globalExec.view = view;
    view->m_globalExec.store = std::make_unique<Store>();
    if (!NewSecret(view->m_token) || !NewSecret(view->m_session)) {
        LOG_ERROR("webview: no random bytes for the view's secrets");
        delete view;
        return nullptr;
    }
    view->m_window = ui::CreateMessageWindow(Proc, view);
    if (!view->m_window) {
        LOG_ERROR("webview: cannot create the view's message window");
        delete view;
        return nullptr;
    }
    if (!view->StartServer()) {
        LOG_ERROR("webview: cannot start the page server on 127.0.0.1");
        ui::DestroyMessageWindow(view->m_window);
        delete view;
        return nullptr;
    }
    view->m_launchAddress = "http://127.0.0.1:" + std::to_string(view->m_port) + "/?token=" + view->m_token;
    {
        std::lock_guard<std::mutex> lock(LiveMutex());
        LiveViews().insert(view);
    }
    LOG_INFO("webview: view of type %d (parent %p, %d,%d %dx%d) serves on 127.0.0.1:%d", static_cast<int>(type),
             static_cast<void*>(parent), x, y, width, height, view->m_port);
    return view;
}

wkeViewImpl* wkeViewImpl::Live(wkeWebView view, const char* function) {
    {
        std::lock_guard<std::mutex> lock(LiveMutex());
        if (!view || !LiveViews().count(view)) {
            if (view)
                LOG_WARN("webview: %s on a destroyed view; ignored", function);
            else
                LOG_DEBUG("webview: %s without a view; ignored", function);
            return nullptr;
        }
    }
    if (view->m_uiThread != std::this_thread::get_id()) {
        LOG_ERROR("webview: %s called off the view's UI thread; ignored", function);
        return nullptr;
    }
    return view;
}

wkeViewImpl::~wkeViewImpl() = default;

bool wkeViewImpl::StartServer() {
    m_server = std::make_unique<httplib::Server>();
    // A browser keeps several connections open, and each event stream holds
    // a thread for as long as its page lives.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    m_server->set_keep_alive_timeout(2);
    m_server->set_payload_max_length(kMaxBody);
    Route();
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return false;
    m_serverThread = std::thread([this] {
        m_server->listen_after_bind();
        m_serverEnded = true;
    });
    m_watcher = std::thread([this] { WatchStreams(); });
    return true;
}

void wkeViewImpl::Route() {
    m_server->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        return Admit(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                        : httplib::Server::HandlerResponse::Handled;
    });
    m_server->set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_header("Referrer-Policy", "no-referrer");
        response.set_header("X-Frame-Options", "DENY");
    });
    m_server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        if (request.path == "/" && request.has_param("token"))
            ServeLaunch(request, response);
        else if (request.path == kRuntimePath)
            ServeRuntime(response);
        else if (request.path == kEventsPath)
            ServeEvents(request, response);
        else
            ServeResource(request, response);
    });
    m_server->Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
        ServePost(request, response);
    });
}

void wkeViewImpl::Refuse(const httplib::Request& request, httplib::Response& response, const char* reason) {
    LOG_WARN("webview: refused %s %s: %s", Printable(request.method).c_str(), Printable(request.path).c_str(),
             reason);
    response.status = 403;
    response.set_header("Connection", "close");
    response.set_content("forbidden\n", "text/plain");
}

bool wkeViewImpl::HasSession(const httplib::Request& request) const {
    const std::string prefix = std::string(kCookieName) + "=";
    std::size_t count = request.get_header_value_count("Cookie");
    for (std::size_t i = 0; i < count; ++i) {
        std::string header = request.get_header_value("Cookie", i);
        std::size_t start = 0;
        while (start < header.size()) {
            std::size_t end = header.find(';', start);
            if (end == std::string::npos)
                end = header.size();
            std::string pair = header.substr(start, end - start);
            pair.erase(0, pair.find_first_not_of(' '));
            if (pair.rfind(prefix, 0) == 0 && SecretEquals(pair.substr(prefix.size()), m_session))
                return true;
            start = end + 1;
        }
    }
    return false;
}

// Every request passes here before anything else looks at it. Keep each
// check: together they are what stops another user or a web site from
// driving the host's functions (which delete files).
bool wkeViewImpl::Admit(const httplib::Request& request, httplib::Response& response) {
    const std::string port = std::to_string(m_port);
    // A DNS-rebinding page reaches us under its own host name.
    std::string host = Lower(request.get_header_value("Host"));
    if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
        Refuse(request, response, "wrong Host");
        return false;
    }
    if (request.has_header("Origin")) {
        std::string origin = Lower(request.get_header_value("Origin"));
        if (origin != "http://127.0.0.1:" + port && origin != "http://localhost:" + port) {
            Refuse(request, response, "foreign Origin");
            return false;
        }
    }
    // Another loopback port is "same-site": SameSite cookies do not stop it.
    std::string site = Lower(request.get_header_value("Sec-Fetch-Site"));
    if (site == "cross-site" || site == "same-site") {
        Refuse(request, response, "request from another site");
        return false;
    }
    if (request.has_header("Content-Length")) {
        std::string length = request.get_header_value("Content-Length");
        if (length.size() > 12 || std::strtoull(length.c_str(), nullptr, 10) > kMaxBody) {
            Refuse(request, response, "body too large");
            return false;
        }
    }
    const bool get = request.method == "GET" || request.method == "HEAD";
    if (!get && request.method != "POST") {
        Refuse(request, response, "method not allowed");
        return false;
    }
    if (get && request.path == "/" && request.has_param("token"))
        return true;  // the launch; ServeLaunch checks the token
    if (!HasSession(request)) {
        Refuse(request, response, "no session cookie");
        return false;
    }
    if (!get) {
        // The custom header cannot be sent cross-origin without a preflight,
        // which is refused above (OPTIONS).
        if ((request.path != kCallPath && request.path != kReportPath) ||
            request.get_header_value(kRequestHeader) != "1") {
            Refuse(request, response, "not a native call");
            return false;
        }
        return true;
    }
    if (request.path == kCallPath || request.path == kReportPath) {
        Refuse(request, response, "native call by GET");
        return false;
    }
    if (!SafeResourcePath(request)) {
        Refuse(request, response, "path leaves the page map");
        return false;
    }
    return true;
}

void wkeViewImpl::ServeLaunch(const httplib::Request& request, httplib::Response& response) {
    std::string target;
    bool accepted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        accepted = !m_tokenUsed && SecretEquals(request.get_param_value("token"), m_token);
        if (accepted)
            m_tokenUsed = true;
        target = m_pagePath.empty() ? "/" : m_pagePath;
    }
    if (!accepted) {
        Refuse(request, response, "wrong or used launch token");
        return;
    }
    // The token is spent: the browser's command line, which other users can
    // read, opens nothing any more.
    response.set_header("Set-Cookie", std::string(kCookieName) + "=" + m_session + "; Path=/; HttpOnly; SameSite=Strict");
    response.set_redirect(target, 303);
}

void wkeViewImpl::ServeRuntime(httplib::Response& response) {
    Json::Value config(Json::objectValue);
    Json::Value& bound = config["bound"] = Json::Value(Json::arrayValue);
    {
        std::lock_guard<std::mutex> lock(BindingMutex());
        for (const auto& binding : Bindings())
            bound.append(binding.first);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        config["zoom"] = m_zoom;
        config["drag"] = m_drag;
        config["drop"] = m_dragDrop;
    }
    response.set_content(std::string(kRuntimeScript) + "(" + ToJson(config) + ");\n",
                         "text/javascript; charset=utf-8");
}

void wkeViewImpl::ServeEvents(const httplib::Request& request, httplib::Response& response) {
    std::string pageId = request.get_param_value("page");
    if (pageId.empty() || pageId.size() > 64) {
        response.status = 400;
        return;
    }
    std::shared_ptr<Stream> stream = OpenStream(pageId);
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](std::size_t offset, httplib::DataSink& sink) {
            // Something at once, so that the page (and a test) sees the
            // stream open before any event is due.
            if (offset == 0) {
                static const char greeting[] = "retry: 1000\n\n";
                return sink.write(greeting, sizeof greeting - 1);
            }
            std::string out;
            bool end;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait_for(lock, kHeartbeat, [&] { return !stream->events.empty() || m_stopping; });
                for (const auto& event : stream->events)
                    out += "data: " + event + "\n\n";
                stream->events.clear();
                end = m_stopping;
            }
            if (out.empty())
                out = ":\n\n";
            if (!sink.write(out.data(), out.size()))
                return false;
            if (end)
                sink.done();
            return true;
        },
        [this, stream](bool) { CloseStream(stream); });
}

void wkeViewImpl::ServeResource(const httplib::Request& request, httplib::Response& response) {
    int status = 500;
    std::string body;
    const std::string target = request.target;
    FunctionJob job([&](wkeViewImpl& view) { view.HandleResource(target, status, body); });
    if (!RunOnUi(job)) {
        response.status = 503;
        return;
    }
    if (status != 200) {
        response.status = status;
        response.set_content("not found\n", "text/plain");
        return;
    }
    std::string mime = MimeOf(request.path);
    if (mime.empty())
        mime = LooksLikeHtml(body) ? "text/html; charset=utf-8" : "application/octet-stream";
    if (mime.rfind("text/html", 0) == 0) {
        body = InjectRuntime(body);
        response.set_header("Content-Security-Policy", kContentSecurityPolicy);
    }
    response.set_content(body, mime.c_str());
}

void wkeViewImpl::ServePost(const httplib::Request& request, httplib::Response& response) {
    Json::Value message;
    if (!ParseJson(request.body, message)) {
        LOG_WARN("webview: %s with a body that is no JSON object", request.path.c_str());
        response.status = 400;
        return;
    }
    int status = 500;
    std::string body;
    const bool call = request.path == kCallPath;
    FunctionJob job([&](wkeViewImpl& view) {
        if (call)
            view.HandleCall(message, status, body);
        else
            view.HandleReport(message, status, body);
    });
    if (!RunOnUi(job)) {
        response.status = 503;
        return;
    }
    response.status = status;
    response.set_content(body.empty() ? "{}" : body, "application/json");
}

bool wkeViewImpl::RunOnUi(UiJob& job) {
    ui::Send(m_window, kMsgJob, 0, reinterpret_cast<std::intptr_t>(&job));
    return job.ran;
}

std::intptr_t wkeViewImpl::Proc(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                                void* userData) {
    auto* view = static_cast<wkeViewImpl*>(userData);
    switch (message) {
    case kMsgJob:
    case kMsgStreamClosed: {
        // A hook may destroy the view (the host closes its window); then it
        // is freed only once this job is over, on a thread of its own, since
        // the server thread that waits for this job must finish first.
        ++view->m_busy;
        if (message == kMsgJob) {
            auto* job = reinterpret_cast<UiJob*>(lParam);
            job->Run(*view);
            job->ran = true;
        } else {
            view->HandleStreamClosed();
        }
        if (--view->m_busy == 0 && view->m_reapWhenIdle) {
            std::thread([view] {
                view->JoinThreads();
                delete view;
            }).detach();
        }
        return 1;
    }
    case kMsgRelease:
        view->ReleaseGlobalValues();
        return 0;
    default:
        return ui::DefaultProc(window, message, wParam, lParam);
    }
}

void wkeViewImpl::Destroy() {
    {
        std::lock_guard<std::mutex> lock(LiveMutex());
        LiveViews().erase(this);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        Json::Value close(Json::objectValue);
        close["t"] = "close";
        for (auto& stream : m_streams)
            stream->events.push_back(ToJson(close));
    }
    m_wake.notify_all();
    // From here on, requests waiting for the UI thread get 503.
    ui::DestroyMessageWindow(m_window);
    // The server ignores a stop that comes before its thread has begun to
    // listen, and would then listen for ever: wait for that moment first.
    while (!m_server->is_running() && !m_serverEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_server->stop();
    LOG_INFO("webview: view on port %d destroyed", m_port);
    if (m_busy > 0) {
        m_reapWhenIdle = true;
        return;
    }
    ui::RunWhileAnsweringSends([this] { JoinThreads(); });
    delete this;
}

void wkeViewImpl::JoinThreads() {
    if (m_serverThread.joinable())
        m_serverThread.join();
    if (m_watcher.joinable())
        m_watcher.join();
}

std::shared_ptr<wkeViewImpl::Stream> wkeViewImpl::OpenStream(const std::string& pageId) {
    auto stream = std::make_shared<Stream>();
    stream->pageId = pageId;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streams.push_back(stream);
    m_everConnected = true;
    m_closePosted = false;
    return stream;
}

void wkeViewImpl::CloseStream(const std::shared_ptr<Stream>& stream) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streams.erase(std::remove(m_streams.begin(), m_streams.end(), stream), m_streams.end());
    if (m_streams.empty())
        m_lastClosed = std::chrono::steady_clock::now();
    m_wake.notify_all();
}

void wkeViewImpl::WatchStreams() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, std::chrono::milliseconds(250));
        if (m_stopping)
            break;
        if (m_everConnected && m_streams.empty() && !m_closePosted &&
            std::chrono::steady_clock::now() - m_lastClosed >= kCloseGrace) {
            m_closePosted = true;
            ui::Post(m_window, kMsgStreamClosed, 0, 0);
        }
    }
}

void wkeViewImpl::HandleStreamClosed() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_streams.empty() || m_stopping)
            return;  // reconnected meanwhile (a reload), or going anyway
    }
    bool close = true;
    if (onClosing.callback)
        close = onClosing.callback(this, onClosing.param);
    if (!close) {
        LOG_INFO("webview: the page's window was closed; the host keeps the view");
        return;
    }
    LOG_INFO("webview: the page's window was closed");
    bool live;
    {
        std::lock_guard<std::mutex> lock(LiveMutex());
        live = LiveViews().count(this) != 0;
    }
    if (live && onDestroy.callback)
        onDestroy.callback(this, onDestroy.param);
}

void wkeViewImpl::LoadUrl(const std::string& url) {
    std::string origin = m_virtualOrigin;
    std::string path;
    std::size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        std::size_t end = url.find_first_of("/?#", scheme + 3);
        origin = url.substr(0, end);
        path = end == std::string::npos ? "/" : url.substr(end);
    } else {
        path = url;
    }
    if (path.empty() || path[0] != '/')
        path = "/" + path;
    m_virtualOrigin = origin;
    bool connected;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pagePath = path;
        connected = !m_streams.empty();
    }
    if (connected) {
        Json::Value event(Json::objectValue);
        event["t"] = "nav";
        event["u"] = path;
        SendToPage(event);
    }
    if (m_shown && !m_launched)
        Launch();
}

void wkeViewImpl::Show(bool show) {
    if (!show) {
        LOG_INFO("webview: a browser window cannot be hidden; ignored");
        return;
    }
    m_shown = true;
    bool loaded;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        loaded = !m_pagePath.empty();
    }
    if (loaded && !m_launched)
        Launch();
}

void wkeViewImpl::Launch() {
    m_launched = true;
    const char* env = std::getenv("CLEAN_NO_BROWSER");
    bool noBrowser = GlobalSettings().noBrowser || (env && *env && std::string(env) != "0") || !sys::HasDisplay();
    if (!noBrowser && sys::OpenBrowser(m_launchAddress, GlobalSettings().browserPath))
        return;
    LOG_INFO("webview: no browser opened; the launch address of port %d is on standard output", m_port);
    std::printf("webview: %s\n", m_launchAddress.c_str());
    std::fflush(stdout);
}

void wkeViewImpl::SendToPage(const Json::Value& event) {
    std::string text = ToJson(event);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_streams.empty()) {
        LOG_DEBUG("webview: no page connected; \"%s\" dropped", Str(event["t"]).c_str());
        return;
    }
    for (auto& stream : m_streams)
        stream->events.push_back(text);
    m_wake.notify_all();
}

void wkeViewImpl::RunScript(const std::string& script) {
    Json::Value event(Json::objectValue);
    event["t"] = "run";
    event["s"] = script;
    SendToPage(event);
}

void wkeViewImpl::SetZoom(float factor) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_zoom = factor;
    }
    Json::Value event(Json::objectValue);
    event["t"] = "zoom";
    event["f"] = factor;
    SendToPage(event);
}

void wkeViewImpl::SetDrag(bool drag, bool drop) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_drag = drag;
        m_dragDrop = drop;
    }
    Json::Value event(Json::objectValue);
    event["t"] = "drag";
    event["drag"] = drag;
    event["drop"] = drop;
    SendToPage(event);
}

void wkeViewImpl::NoteGlobalValue() {
    if (!m_releasePosted)
        m_releasePosted = ui::Post(m_window, kMsgRelease, 0, 0);
}

void wkeViewImpl::ReleaseGlobalValues() {
    m_globalExec.store = std::make_unique<Store>();
    m_releasePosted = false;
}

int wkeViewImpl::RegisterNative(wkeJsNativeFunction function, void* param) {
    for (std::size_t i = 0; i < m_natives.size(); ++i) {
        if (m_natives[i].function == function && m_natives[i].param == param)
            return static_cast<int>(i);
    }
    m_natives.push_back(Binding{function, param, 0});
    return static_cast<int>(m_natives.size() - 1);
}

bool wkeViewImpl::FindNative(int id, wkeJsNativeFunction& function, void*& param) {
    if (id < 0 || static_cast<std::size_t>(id) >= m_natives.size())
        return false;
    function = m_natives[id].function;
    param = m_natives[id].param;
    return true;
}

std::string wkeViewImpl::ToVirtual(const std::string& pathAndQuery) const {
    return m_virtualOrigin + pathAndQuery;
}

std::string wkeViewImpl::FromPageUrl(const std::string& url) const {
    if (!url.empty() && url[0] == '/')
        return m_virtualOrigin + url;
    const std::string port = std::to_string(m_port);
    for (const std::string& origin : {"http://127.0.0.1:" + port, "http://localhost:" + port}) {
        if (url.rfind(origin, 0) == 0 && (url.size() == origin.size() || std::strchr("/?#", url[origin.size()])))
            return m_virtualOrigin + url.substr(origin.size());
    }
    return url;
}

void wkeViewImpl::HandleResource(const std::string& target, int& status, std::string& body) {
    std::string url = ToVirtual(target);
    wkeNetJobImpl job;
    if (onLoadUrlBegin.callback)
        onLoadUrlBegin.callback(this, onLoadUrlBegin.param, url.c_str(), &job);
    if (!job.answered) {
        LOG_DEBUG("webview: nothing answered %s", Printable(url).c_str());
        status = 404;
        return;
    }
    status = 200;
    body = std::move(job.data);
}

void wkeViewImpl::HandleCall(const Json::Value& request, int& status, std::string& body) {
    std::string pageId = Str(request["page"]);
    if (request["globals"].isArray() && pageId == m_currentPage) {
        m_pageGlobals.clear();
        for (const auto& name : request["globals"])
            m_pageGlobals.insert(Str(name));
    }
    Binding binding;
    std::string name;
    if (request["native"].isInt()) {
        name = "native #" + std::to_string(request["native"].asInt());
        FindNative(request["native"].asInt(), binding.function, binding.param);
    } else {
        name = Str(request["name"]);
        FindBinding(name, binding);
    }
    Json::Value reply(Json::objectValue);
    status = 200;
    if (!binding.function) {
        LOG_WARN("webview: the page called %s, which is not bound", Printable(name).c_str());
        reply["ok"] = false;
        reply["error"] = "no native function " + name;
        body = ToJson(reply);
        return;
    }
    wkeExecStateImpl es;
    es.view = this;
    es.store = std::make_unique<Store>();
    const Json::Value& args = request["args"];
    if (!args.isArray()) {
        status = 400;
        return;
    }
    for (const auto& arg : args) {
        jsValue value;
        std::string error;
        if (!Decode(arg, *es.store, *this, value, error)) {
            LOG_WARN("webview: a call of %s has a bad argument: %s", Printable(name).c_str(), error.c_str());
            status = 400;
            return;
        }
        es.args.push_back(value);
    }
    jsValue result;
    try {
        result = binding.function(&es, binding.param);
    } catch (...) {
        // Nothing may unwind through the server thread's wait.
        LOG_ERROR("webview: native function %s threw", Printable(name).c_str());
        reply["ok"] = false;
        reply["error"] = "native function " + name + " failed";
        body = ToJson(reply);
        return;
    }
    reply["ok"] = true;
    reply["value"] = Encode(result, *this);
    body = ToJson(reply);
}

void wkeViewImpl::HandleReport(const Json::Value& request, int& status, std::string& body) {
    const std::string kind = Str(request["kind"]);
    const std::string pageId = Str(request["page"]);
    Json::Value reply(Json::objectValue);
    status = 200;
    auto setGlobals = [&] {
        m_pageGlobals.clear();
        for (const auto& name : request["globals"])
            m_pageGlobals.insert(Str(name));
    };
    auto title = [&] {
        wkeStringImpl text{Str(request["title"]), Widen(Str(request["title"]))};
        if (onTitle.callback)
            onTitle.callback(this, onTitle.param, &text);
    };
    auto url = [&](wkeStringImpl& text) {
        if (onUrl.callback)
            onUrl.callback(this, onUrl.param, &text);
    };
    if (kind == "ready") {
        m_currentPage = pageId;
        setGlobals();
        std::string address = FromPageUrl(Str(request["url"]));
        wkeStringImpl text{address, Widen(address)};
        wkeStringImpl none;
        title();
        url(text);
        if (onLoadingFinish.callback)
            onLoadingFinish.callback(this, onLoadingFinish.param, &text, WKE_LOADING_SUCCEEDED, &none);
    } else if (kind == "globals") {
        if (pageId == m_currentPage)
            setGlobals();
    } else if (kind == "title") {
        title();
    } else if (kind == "url") {
        std::string address = FromPageUrl(Str(request["url"]));
        wkeStringImpl text{address, Widen(address)};
        url(text);
    } else if (kind == "navigate") {
        std::string address = FromPageUrl(Str(request["url"]));
        if (request["download"].isBool() && request["download"].asBool()) {
            bool handled = false;
            if (onDownload.callback)
                handled = onDownload.callback(this, onDownload.param, address.c_str(), Str(request["name"]).c_str());
            reply["proceed"] = !handled;
        } else {
            bool proceed = true;
            wkeStringImpl text{address, Widen(address)};
            if (onNavigation.callback)
                proceed = onNavigation.callback(this, onNavigation.param, WKE_NAVIGATION_LINK_CLICK, &text);
            reply["proceed"] = proceed;
        }
    } else {
        LOG_WARN("webview: unknown page report \"%s\"", Printable(kind).c_str());
        status = 400;
        return;
    }
    body = ToJson(reply);
}
