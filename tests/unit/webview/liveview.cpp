#include "liveview.h"

namespace webviewtest {

Json::Value ParseJson(const std::string& text) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors)) << text;
    return value;
}

std::string WriteJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

LiveView::LiveView() {
    m_ui.Run([this] {
        wkeSettings settings{nullptr, 1};
        wkeInitializeEx(&settings);
        m_view = wkeCreateWebWindow(WKE_WINDOW_TYPE_CONTROL, nullptr, 0, 0, 800, 600);
        if (!m_view)
            return;
        wkeOnLoadUrlBegin(m_view, OnLoadUrlBegin, this);
        wkeOnTitleChanged(m_view, OnTitle, this);
        wkeOnURLChanged(m_view, OnUrl, this);
        wkeOnLoadingFinish(m_view, OnLoaded, this);
        wkeOnWindowClosing(m_view, OnClosing, this);
        wkeOnWindowDestroy(m_view, OnDestroy, this);
        wkeLoadURL(m_view, "http://clean.local/index.html");
        wkeShowWindow(m_view, true);
        SetLaunch(wkeGetLaunchAddress(m_view));
    });
    if (!m_view) {
        ADD_FAILURE() << "no view";
        return;
    }
    pages["index.html"] = "<!DOCTYPE html>\n<html><head><title>Clean</title></head><body>page</body></html>";
    pages["style.css"] = "body { color: black }";
}

LiveView::~LiveView() {
    DestroyView();
}

void LiveView::DestroyView() {
    m_ui.Run([this] {
        if (m_view)
            wkeDestroyWebView(m_view);
        m_view = nullptr;
    });
}

void BridgeClient::SetLaunch(const std::string& launchAddress) {
    m_launch = launchAddress;
    std::size_t colon = m_launch.find(':', 7);
    m_port = colon == std::string::npos ? 0 : std::atoi(m_launch.c_str() + colon + 1);
}

std::unique_ptr<httplib::Client> BridgeClient::Client() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", m_port);
    client->set_url_encode(false);
    client->set_read_timeout(30, 0);
    return client;
}

void BridgeClient::Login() {
    std::string query = m_launch.substr(m_launch.find("/?"));
    auto response = Client()->Get(query.c_str());
    ASSERT_TRUE(response);
    ASSERT_EQ(response->status, 303);
    std::string setCookie = response->get_header_value("Set-Cookie");
    m_cookie = setCookie.substr(0, setCookie.find(';'));
}

httplib::Headers BridgeClient::PageHeaders() const {
    return {{"Cookie", m_cookie}, {"X-Wke-Request", "1"}, {"Sec-Fetch-Site", "same-origin"},
            {"Origin", "http://127.0.0.1:" + std::to_string(m_port)}};
}

int BridgeClient::Call(const Json::Value& body, Json::Value& reply) {
    auto response = Client()->Post("/__wke/call", PageHeaders(), WriteJson(body), "application/json");
    if (!response)
        return -1;
    if (response->status == 200)
        reply = ParseJson(response->body);
    return response->status;
}

int BridgeClient::Report(const Json::Value& body, Json::Value* reply) {
    auto response = Client()->Post("/__wke/report", PageHeaders(), WriteJson(body), "application/json");
    if (!response)
        return -1;
    if (reply && response->status == 200)
        *reply = ParseJson(response->body);
    return response->status;
}

void LiveView::Record(const std::string& event) {
    {
        std::lock_guard<std::mutex> lock(hooks.mutex);
        events.push_back(event);
    }
    hooks.Notify();
}

// Answers like the host: only URLs under its prefix, the rest after the
// prefix and one separator, cut at "?" or "#".
bool WKE_CALL LiveView::OnLoadUrlBegin(wkeWebView, void* param, const char* url, wkeNetJob job) {
    auto* self = static_cast<LiveView*>(param);
    std::string text = url;
    {
        std::lock_guard<std::mutex> lock(self->hooks.mutex);
        self->requestedUrls.push_back(text);
    }
    if (text.rfind(kPrefix, 0) != 0)
        return false;
    std::string path = wkeUtilDecodeURLEscape(text.c_str() + sizeof(kPrefix));
    path = path.substr(0, path.find_first_of("?#"));
    auto it = self->pages.find(path);
    if (it != self->pages.end())
        wkeNetSetData(job, const_cast<char*>(it->second.data()), static_cast<int>(it->second.size()));
    return false;
}

void WKE_CALL LiveView::OnTitle(wkeWebView, void* param, const wkeString title) {
    static_cast<LiveView*>(param)->Record(std::string("title:") + wkeGetString(title));
}

void WKE_CALL LiveView::OnUrl(wkeWebView, void* param, const wkeString url) {
    static_cast<LiveView*>(param)->Record(std::string("url:") + wkeGetString(url));
}

void WKE_CALL LiveView::OnLoaded(wkeWebView view, void* param, const wkeString url, wkeLoadingResult,
                                 const wkeString) {
    auto* self = static_cast<LiveView*>(param);
    if (self->onLoaded)
        self->onLoaded(view);
    self->Record(std::string("loaded:") + wkeGetString(url));
}

bool WKE_CALL LiveView::OnClosing(wkeWebView, void* param) {
    auto* self = static_cast<LiveView*>(param);
    self->Record("closing");
    return self->allowClose;
}

void WKE_CALL LiveView::OnDestroy(wkeWebView, void* param) {
    static_cast<LiveView*>(param)->Record("destroy");
}

EventStream::EventStream(BridgeClient& live, const std::string& pageId) {
    auto client = live.Client();
    httplib::Headers headers = {{"Cookie", live.cookie()}, {"Sec-Fetch-Site", "same-origin"}};
    std::string path = "/__wke/events?page=" + pageId;
    m_thread = std::thread([this, client = std::move(client), headers, path] {
        client->Get(path.c_str(), headers, [this](const char* data, std::size_t size) {
            std::lock_guard<std::mutex> lock(m_signal.mutex);
            m_text.append(data, size);
            m_signal.Notify();
            return !m_abort;
        });
        std::lock_guard<std::mutex> lock(m_signal.mutex);
        m_ended = true;
        m_signal.Notify();
    });
}

EventStream::~EventStream() {
    Abort();
    m_thread.join();
}

void EventStream::Abort() {
    std::lock_guard<std::mutex> lock(m_signal.mutex);
    m_abort = true;
}

bool EventStream::WaitOpen() {
    return m_signal.WaitFor([this] { return !m_text.empty() || m_ended; }) && !m_text.empty();
}

bool EventStream::WaitEnded() {
    return m_signal.WaitFor([this] { return m_ended; });
}

std::vector<Json::Value> EventStream::EventsLocked() {
    std::vector<Json::Value> events;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = m_text.find("\n\n", start);
        if (end == std::string::npos)
            break;
        std::string block = m_text.substr(start, end - start);
        if (block.rfind("data: ", 0) == 0)
            events.push_back(ParseJson(block.substr(6)));
        start = end + 2;
    }
    return events;
}

std::vector<Json::Value> EventStream::WaitEvents(std::size_t n) {
    std::vector<Json::Value> events;
    m_signal.WaitFor([&] {
        events = EventsLocked();
        return events.size() >= n || m_ended;
    });
    return events;
}

}  // namespace webviewtest
