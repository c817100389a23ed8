// The real web-view library's table for the tests that need it. The library
// is loaded once per process, and other tests of this program put fake
// tables into g_wke, so the loaded one is kept here; empty entries when the
// library is not beside the test program.
#pragma once

#include "host/webview.h"

namespace testutil {

inline const WebViewApi& RealWebView() {
    static const WebViewApi loaded = [] {
        const WebViewApi before = g_wke;
        WebViewApi api = LoadWebView() ? g_wke : WebViewApi{};
        g_wke = before;
        return api;
    }();
    return loaded;
}

}  // namespace testutil
