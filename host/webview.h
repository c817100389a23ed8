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
// Linux has no process-wide exception filter: anything but null means the
// caller handles fatal signals itself and the crash reporter stays out.
using CrashFilter = void*;
#endif

// Loads the library from the program's folder once: installs the crash
// filter (the given one, or the crash reporter), initialises the library and
// resolves every name (each missing one is reported and stays null). False,
// after telling the user, when the library cannot be loaded; the program then
// ends with exit code 1.
//
// The crash reporter writes crash-YYYYMMDD-HHMMSS-<pid> reports (UTC) into the
// folder "crash" beside the log (Logger_Folder). On Windows the unhandled-
// exception filter starts dumper.exe beside the program, which writes a
// minidump and a text report, and waits for it. On Linux a handler of the
// fatal signals (on its own stack, so a stack overflow is caught too) writes
// the text report with a backtrace, then lets the signal end the process.
bool LoadWebView(CrashFilter filter = nullptr);

// Identification texts of crash reports: the program's version and two texts
// of the configuration. Install the crash filter first: the report folder is
// taken from the log then and again here.
void SetCrashReportTexts(const std::string& version, const std::string& first, const std::string& second);

// One identification text as reports carry it: "empty" when there is none,
// control characters turned to spaces so it stays on its line.
inline std::string CrashReportText(const std::string& text) {
    if (text.empty())
        return "empty";
    std::string clean = text;
    for (char& c : clean)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return clean;
}

// The library's file name beside the program.
const wchar_t* WebViewLibraryName();
