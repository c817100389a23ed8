// A small page host for the browser end-to-end check: the web-view library
// serves one page, binds a few functions and prints the launch address. It
// ends when the page's window is closed.
#include "fendrel/uiqueue.h"
#include "wke.h"

#include <string>

namespace {

const char kPage[] = R"html(<!DOCTYPE html>
<html><head><title>bridge check</title>
<script>
function onPing(text, bytes) {
    document.getElementById('ping').textContent = text + ':' + new Uint8Array(bytes).join(',');
}
</script></head>
<body>
<div id="sum"></div><div id="ping"></div>
<button id="ping-button" onclick="ping('onPing')">ping</button>
<script>
document.getElementById('sum').textContent =
    'sum=' + add(2, 3) + ' ' + JSON.stringify(echo({a: [1, 'x'], b: null}));
</script>
</body></html>)html";

jsValue WKE_CALL Add(jsExecState es, void*) {
    return jsInt(jsToInt(es, jsArg(es, 0)) + jsToInt(es, jsArg(es, 1)));
}

jsValue WKE_CALL Echo(jsExecState es, void*) {
    return jsArg(es, 0);
}

// Calls the page function named by argument 0 the way the host's workers
// do: through the global execution state, without waiting for the page.
jsValue WKE_CALL Ping(jsExecState es, void* param) {
    auto view = static_cast<wkeWebView>(param);
    jsExecState global = wkeGlobalExec(view);
    jsValue function = jsGetGlobal(global, jsToString(es, jsArg(es, 0)));
    const char bytes[] = {1, 2, 3};
    jsValue args[] = {jsString(global, "pong"), jsArrayBuffer(global, bytes, sizeof bytes)};
    jsCallGlobal(global, function, args, 2);
    return jsUndefined();
}

bool WKE_CALL Serve(wkeWebView, void*, const char* url, wkeNetJob job) {
    std::string path = wkeUtilDecodeURLEscape(url);
    const std::string prefix = "http://check.local/";
    if (path.rfind(prefix, 0) == 0 && path.substr(prefix.size(), path.find('?') - prefix.size()) == "index.html")
        wkeNetSetData(job, const_cast<char*>(kPage), static_cast<int>(sizeof kPage - 1));
    return false;
}

void WKE_CALL Loaded(wkeWebView view, void*, const wkeString, wkeLoadingResult, const wkeString) {
    jsSetGlobal(wkeGlobalExec(view), "handle", jsInt(42));
}

void WKE_CALL Destroyed(wkeWebView view, void*) {
    wkeDestroyWebView(view);
    fendrel::ui::PostQuit(0);
}

}  // namespace

int main() {
    wkeInitializeEx(nullptr);
    wkeWebView view = wkeCreateWebWindow(WKE_WINDOW_TYPE_CONTROL, nullptr, 0, 0, 640, 480);
    if (!view)
        return 1;
    wkeJsBindFunction("add", Add, nullptr, 2);
    wkeJsBindFunction("echo", Echo, nullptr, 1);
    wkeJsBindFunction("ping", Ping, view, 1);
    wkeOnLoadUrlBegin(view, Serve, nullptr);
    wkeOnLoadingFinish(view, Loaded, nullptr);
    wkeOnWindowDestroy(view, Destroyed, nullptr);
    wkeLoadURL(view, "http://check.local/index.html");
    wkeShowWindow(view, true);
    fendrel::ui::Message message;
    while (fendrel::ui::GetNext(message))
        fendrel::ui::Dispatch(message);
    return static_cast<int>(message.wParam);
}
