// Script values held by the library, and their wire form.
//
// A jsValue is (store id << 32) | index. Store 0 holds the constants
// (undefined 0, null 1, true 2, false 3), store 1 stands for int32 values
// kept in the low half; other stores are real Store objects, one per native
// call or per round of the UI thread for wkeGlobalExec. A handle whose store
// is gone reads as undefined.
//
// Wire form (JSON, both directions): null, booleans, finite numbers and
// strings as themselves; everything else as an object tagged with "$":
//   undefined {"$":"u"}      non-finite number {"$":"d","v":"NaN"}
//   array {"$":"a","v":[...]}     object {"$":"o","k":[names],"v":[values]}
//   ArrayBuffer {"$":"b","v":"base64"}     page function {"$":"f","n":"name"}
//   native function {"$":"nf","id":3}      the page's global object {"$":"g"}
// so no plain page object can pass for a special value, and property order
// survives.
#pragma once

#include "wke.h"

#include <json/json.h>

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace wke {

struct Value {
    enum class Kind { Double, String, Array, Object, Buffer, PageFunction, NativeFunction, Global };
    Kind kind = Kind::Double;
    double number = 0;
    std::string text;  // String: UTF-8; PageFunction: its name
    std::vector<jsValue> items;
    std::vector<std::pair<std::string, jsValue>> props;
    std::vector<unsigned char> bytes;
    wkeMemBuf memBuf{};
    wkeJsNativeFunction native = nullptr;
    void* nativeParam = nullptr;
    // Conversions handed out as C strings live here, as long as the value.
    std::string asText;
    std::wstring asWide;
};

class Store {
public:
    Store();
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    std::uint32_t id() const { return m_id; }
    jsValue Add(Value value);
    Value* Get(std::uint32_t index);
    // Text for C callers when the value itself has nowhere to keep it.
    const char* Keep(std::string text);
    const wchar_t* Keep(std::wstring text);

private:
    std::uint32_t m_id;
    std::deque<Value> m_values;
    std::deque<std::string> m_texts;
    std::deque<std::wstring> m_wides;
};

inline constexpr jsValue kUndefined = 0;
inline constexpr jsValue kNull = 1;
inline constexpr jsValue kTrue = 2;
inline constexpr jsValue kFalse = 3;

jsValue MakeInt(int number);
// The stored value behind a handle; null for immediates and expired handles.
Value* Lookup(jsValue handle);
Store* StoreOf(jsValue handle);
jsType TypeOf(jsValue handle);

double ToNumber(jsValue handle);
int ToInt32(jsValue handle);
bool ToBoolean(jsValue handle);
// Script ToString, except that null and undefined give "".
std::string ToText(jsValue handle);
// JavaScript's Number::toString.
std::string NumberToText(double number);

// A copy of the value (and of everything inside it) in store; immediates and
// values already there come back as they are.
jsValue CopyInto(Store& store, jsValue handle);

// Registers native functions met while encoding and gives their ids.
class NativeRegistry {
public:
    virtual ~NativeRegistry() = default;
    virtual int RegisterNative(wkeJsNativeFunction function, void* param) = 0;
    virtual bool FindNative(int id, wkeJsNativeFunction& function, void*& param) = 0;
};

Json::Value Encode(jsValue handle, NativeRegistry& natives);
// False (with the reason in error) for JSON that is no valid wire value.
bool Decode(const Json::Value& json, Store& store, NativeRegistry& natives, jsValue& out, std::string& error);

std::string Base64Encode(const unsigned char* data, std::size_t size);
bool Base64Decode(const std::string& text, std::vector<unsigned char>& out);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
// UTF-16 units of a UTF-8 text, as String.length counts them.
int Utf16Length(const std::string& utf8);

}  // namespace wke
