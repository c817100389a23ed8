/* The web-view library: a flat C interface that shows an HTML page and
 * connects its script to native code. The host loads the library at run
 * time and resolves these names; it includes this header for the types.
 *
 * How it works. Each view has its own HTTP server on 127.0.0.1 (a random
 * free port) and shows its page in a browser window: a Chromium-family
 * browser in app mode when one is installed, else the default browser. With
 * no display (CLEAN_NO_BROWSER=1, or on Linux neither DISPLAY nor
 * WAYLAND_DISPLAY) it only prints the launch address, one line on standard
 * output:
 *     webview: http://127.0.0.1:PORT/?token=HEX
 *
 * Addresses. The page URL given to wkeLoadURL names a virtual origin, e.g.
 * "http://clean.local/index.html": its scheme and authority
 * ("http://clean.local") are the view's virtual origin and the rest
 * ("/index.html") is the page path on the loopback server. Every resource
 * request the browser makes, http://127.0.0.1:PORT/PATH?QUERY, reaches the
 * wkeOnLoadUrlBegin hook as VIRTUAL-ORIGIN/PATH?QUERY, e.g.
 *     GET /img/a.png?v=2   =>   hook sees "http://clean.local/img/a.png?v=2"
 * The hook answers with wkeNetSetData; a request nobody answers gets 404.
 * Page URLs reported to the title, URL and navigation hooks are mapped back
 * the same way.
 *
 * Security. The launch address carries a per-view 128-bit token that is
 * good for one use; it is exchanged for an HttpOnly, SameSite=Strict session
 * cookie. Every other request needs that cookie, a Host of 127.0.0.1 or
 * localhost with the right port, no foreign Origin and no cross-site fetch;
 * native calls are POST-only with a custom header and a bounded body;
 * resource paths with "." or ".." segments, back slashes or encoded slashes
 * are refused. A refused request gets 403 and one log line.
 *
 * Threads. Every function runs on the UI thread, the thread that created
 * the view and runs the message loop of fendrel/uiqueue.h (on Windows any
 * Win32 message loop); calls from other threads are logged and ignored.
 * Hooks and bound functions are called on that thread too.
 *
 * Script values. A jsValue is a 64-bit handle. Integers, booleans, null and
 * undefined are immediate and never expire. Other values live in the
 * execution state that made them: those of a native call until the call
 * returns, those of wkeGlobalExec until the UI thread goes back to its
 * message loop. An expired handle reads as undefined. Strings returned by
 * jsTo... live as long as the value (or, for an immediate, as the execution
 * state). Page functions are never called synchronously: jsCallGlobal and
 * wkeRunJSW queue the work for the page and return undefined.
 */
#ifndef CLEAN_WEBVIEW_WKE_H
#define CLEAN_WEBVIEW_WKE_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  include <windows.h>
#  define WKE_CALL __cdecl
#  if defined(WKE_BUILDING)
#    define WKE_API __declspec(dllexport)
#  else
#    define WKE_API __declspec(dllimport)
#  endif
#else
#  include "fendrel/platform.h"
#  define WKE_CALL
#  define WKE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#  include <cstdbool>
extern "C" {
#else
#  include <stdbool.h>
#endif

typedef struct wkeViewImpl* wkeWebView;
typedef struct wkeStringImpl* wkeString;
typedef struct wkeExecStateImpl* jsExecState;
typedef struct wkeNetJobImpl* wkeNetJob;
typedef int64_t jsValue;

typedef enum wkeWindowType {
    WKE_WINDOW_TYPE_POPUP = 0,
    WKE_WINDOW_TYPE_TRANSPARENT = 1,
    WKE_WINDOW_TYPE_CONTROL = 2
} wkeWindowType;

typedef enum jsType {
    JSTYPE_UNDEFINED = 0,
    JSTYPE_NULL,
    JSTYPE_BOOLEAN,
    JSTYPE_NUMBER,
    JSTYPE_STRING,
    JSTYPE_OBJECT,
    JSTYPE_ARRAY,
    JSTYPE_ARRAYBUFFER,
    JSTYPE_FUNCTION
} jsType;

typedef enum wkeNavigationType {
    WKE_NAVIGATION_LINK_CLICK = 0,
    WKE_NAVIGATION_OTHER = 5
} wkeNavigationType;

typedef enum wkeLoadingResult {
    WKE_LOADING_SUCCEEDED = 0,
    WKE_LOADING_FAILED = 1,
    WKE_LOADING_CANCELED = 2
} wkeLoadingResult;

/* Optional settings of wkeInitializeEx; a null pointer means defaults. */
typedef struct wkeSettings {
    /* The browser program to open pages with instead of the one found on
     * the system; null to search. */
    const char* browserPath;
    /* Non-zero: never open a browser, only print the launch address. */
    int noBrowser;
} wkeSettings;

/* Bytes of an ArrayBuffer value; valid as long as the value. */
typedef struct wkeMemBuf {
    void* data;
    size_t length;
} wkeMemBuf;

typedef jsValue(WKE_CALL* wkeJsNativeFunction)(jsExecState es, void* param);

typedef void(WKE_CALL* wkeTitleChangedCallback)(wkeWebView view, void* param, const wkeString title);
typedef void(WKE_CALL* wkeURLChangedCallback)(wkeWebView view, void* param, const wkeString url);
/* True lets the navigation go on. */
typedef bool(WKE_CALL* wkeNavigationCallback)(wkeWebView view, void* param, wkeNavigationType type,
                                              const wkeString url);
/* Called for every resource request with the virtual URL; answer with
 * wkeNetSetData. The result is ignored: an unanswered request gets 404. */
typedef bool(WKE_CALL* wkeLoadUrlBeginCallback)(wkeWebView view, void* param, const char* url, wkeNetJob job);
typedef void(WKE_CALL* wkeWindowDestroyCallback)(wkeWebView view, void* param);
/* True lets the window close. */
typedef bool(WKE_CALL* wkeWindowClosingCallback)(wkeWebView view, void* param);
/* A link with a download attribute was clicked. True: the host handled it
 * and the browser does nothing; false: the browser downloads it. */
typedef bool(WKE_CALL* wkeDownload2Callback)(wkeWebView view, void* param, const char* url,
                                             const char* suggestedName);
typedef void(WKE_CALL* wkeLoadingFinishCallback)(wkeWebView view, void* param, const wkeString url,
                                                 wkeLoadingResult result, const wkeString failedReason);

/* Library set-up; settings may be null. Safe to call more than once. */
WKE_API void WKE_CALL wkeInitializeEx(const wkeSettings* settings);
/* The browser scales for DPI itself; kept for the interface. */
WKE_API void WKE_CALL wkeEnableHighDPISupport(void);

/* A view and its server. Position, size and parent are kept but a browser
 * window places itself. Null when the server cannot start. */
WKE_API wkeWebView WKE_CALL wkeCreateWebWindow(wkeWindowType type, HWND parent, int x, int y, int width,
                                               int height);
/* Stops the server and closes the page's window (the page is asked to
 * close itself). Does not call wkeOnWindowDestroy. */
WKE_API void WKE_CALL wkeDestroyWebView(wkeWebView view);
/* The view's own message window (fendrel/uiqueue.h), which receives the
 * library's internal messages; a host may subclass it on Windows. */
WKE_API HWND WKE_CALL wkeGetWindowHandle(wkeWebView view);
/* The first show after a URL is loaded opens the browser (or prints the
 * address); a browser window cannot be hidden. */
WKE_API void WKE_CALL wkeShowWindow(wkeWebView view, bool show);
WKE_API void WKE_CALL wkeLoadURL(wkeWebView view, const char* url);
WKE_API void WKE_CALL wkeLoadURLW(wkeWebView view, const wchar_t* url);
/* Runs the script text in the page's global scope, later; returns undefined. */
WKE_API jsValue WKE_CALL wkeRunJSW(wkeWebView view, const wchar_t* script);
/* Applied to the page as CSS zoom, now and on every later page. */
WKE_API void WKE_CALL wkeSetZoomFactor(wkeWebView view, float factor);
/* Kept and logged; a browser window has no transparency, local-storage or
 * cookie-jar location of ours, or built-in developer tools switch. */
WKE_API void WKE_CALL wkeSetTransparent(wkeWebView view, bool transparent);
WKE_API void WKE_CALL wkeSetLocalStorageFullPath(wkeWebView view, const wchar_t* path);
WKE_API void WKE_CALL wkeSetCookieJarFullPath(wkeWebView view, const wchar_t* path);
WKE_API void WKE_CALL wkeSetDebugConfig(wkeWebView view, const char* name, const char* value);
/* Off: the page cancels dragging out of it / dropping onto it (a file
 * dropped on a browser window would otherwise replace the page). */
WKE_API void WKE_CALL wkeSetDragEnable(wkeWebView view, bool enable);
WKE_API void WKE_CALL wkeSetDragDropEnable(wkeWebView view, bool enable);

WKE_API void WKE_CALL wkeOnTitleChanged(wkeWebView view, wkeTitleChangedCallback callback, void* param);
WKE_API void WKE_CALL wkeOnURLChanged(wkeWebView view, wkeURLChangedCallback callback, void* param);
WKE_API void WKE_CALL wkeOnNavigation(wkeWebView view, wkeNavigationCallback callback, void* param);
WKE_API void WKE_CALL wkeOnLoadUrlBegin(wkeWebView view, wkeLoadUrlBeginCallback callback, void* param);
/* The page's window was closed by the user (its event stream stayed
 * closed for a few seconds): closing is asked first, then destroy. */
WKE_API void WKE_CALL wkeOnWindowDestroy(wkeWebView view, wkeWindowDestroyCallback callback, void* param);
WKE_API void WKE_CALL wkeOnWindowClosing(wkeWebView view, wkeWindowClosingCallback callback, void* param);
WKE_API void WKE_CALL wkeOnDownload2(wkeWebView view, wkeDownload2Callback callback, void* param);
/* Fired when a page's runtime has connected: page globals and
 * jsSetGlobal work from here on. */
WKE_API void WKE_CALL wkeOnLoadingFinish(wkeWebView view, wkeLoadingFinishCallback callback, void* param);

/* Answers the request of a wkeOnLoadUrlBegin hook; the bytes are copied. */
WKE_API void WKE_CALL wkeNetSetData(wkeNetJob job, void* data, int length);

/* Percent-decodes a URL ("%E4%BD%A0" => UTF-8 bytes; a bad escape stays as
 * it is; "+" stays "+"). The result lives until the next call on the same
 * thread. */
WKE_API const char* WKE_CALL wkeUtilDecodeURLEscape(const char* url);
WKE_API const char* WKE_CALL wkeGetString(const wkeString string);
WKE_API const wchar_t* WKE_CALL wkeGetStringW(const wkeString string);

/* Registers a native function under a page global name for every page of
 * every view; a later registration of the same name replaces it. Pages
 * loaded afterwards see it. argCount is informational. */
WKE_API void WKE_CALL wkeJsBindFunction(const char* name, wkeJsNativeFunction function, void* param,
                                        unsigned int argCount);

/* The execution state for calls from the host outside a native call. */
WKE_API jsExecState WKE_CALL wkeGlobalExec(wkeWebView view);
/* A function value when the page declares a global function of that name,
 * else undefined. */
WKE_API jsValue WKE_CALL jsGetGlobal(jsExecState es, const char* name);
/* Sets a page global (later, in order with other page work). */
WKE_API void WKE_CALL jsSetGlobal(jsExecState es, const char* name, jsValue value);
/* Queues a call of a page function (a value of jsGetGlobal) and returns
 * undefined; anything that is not a page function is skipped. A native
 * function value is called at once and its result returned. */
WKE_API jsValue WKE_CALL jsCallGlobal(jsExecState es, jsValue function, jsValue* args, int argCount);

WKE_API int WKE_CALL jsArgCount(jsExecState es);
/* Undefined beyond the last argument. */
WKE_API jsValue WKE_CALL jsArg(jsExecState es, int index);

WKE_API jsType WKE_CALL jsTypeOf(jsValue value);
WKE_API bool WKE_CALL jsIsBoolean(jsValue value);
/* Script conversions (ToInt32, truthiness, ToNumber), except that null and
 * undefined give "" as strings. */
WKE_API int WKE_CALL jsToInt(jsExecState es, jsValue value);
WKE_API double WKE_CALL jsToDouble(jsExecState es, jsValue value);
WKE_API bool WKE_CALL jsToBoolean(jsExecState es, jsValue value);
WKE_API const char* WKE_CALL jsToString(jsExecState es, jsValue value);
WKE_API const char* WKE_CALL jsToTempString(jsExecState es, jsValue value);
WKE_API const wchar_t* WKE_CALL jsToStringW(jsExecState es, jsValue value);
WKE_API const wchar_t* WKE_CALL jsToTempStringW(jsExecState es, jsValue value);
/* Property of an object (or, on jsGlobalObject, the page function of that
 * name); undefined when missing. */
WKE_API jsValue WKE_CALL jsGet(jsExecState es, jsValue object, const char* name);
WKE_API jsValue WKE_CALL jsGetAt(jsExecState es, jsValue array, int index);
/* Elements of an array, bytes of an ArrayBuffer, characters (UTF-16 units)
 * of a string; 0 otherwise. */
WKE_API int WKE_CALL jsGetLength(jsExecState es, jsValue value);
/* Null when the value is not an ArrayBuffer. */
WKE_API wkeMemBuf* WKE_CALL jsGetArrayBuffer(jsExecState es, jsValue value);

WKE_API jsValue WKE_CALL jsInt(int number);
WKE_API jsValue WKE_CALL jsDouble(jsExecState es, double number);
WKE_API jsValue WKE_CALL jsBoolean(bool value);
WKE_API jsValue WKE_CALL jsTrue(void);
WKE_API jsValue WKE_CALL jsFalse(void);
WKE_API jsValue WKE_CALL jsNull(void);
WKE_API jsValue WKE_CALL jsUndefined(void);
/* UTF-8 and wide (UTF-16 on Windows, UTF-32 on Linux) text. */
WKE_API jsValue WKE_CALL jsString(jsExecState es, const char* text);
WKE_API jsValue WKE_CALL jsStringW(jsExecState es, const wchar_t* text);
WKE_API jsValue WKE_CALL jsEmptyObject(jsExecState es);
WKE_API jsValue WKE_CALL jsEmptyArray(jsExecState es);
/* An object with count properties, names[i] = values[i], in that order. */
WKE_API jsValue WKE_CALL jsObject(jsExecState es, const char* const* names, const jsValue* values, int count);
/* A page-callable function backed by native code, for jsSetGlobal, a
 * result or a property; it lives as long as the view. */
WKE_API jsValue WKE_CALL jsFunction(jsExecState es, wkeJsNativeFunction function, void* param);
/* The page's global object: jsGet reads page functions, jsSet sets globals. */
WKE_API jsValue WKE_CALL jsGlobalObject(jsExecState es);
/* Sets a property (in insertion order) or an element; a value from another
 * execution state is copied in. */
WKE_API void WKE_CALL jsSet(jsExecState es, jsValue object, const char* name, jsValue value);
WKE_API void WKE_CALL jsSetAt(jsExecState es, jsValue array, int index, jsValue value);
/* The bytes are copied. */
WKE_API jsValue WKE_CALL jsArrayBuffer(jsExecState es, const char* data, size_t length);

/* The address that opens the view's page, token included (the token is
 * good for one use). For hosts that open the page themselves. */
WKE_API const char* WKE_CALL wkeGetLaunchAddress(wkeWebView view);

#ifdef __cplusplus
}
#endif

#endif
