// The web-view library as the host sees it: loaded at run time from the
// program's folder, every name of its flat interface resolved by name. The
// host calls the library only through g_wke, so another library with the
// same interface can take its place.
#pragma once

#include "webview/wke.h"

#include <string>

// Every name of the interface, in one list: the table's fields and the
// resolution loop are made from it.
#define CLEAN_WKE_NAMES(X)                                                                                   \
    X(wkeInitializeEx) X(wkeEnableHighDPISupport) X(wkeCreateWebWindow) X(wkeDestroyWebView)               \
    X(wkeGetWindowHandle) X(wkeShowWindow) X(wkeLoadURL) X(wkeLoadURLW) X(wkeRunJSW) X(wkeSetZoomFactor)  \
    X(wkeSetTransparent) X(wkeSetLocalStorageFullPath) X(wkeSetCookieJarFullPath) X(wkeSetDebugConfig)   \
    X(wkeSetDragEnable) X(wkeSetDragDropEnable) X(wkeOnTitleChanged) X(wkeOnURLChanged)                  \
    X(wkeOnNavigation) X(wkeOnLoadUrlBegin) X(wkeOnWindowDestroy) X(wkeOnWindowClosing)                  \
    X(wkeOnDownload2) X(wkeOnLoadingFinish) X(wkeNetSetData) X(wkeUtilDecodeURLEscape) X(wkeGetString)   \
    X(wkeGetStringW) X(wkeJsBindFunction) X(wkeGlobalExec) X(jsGetGlobal) X(jsSetGlobal) X(jsCallGlobal) \
    X(jsArgCount) X(jsArg) X(jsTypeOf) X(jsIsBoolean) X(jsToInt) X(jsToDouble) X(jsToBoolean)            \
    X(jsToString) X(jsToTempString) X(jsToStringW) X(jsToTempStringW) X(jsGet) X(jsGetAt) X(jsGetLength) \
    X(jsGetArrayBuffer) X(jsInt) X(jsDouble) X(jsBoolean) X(jsTrue) X(jsFalse) X(jsNull) X(jsUndefined)  \
    X(jsString) X(jsStringW) X(jsEmptyObject) X(jsEmptyArray) X(jsObject) X(jsFunction)                  \
    X(jsGlobalObject) X(jsSet) X(jsSetAt) X(jsArrayBuffer) X(wkeGetLaunchAddress)

struct WebViewApi {
#define CLEAN_WKE_FIELD(name) decltype(&::name) name = nullptr;
    CLEAN_WKE_NAMES(CLEAN_WKE_FIELD)
#undef CLEAN_WKE_FIELD
};

// The resolved entries; all null until LoadWebView succeeded.
extern WebViewApi g_wke;

#if defined(_WIN32)
using CrashFilter = LPTOP_LEVEL_EXCEPTION_FILTER;
#else
using CrashFilter = void*;  // Linux has no process-wide exception filter
#endif

// Loads the library from the program's folder once: installs the crash
// filter (the given one, or the crash reporter; Windows only), initialises
// the library and resolves every name (each missing one is reported and
// stays null). False, after telling the user, when the library cannot be
// loaded; the program then ends with exit code 1.
bool LoadWebView(CrashFilter filter = nullptr);

// Identification texts handed to the crash dumper (Windows): the program's
// version and two texts of the configuration ("empty" where one is unknown).
void SetCrashReportTexts(const std::string& version, const std::string& first, const std::string& second);

// The library's file name beside the program.
const wchar_t* WebViewLibraryName();
