#include "host/webview.h"

#include "host/webview_native.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <string>

WebViewApi g_wke;

bool LoadWebView(CrashFilter filter) {
    static bool loaded = false;
    if (loaded)
        return true;
    webview_native::InstallCrashFilter(filter);

    const std::wstring path = File::Directory(L"") + fendrel::kPathSep + WebViewLibraryName();
    void* library = webview_native::OpenLibrary(path);
    if (library == nullptr) {
        Logger_ErrorF("host/webview", __LINE__, "cannot load the web view %s",
                      Utils::utf16ToUtf8(path).c_str());
        webview_native::ReportLoadFailure();
        return false;
    }

    WebViewApi api;
#define CLEAN_WKE_RESOLVE(name)                                                                   \
    api.name = reinterpret_cast<decltype(api.name)>(webview_native::Resolve(library, #name)); \
    if (api.name == nullptr) {                                                                  \
        Logger_ErrorF("host/webview", __LINE__, "the web view lacks %s", #name);               \
        webview_native::ReportMissingName(#name);                                               \
    }
    CLEAN_WKE_NAMES(CLEAN_WKE_RESOLVE)
#undef CLEAN_WKE_RESOLVE
    g_wke = api;

    if (g_wke.wkeInitializeEx != nullptr)
        g_wke.wkeInitializeEx(nullptr);
    if (g_wke.wkeEnableHighDPISupport != nullptr)
        g_wke.wkeEnableHighDPISupport();
    Logger_InfoF("host/webview", __LINE__, "web view loaded from %s", Utils::utf16ToUtf8(path).c_str());
    loaded = true;
    return true;
}
