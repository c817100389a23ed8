// The exported C interface: argument checks and conversions only; the work
// is in view.cpp and values.cpp.
#include "view.h"

#include "fendrel/logger.h"

#include <cstring>

using namespace wke;

namespace {

// The execution state's view when it is still alive and on its thread.
wkeViewImpl* ViewOf(jsExecState es, const char* function) {
    return es ? wkeViewImpl::Live(es->view, function) : nullptr;
}

Store* StoreFor(jsExecState es) {
    if (!es || !es->store)
        return nullptr;
    if (es->view && es == es->view->GlobalExec())
        es->view->NoteGlobalValue();
    return es->store.get();
}

jsValue Add(jsExecState es, Value value) {
    Store* store = StoreFor(es);
    if (!store) {
        LOG_WARN("webview: a value was made without an execution state");
        return kUndefined;
    }
    return store->Add(std::move(value));
}

// A text that lives until the next call on the same thread. Held through a
// plain thread-local pointer and never freed: a thread-local object with a
// destructor is not safe at thread exit with every runtime (mingw's crashed
// there), and only the UI thread ever asks.
template <typename Text>
Text& ThreadText(int slot = 0) {
    thread_local Text* texts[2] = {nullptr, nullptr};
    if (texts[slot] == nullptr)
        texts[slot] = new Text();
    return *texts[slot];
}

// Text of conversions of immediates, which have no value to keep it in.
const char* KeepText(jsExecState es, jsValue value, std::string text) {
    if (Value* stored = Lookup(value)) {
        stored->asText = std::move(text);
        return stored->asText.c_str();
    }
    if (Store* store = StoreFor(es))
        return store->Keep(std::move(text));
    std::string& fallback = ThreadText<std::string>();
    fallback = std::move(text);
    return fallback.c_str();
}

const wchar_t* KeepWide(jsExecState es, jsValue value, std::wstring text) {
    if (Value* stored = Lookup(value)) {
        stored->asWide = std::move(text);
        return stored->asWide.c_str();
    }
    if (Store* store = StoreFor(es))
        return store->Keep(std::move(text));
    std::wstring& fallback = ThreadText<std::wstring>();
    fallback = std::move(text);
    return fallback.c_str();
}

}  // namespace

extern "C" {

WKE_API void WKE_CALL wkeInitializeEx(const wkeSettings* settings) {
    if (settings) {
        GlobalSettings().browserPath = settings->browserPath ? settings->browserPath : "";
        GlobalSettings().noBrowser = settings->noBrowser != 0;
    }
    LOG_INFO("webview: library ready");
}

WKE_API void WKE_CALL wkeEnableHighDPISupport(void) {
    LOG_DEBUG("webview: the browser scales for the display itself");
}

WKE_API wkeWebView WKE_CALL wkeCreateWebWindow(wkeWindowType type, HWND parent, int x, int y, int width,
                                               int height) {
    return wkeViewImpl::Create(type, parent, x, y, width, height);
}

WKE_API void WKE_CALL wkeDestroyWebView(wkeWebView view) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeDestroyWebView"))
        live->Destroy();
}

WKE_API HWND WKE_CALL wkeGetWindowHandle(wkeWebView view) {
    wkeViewImpl* live = wkeViewImpl::Live(view, "wkeGetWindowHandle");
    return live ? live->Window() : nullptr;
}

WKE_API void WKE_CALL wkeShowWindow(wkeWebView view, bool show) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeShowWindow"))
        live->Show(show);
}

WKE_API void WKE_CALL wkeLoadURL(wkeWebView view, const char* url) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeLoadURL"))
        live->LoadUrl(url ? url : "");
}

WKE_API void WKE_CALL wkeLoadURLW(wkeWebView view, const wchar_t* url) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeLoadURLW"))
        live->LoadUrl(url ? Narrow(url) : "");
}

WKE_API jsValue WKE_CALL wkeRunJSW(wkeWebView view, const wchar_t* script) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeRunJSW"))
        live->RunScript(script ? Narrow(script) : "");
    return kUndefined;
}

WKE_API void WKE_CALL wkeSetZoomFactor(wkeWebView view, float factor) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeSetZoomFactor"))
        live->SetZoom(factor > 0 ? factor : 1.0f);
}

WKE_API void WKE_CALL wkeSetTransparent(wkeWebView view, bool transparent) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeSetTransparent")) {
        live->transparent = transparent;
        LOG_INFO("webview: transparency kept (%d) but a browser window cannot be transparent", transparent ? 1 : 0);
    }
}

WKE_API void WKE_CALL wkeSetLocalStorageFullPath(wkeWebView view, const wchar_t* path) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeSetLocalStorageFullPath")) {
        live->localStoragePath = path ? path : L"";
        LOG_INFO_W(L"webview: local-storage path %ls kept; the browser keeps its own storage",
                   live->localStoragePath.c_str());
    }
}

WKE_API void WKE_CALL wkeSetCookieJarFullPath(wkeWebView view, const wchar_t* path) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeSetCookieJarFullPath")) {
        live->cookieJarPath = path ? path : L"";
        LOG_INFO_W(L"webview: cookie-jar path %ls kept; the browser keeps its own cookies",
                   live->cookieJarPath.c_str());
    }
}

WKE_API void WKE_CALL wkeSetDebugConfig(wkeWebView view, const char* name, const char* value) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeSetDebugConfig")) {
        std::string key = name ? name : "";
        live->debugConfig[key] = value ? value : "";
        LOG_INFO("webview: debug setting \"%s\" kept; in a browser the developer tools open with F12",
                 key.c_str());
    }
}

WKE_API void WKE_CALL wkeSetDragEnable(wkeWebView view, bool enable) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeSetDragEnable"))
        live->SetDrag(enable, live->DragDropEnabled());
}

WKE_API void WKE_CALL wkeSetDragDropEnable(wkeWebView view, bool enable) {
    if (wkeViewImpl* live = wkeViewImpl::Live(view, "wkeSetDragDropEnable"))
        live->SetDrag(live->DragEnabled(), enable);
}

#define WKE_HOOK_SETTER(function, member, type)                                   \
    WKE_API void WKE_CALL function(wkeWebView view, type callback, void* param) { \
        if (wkeViewImpl* live = wkeViewImpl::Live(view, #function))               \
            live->member = Hook<type>{callback, param};                           \
    }

WKE_HOOK_SETTER(wkeOnTitleChanged, onTitle, wkeTitleChangedCallback)
WKE_HOOK_SETTER(wkeOnURLChanged, onUrl, wkeURLChangedCallback)
WKE_HOOK_SETTER(wkeOnNavigation, onNavigation, wkeNavigationCallback)
WKE_HOOK_SETTER(wkeOnLoadUrlBegin, onLoadUrlBegin, wkeLoadUrlBeginCallback)
WKE_HOOK_SETTER(wkeOnWindowDestroy, onDestroy, wkeWindowDestroyCallback)
WKE_HOOK_SETTER(wkeOnWindowClosing, onClosing, wkeWindowClosingCallback)
WKE_HOOK_SETTER(wkeOnDownload2, onDownload, wkeDownload2Callback)
WKE_HOOK_SETTER(wkeOnLoadingFinish, onLoadingFinish, wkeLoadingFinishCallback)

WKE_API void WKE_CALL wkeNetSetData(wkeNetJob job, void* data, int length) {
    if (!job)
        return;
    job->data.assign(static_cast<const char*>(data), data && length > 0 ? static_cast<std::size_t>(length) : 0);
    job->answered = true;
}

WKE_API const char* WKE_CALL wkeUtilDecodeURLEscape(const char* url) {
    std::string& decoded = ThreadText<std::string>(1);
    decoded.clear();
    if (!url)
        return decoded.c_str();
    auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    for (std::size_t i = 0; url[i]; ++i) {
        if (url[i] == '%' && url[i + 1] && url[i + 2] && hex(url[i + 1]) >= 0 && hex(url[i + 2]) >= 0) {
            decoded += static_cast<char>(hex(url[i + 1]) * 16 + hex(url[i + 2]));
            i += 2;
        } else {
            decoded += url[i];
        }
    }
    return decoded.c_str();
}

WKE_API const char* WKE_CALL wkeGetString(const wkeString string) {
    return string ? string->utf8.c_str() : "";
}

WKE_API const wchar_t* WKE_CALL wkeGetStringW(const wkeString string) {
    return string ? string->wide.c_str() : L"";
}

WKE_API void WKE_CALL wkeJsBindFunction(const char* name, wkeJsNativeFunction function, void* param,
                                        unsigned int argCount) {
    if (!name || !*name || !function) {
        LOG_WARN("webview: wkeJsBindFunction without a name or function; ignored");
        return;
    }
    BindFunction(name, Binding{function, param, argCount});
}

WKE_API jsExecState WKE_CALL wkeGlobalExec(wkeWebView view) {
    wkeViewImpl* live = wkeViewImpl::Live(view, "wkeGlobalExec");
    return live ? live->GlobalExec() : nullptr;
}

WKE_API jsValue WKE_CALL jsGetGlobal(jsExecState es, const char* name) {
    wkeViewImpl* view = ViewOf(es, "jsGetGlobal");
    if (!view || !name || !view->PageHasGlobal(name))
        return kUndefined;
    Value value;
    value.kind = Value::Kind::PageFunction;
    value.text = name;
    return Add(es, std::move(value));
}

WKE_API void WKE_CALL jsSetGlobal(jsExecState es, const char* name, jsValue value) {
    wkeViewImpl* view = ViewOf(es, "jsSetGlobal");
    if (!view || !name)
        return;
    Json::Value event(Json::objectValue);
    event["t"] = "set";
    event["n"] = name;
    event["v"] = Encode(value, *view);
    view->SendToPage(event);
}

WKE_API jsValue WKE_CALL jsCallGlobal(jsExecState es, jsValue function, jsValue* args, int argCount) {
    wkeViewImpl* view = ViewOf(es, "jsCallGlobal");
    Value* target = Lookup(function);
    if (!view || !target)
        return kUndefined;
    if (target->kind == Value::Kind::NativeFunction) {
        wkeExecStateImpl inner;
        inner.view = view;
        inner.store = std::make_unique<Store>();
        for (int i = 0; args && i < argCount; ++i)
            inner.args.push_back(args[i]);
        jsValue result = target->native(&inner, target->nativeParam);
        Store* store = StoreFor(es);
        return store ? CopyInto(*store, result) : kUndefined;
    }
    if (target->kind != Value::Kind::PageFunction)
        return kUndefined;
    Json::Value event(Json::objectValue);
    event["t"] = "call";
    event["n"] = target->text;
    Json::Value& list = event["a"] = Json::Value(Json::arrayValue);
    for (int i = 0; args && i < argCount; ++i)
        list.append(Encode(args[i], *view));
    view->SendToPage(event);
    return kUndefined;
}

WKE_API int WKE_CALL jsArgCount(jsExecState es) {
    return es ? static_cast<int>(es->args.size()) : 0;
}

WKE_API jsValue WKE_CALL jsArg(jsExecState es, int index) {
    if (!es || index < 0 || static_cast<std::size_t>(index) >= es->args.size())
        return kUndefined;
    return es->args[index];
}

WKE_API jsType WKE_CALL jsTypeOf(jsValue value) {
    return TypeOf(value);
}

WKE_API bool WKE_CALL jsIsBoolean(jsValue value) {
    return TypeOf(value) == JSTYPE_BOOLEAN;
}

WKE_API int WKE_CALL jsToInt(jsExecState, jsValue value) {
    return ToInt32(value);
}

WKE_API double WKE_CALL jsToDouble(jsExecState, jsValue value) {
    return ToNumber(value);
}

WKE_API bool WKE_CALL jsToBoolean(jsExecState, jsValue value) {
    return ToBoolean(value);
}

WKE_API const char* WKE_CALL jsToString(jsExecState es, jsValue value) {
    return KeepText(es, value, ToText(value));
}

WKE_API const char* WKE_CALL jsToTempString(jsExecState es, jsValue value) {
    return jsToString(es, value);
}

WKE_API const wchar_t* WKE_CALL jsToStringW(jsExecState es, jsValue value) {
    return KeepWide(es, value, Widen(ToText(value)));
}

WKE_API const wchar_t* WKE_CALL jsToTempStringW(jsExecState es, jsValue value) {
    return jsToStringW(es, value);
}

WKE_API jsValue WKE_CALL jsGet(jsExecState es, jsValue object, const char* name) {
    Value* value = Lookup(object);
    if (!value || !name)
        return kUndefined;
    if (value->kind == Value::Kind::Global)
        return jsGetGlobal(es, name);
    if (value->kind != Value::Kind::Object)
        return kUndefined;
    for (const auto& prop : value->props) {
        if (prop.first == name)
            return prop.second;
    }
    return kUndefined;
}

WKE_API jsValue WKE_CALL jsGetAt(jsExecState, jsValue array, int index) {
    Value* value = Lookup(array);
    if (!value || value->kind != Value::Kind::Array || index < 0 ||
        static_cast<std::size_t>(index) >= value->items.size())
        return kUndefined;
    return value->items[index];
}

WKE_API int WKE_CALL jsGetLength(jsExecState, jsValue value) {
    Value* stored = Lookup(value);
    if (!stored)
        return 0;
    switch (stored->kind) {
    case Value::Kind::Array: return static_cast<int>(stored->items.size());
    case Value::Kind::Buffer: return static_cast<int>(stored->bytes.size());
    case Value::Kind::String: return Utf16Length(stored->text);
    default: return 0;
    }
}

WKE_API wkeMemBuf* WKE_CALL jsGetArrayBuffer(jsExecState, jsValue value) {
    Value* stored = Lookup(value);
    return stored && stored->kind == Value::Kind::Buffer ? &stored->memBuf : nullptr;
}

WKE_API jsValue WKE_CALL jsInt(int number) {
    return MakeInt(number);
}

WKE_API jsValue WKE_CALL jsDouble(jsExecState es, double number) {
    Value value;
    value.number = number;
    return Add(es, std::move(value));
}

WKE_API jsValue WKE_CALL jsBoolean(bool value) {
    return value ? kTrue : kFalse;
}

WKE_API jsValue WKE_CALL jsTrue(void) {
    return kTrue;
}

WKE_API jsValue WKE_CALL jsFalse(void) {
    return kFalse;
}

WKE_API jsValue WKE_CALL jsNull(void) {
    return kNull;
}

WKE_API jsValue WKE_CALL jsUndefined(void) {
    return kUndefined;
}

WKE_API jsValue WKE_CALL jsString(jsExecState es, const char* text) {
    Value value;
    value.kind = Value::Kind::String;
    value.text = text ? text : "";
    return Add(es, std::move(value));
}

WKE_API jsValue WKE_CALL jsStringW(jsExecState es, const wchar_t* text) {
    Value value;
    value.kind = Value::Kind::String;
    value.text = text ? Narrow(text) : "";
    return Add(es, std::move(value));
}

WKE_API jsValue WKE_CALL jsEmptyObject(jsExecState es) {
    Value value;
    value.kind = Value::Kind::Object;
    return Add(es, std::move(value));
}

WKE_API jsValue WKE_CALL jsEmptyArray(jsExecState es) {
    Value value;
    value.kind = Value::Kind::Array;
    return Add(es, std::move(value));
}

WKE_API jsValue WKE_CALL jsObject(jsExecState es, const char* const* names, const jsValue* values, int count) {
    jsValue object = jsEmptyObject(es);
    for (int i = 0; names && values && i < count; ++i)
        jsSet(es, object, names[i], values[i]);
    return object;
}

WKE_API jsValue WKE_CALL jsFunction(jsExecState es, wkeJsNativeFunction function, void* param) {
    if (!function)
        return kUndefined;
    Value value;
    value.kind = Value::Kind::NativeFunction;
    value.text = "native";
    value.native = function;
    value.nativeParam = param;
    return Add(es, std::move(value));
}

WKE_API jsValue WKE_CALL jsGlobalObject(jsExecState es) {
    Value value;
    value.kind = Value::Kind::Global;
    return Add(es, std::move(value));
}

WKE_API void WKE_CALL jsSet(jsExecState es, jsValue object, const char* name, jsValue value) {
    Value* target = Lookup(object);
    if (!target || !name)
        return;
    if (target->kind == Value::Kind::Global) {
        jsSetGlobal(es, name, value);
        return;
    }
    if (target->kind != Value::Kind::Object)
        return;
    jsValue kept = CopyInto(*StoreOf(object), value);
    target = Lookup(object);  // the copy may have grown the store
    for (auto& prop : target->props) {
        if (prop.first == name) {
            prop.second = kept;
            return;
        }
    }
    target->props.emplace_back(name, kept);
}

WKE_API void WKE_CALL jsSetAt(jsExecState, jsValue array, int index, jsValue value) {
    Value* target = Lookup(array);
    // A bound keeps a stray index from allocating gigabytes.
    if (!target || target->kind != Value::Kind::Array || index < 0 || index > (1 << 24))
        return;
    jsValue kept = CopyInto(*StoreOf(array), value);
    target = Lookup(array);
    if (static_cast<std::size_t>(index) >= target->items.size())
        target->items.resize(static_cast<std::size_t>(index) + 1, kUndefined);
    target->items[index] = kept;
}

WKE_API jsValue WKE_CALL jsArrayBuffer(jsExecState es, const char* data, size_t length) {
    Value value;
    value.kind = Value::Kind::Buffer;
    if (data && length)
        value.bytes.assign(reinterpret_cast<const unsigned char*>(data),
                           reinterpret_cast<const unsigned char*>(data) + length);
    return Add(es, std::move(value));
}

WKE_API const char* WKE_CALL wkeGetLaunchAddress(wkeWebView view) {
    wkeViewImpl* live = wkeViewImpl::Live(view, "wkeGetLaunchAddress");
    return live ? live->LaunchAddress().c_str() : "";
}

}  // extern "C"
