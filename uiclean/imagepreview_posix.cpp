// Linux has no native window of the program: the preview is a page of its
// own in a second web view, which serves a small page and the picture from
// memory through its load-URL hook. The browser decodes and scales the
// picture; this side only checks its header for the size. Once the user
// closes the browser window the view goes, and the next picture opens a new
// one (a closed browser window cannot be brought back).
#include "uiclean/imagepreview.h"

#include "host/webview.h"

#include "fendrel/logger.h"

#include <string>

namespace imagepreview {

namespace {

constexpr const char* kSource = "uiclean/imagepreview";
constexpr char kOrigin[] = "http://clean.preview";
constexpr char kPagePath[] = "/preview.html";

// Process-wide, UI thread only.
struct PreviewState {
    wkeWebView view = nullptr;
    std::string page;
    std::string imagePath;  // changes with every picture, so no cached one shows
    std::string image;
    unsigned serial = 0;
};
PreviewState g_state;

const char* Extension(PictureType type) {
    switch (type) {
    case PictureType::Jpeg: return "jpg";
    case PictureType::Gif: return "gif";
    default: return "png";
    }
}

std::string PathOf(const char* url) {
    std::string path = url != nullptr ? url : "";
    if (path.rfind(kOrigin, 0) != 0)
        return {};
    path = path.substr(sizeof(kOrigin) - 1);
    return path.substr(0, path.find_first_of("?#"));
}

bool WKE_CALL OnLoadUrlBegin(wkeWebView, void*, const char* url, wkeNetJob job) {
    const std::string path = PathOf(url);
    std::string* answer = path == kPagePath ? &g_state.page : path == g_state.imagePath ? &g_state.image : nullptr;
    if (answer != nullptr)
        g_wke.wkeNetSetData(job, answer->data(), static_cast<int>(answer->size()));
    return false;
}

bool WKE_CALL OnWindowClosing(wkeWebView, void*) {
    return true;
}

void WKE_CALL OnWindowDestroy(wkeWebView view, void*) {
    if (view == g_state.view)
        g_state = PreviewState{};
    g_wke.wkeDestroyWebView(view);
}

}  // namespace

bool ShowImagePreview(HWND, const std::vector<std::uint8_t>& bytes) {
    const Recognition picture = Recognize(bytes);
    Size size;
    if (picture.type == PictureType::None || !PictureSize(bytes, picture.type, size)) {
        Logger_WarnF(kSource, __LINE__, "the picture is not shown: its header tells no size");
        return false;
    }
    if (g_wke.wkeCreateWebWindow == nullptr) {
        Logger_WarnF(kSource, __LINE__, "the picture is not shown: the web view is not loaded");
        return false;
    }
    const Size shown = DisplaySize(size.width, size.height);
    const bool fresh = g_state.view == nullptr;
    if (fresh) {
        g_state.view = g_wke.wkeCreateWebWindow(WKE_WINDOW_TYPE_POPUP, nullptr, 0, 0, shown.width, shown.height);
        if (g_state.view == nullptr) {
            Logger_WarnF(kSource, __LINE__, "the picture is not shown: no web view for the preview");
            return false;
        }
        g_wke.wkeOnLoadUrlBegin(g_state.view, OnLoadUrlBegin, nullptr);
        g_wke.wkeOnWindowClosing(g_state.view, OnWindowClosing, nullptr);
        g_wke.wkeOnWindowDestroy(g_state.view, OnWindowDestroy, nullptr);
    }
    g_state.image.assign(bytes.begin(), bytes.end());
    g_state.imagePath = "/picture-" + std::to_string(++g_state.serial) + "." + Extension(picture.type);
    g_state.page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Preview</title>"
                   "<style>html,body{margin:0;background:#fff}img{display:block}</style></head><body>"
                   "<img alt=\"\" src=\"" + g_state.imagePath + "\" width=\"" + std::to_string(shown.width) +
                   "\" height=\"" + std::to_string(shown.height) + "\"></body></html>";
    // The same address again: an open page is told to load it anew.
    g_wke.wkeLoadURL(g_state.view, (std::string(kOrigin) + kPagePath + "?" + std::to_string(g_state.serial)).c_str());
    if (fresh)
        g_wke.wkeShowWindow(g_state.view, true);
    return true;
}

void CloseImagePreview() {
    if (g_state.view == nullptr)
        return;
    wkeWebView view = g_state.view;
    g_state = PreviewState{};
    g_wke.wkeDestroyWebView(view);
}

void* PreviewHandle() {
    return g_state.view;
}

}  // namespace imagepreview
