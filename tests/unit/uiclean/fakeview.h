// A recording fake of the web view for the main window's tests: values
// live in a table, page calls are recorded as text ("name(args)"), and the
// functions a window binds are kept by name so a test can call them as the
// page would. The tasks really cross to a UI thread.
#pragma once

#include "uiclean/enginecallbacks.h"
#include "uiclean/i18nconfig.h"
#include "uiclean/mainblkwindow.h"

#include "host/uitask.h"
#include "host/webview.h"
#include "fendrel/uiqueue.h"
#include "testutil.h"
#include "uithread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fakeview {

// ---- a fake web view: values in a table, page calls recorded as text ----

struct FakeValue {
    enum Kind { Undefined, Null, Bool, Int, Double, String, Array, Object, Function, Buffer };
    FakeValue(Kind k = Undefined, double n = 0, std::string t = {}) : kind(k), number(n), text(std::move(t)) {}
    Kind kind;
    double number = 0;
    std::string text;  // string, function name, buffer bytes
    std::vector<jsValue> items;
    std::vector<std::pair<std::string, jsValue>> properties;
};

inline std::mutex g_fakeMutex;
inline std::vector<FakeValue> g_values;            // handle = index + 1
inline std::set<std::string> g_pageFunctions;      // what the page declares
inline std::vector<std::string> g_calls;           // "name(args)"
inline std::vector<std::string> g_bound;           // "name" or "name/no window"
inline std::vector<jsValue> g_args;                // arguments of the next native call
// What each bound name runs, with the window it was bound with.
inline std::map<std::string, std::pair<wkeJsNativeFunction, void*>> g_functions;

inline jsValue Make(FakeValue value) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    g_values.push_back(std::move(value));
    return static_cast<jsValue>(g_values.size());
}

inline FakeValue Get(jsValue handle) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    return handle >= 1 && static_cast<std::size_t>(handle) <= g_values.size() ? g_values[handle - 1] : FakeValue{};
}

inline std::string Render(jsValue handle) {
    const FakeValue value = Get(handle);
    switch (value.kind) {
    case FakeValue::Null: return "null";
    case FakeValue::Bool: return value.number != 0 ? "true" : "false";
    case FakeValue::Int: return std::to_string(static_cast<long long>(value.number));
    case FakeValue::Double: return std::to_string(value.number);
    case FakeValue::String: return "\"" + value.text + "\"";
    case FakeValue::Buffer: return "buffer(" + std::to_string(value.text.size()) + ")";
    case FakeValue::Function: return "function " + value.text;
    case FakeValue::Array: {
        std::string out = "[";
        for (std::size_t i = 0; i < value.items.size(); ++i)
            out += (i ? "," : "") + Render(value.items[i]);
        return out + "]";
    }
    case FakeValue::Object: {
        std::string out = "{";
        for (std::size_t i = 0; i < value.properties.size(); ++i)
            out += (i ? "," : "") + value.properties[i].first + ":" + Render(value.properties[i].second);
        return out + "}";
    }
    default: return "undefined";
    }
}

inline jsValue WKE_CALL FakeInt(int n) { return Make({FakeValue::Int, static_cast<double>(n)}); }
inline jsValue WKE_CALL FakeDouble(jsExecState, double d) { return Make({FakeValue::Double, d}); }
inline jsValue WKE_CALL FakeBoolean(bool b) { return Make({FakeValue::Bool, b ? 1.0 : 0.0}); }
inline jsValue WKE_CALL FakeTrue() { return FakeBoolean(true); }
inline jsValue WKE_CALL FakeFalse() { return FakeBoolean(false); }
inline jsValue WKE_CALL FakeNull() { return Make({FakeValue::Null}); }
inline jsValue WKE_CALL FakeUndefined() { return Make({FakeValue::Undefined}); }
inline jsValue WKE_CALL FakeString(jsExecState, const char* text) { return Make({FakeValue::String, 0, text}); }
inline jsValue WKE_CALL FakeEmptyArray(jsExecState) { return Make({FakeValue::Array}); }
inline jsValue WKE_CALL FakeEmptyObject(jsExecState) { return Make({FakeValue::Object}); }
inline jsValue WKE_CALL FakeArrayBuffer(jsExecState, const char* data, size_t length) {
    return Make({FakeValue::Buffer, 0, std::string(data, length)});
}
inline void WKE_CALL FakeSet(jsExecState, jsValue object, const char* name, jsValue value) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    g_values[object - 1].properties.emplace_back(name, value);
}
inline void WKE_CALL FakeSetAt(jsExecState, jsValue array, int index, jsValue value) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    auto& items = g_values[array - 1].items;
    if (items.size() <= static_cast<std::size_t>(index))
        items.resize(static_cast<std::size_t>(index) + 1);
    items[static_cast<std::size_t>(index)] = value;
}
inline jsExecState WKE_CALL FakeGlobalExec(wkeWebView) { return reinterpret_cast<jsExecState>(1); }
inline jsValue WKE_CALL FakeGetGlobal(jsExecState, const char* name) {
    return g_pageFunctions.count(name) ? Make({FakeValue::Function, 0, name}) : FakeUndefined();
}
inline jsType WKE_CALL FakeTypeOf(jsValue value) {
    switch (Get(value).kind) {
    case FakeValue::Function: return JSTYPE_FUNCTION;
    case FakeValue::String: return JSTYPE_STRING;
    case FakeValue::Array: return JSTYPE_ARRAY;
    default: return JSTYPE_UNDEFINED;
    }
}
inline jsValue WKE_CALL FakeCallGlobal(jsExecState, jsValue function, jsValue* args, int count) {
    std::string call = Get(function).text + "(";
    for (int i = 0; i < count; ++i)
        call += (i ? "," : "") + Render(args[i]);
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    g_calls.push_back(call + ")");
    return 0;
}
inline jsValue WKE_CALL FakeArg(jsExecState, int index) {
    return static_cast<std::size_t>(index) < g_args.size() ? g_args[static_cast<std::size_t>(index)] : FakeUndefined();
}
inline int WKE_CALL FakeArgCount(jsExecState) { return static_cast<int>(g_args.size()); }
inline int WKE_CALL FakeToInt(jsExecState, jsValue value) { return static_cast<int>(Get(value).number); }
inline bool WKE_CALL FakeToBoolean(jsExecState, jsValue value) { return Get(value).number != 0; }
inline const char* WKE_CALL FakeToTempString(jsExecState, jsValue value) {
    std::lock_guard<std::mutex> lock(g_fakeMutex);
    return value >= 1 && static_cast<std::size_t>(value) <= g_values.size() ? g_values[value - 1].text.c_str() : "";
}
inline int WKE_CALL FakeGetLength(jsExecState, jsValue value) { return static_cast<int>(Get(value).items.size()); }
inline jsValue WKE_CALL FakeGetAt(jsExecState, jsValue array, int index) {
    const FakeValue value = Get(array);
    return static_cast<std::size_t>(index) < value.items.size() ? value.items[static_cast<std::size_t>(index)] : 0;
}
inline void WKE_CALL FakeBind(const char* name, wkeJsNativeFunction function, void* param, unsigned) {
    g_bound.push_back(std::string(name) + (param == nullptr ? "/no window" : ""));
    g_functions[name] = {function, param};
}
inline void WKE_CALL FakeDrag(wkeWebView, bool) {}

inline void InstallFakeWebView() {
    g_wke = WebViewApi{};
    g_wke.jsInt = FakeInt;
    g_wke.jsDouble = FakeDouble;
    g_wke.jsBoolean = FakeBoolean;
    g_wke.jsTrue = FakeTrue;
    g_wke.jsFalse = FakeFalse;
    g_wke.jsNull = FakeNull;
    g_wke.jsUndefined = FakeUndefined;
    g_wke.jsString = FakeString;
    g_wke.jsEmptyArray = FakeEmptyArray;
    g_wke.jsEmptyObject = FakeEmptyObject;
    g_wke.jsArrayBuffer = FakeArrayBuffer;
    g_wke.jsSet = FakeSet;
    g_wke.jsSetAt = FakeSetAt;
    g_wke.wkeGlobalExec = FakeGlobalExec;
    g_wke.jsGetGlobal = FakeGetGlobal;
    g_wke.jsTypeOf = FakeTypeOf;
    g_wke.jsCallGlobal = FakeCallGlobal;
    g_wke.jsArg = FakeArg;
    g_wke.jsArgCount = FakeArgCount;
    g_wke.jsToInt = FakeToInt;
    g_wke.jsToBoolean = FakeToBoolean;
    g_wke.jsToTempString = FakeToTempString;
    g_wke.jsToString = FakeToTempString;
    g_wke.jsGetLength = FakeGetLength;
    g_wke.jsGetAt = FakeGetAt;
    g_wke.wkeJsBindFunction = FakeBind;
    g_wke.wkeSetDragEnable = FakeDrag;
    g_wke.wkeSetDragDropEnable = FakeDrag;
}

inline jsValue Str(const std::string& text) { return FakeString(nullptr, text.c_str()); }
inline jsValue List(const std::vector<std::string>& texts) {
    jsValue list = FakeEmptyArray(nullptr);
    for (std::size_t i = 0; i < texts.size(); ++i)
        FakeSetAt(nullptr, list, static_cast<int>(i), Str(texts[i]));
    return list;
}

// A UI thread whose one window runs the program's task messages.
inline bool RunsTasks(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (uitask::HandleTaskMessage(message, wParam, lParam))
        return true;
    if (message != uitask::kTaskData)
        return false;
    Trova::RunTypedTask(wParam, lParam);
    return true;
}

class MainWindowBridge : public ::testing::Test {
protected:
    void SetUp() override {
        InstallFakeWebView();
        g_calls.clear();
        g_bound.clear();
        g_functions.clear();
        g_args.clear();
        g_pageFunctions = {"cacheScanCbkTotal", "cacheScanCbk0", "cacheScanCbk1", "cacheScanCbk2", "cacheScanCbk3",
                           "sizeCbk", "cacheFileNameCbk", "cacheScanEndCbk", "cacheProgressCbk", "cacheDeleteOneCbk",
                           "cacheScanStopCbk", "bigFiles", "done", "moverMoveKnownFolderCbk",
                           "moverRestoreKnownFolderCbk", "moverMoveAppFolderCbk", "moverRestoreAppFolderCbk",
                           "moverChangeRootCbk", "folders"};
        owner.webView = reinterpret_cast<wkeWebView>(1);
        Trova::CacheCleanCbkImple::ResetCounters();
    }
    void TearDown() override {
        I18nConfig::Instance().SetEncryption(false);
        g_wke = WebViewApi{};
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(g_fakeMutex);
        return g_calls;
    }
    // Waits (bounded) until n page calls were made, or the one named.
    std::vector<std::string> WaitCalls(std::size_t n, const std::string& last = "") {
        for (int i = 0; i < 3000; ++i) {
            const std::vector<std::string> calls = Calls();
            if (last.empty() ? calls.size() >= n : std::find(calls.begin(), calls.end(), last) != calls.end())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return Calls();
    }

    testutil::UiThread ui{RunsTasks};
    BaseBlkWinow owner{nullptr, 0, "", 3};
};

}  // namespace fakeview
