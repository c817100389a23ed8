#include "values.h"

#include "fendrel/utils.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace wke {
namespace {

constexpr std::uint32_t kConstantStore = 0;
constexpr std::uint32_t kIntStore = 1;
// Nesting beyond this is cut off (a cycle built with jsSet/jsSetAt would
// otherwise recurse forever).
constexpr int kMaxDepth = 64;

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::uint32_t, Store*> stores;
    std::uint32_t nextId = 2;
};

Registry& Stores() {
    static Registry* registry = new Registry;
    return *registry;
}

std::uint32_t StoreId(jsValue handle) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(handle) >> 32);
}

std::uint32_t Index(jsValue handle) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(handle) & 0xFFFFFFFFu);
}

jsValue MakeHandle(std::uint32_t store, std::uint32_t index) {
    return static_cast<jsValue>((static_cast<std::uint64_t>(store) << 32) | index);
}

Json::Value Tagged(const char* tag) {
    Json::Value out(Json::objectValue);
    out["$"] = tag;
    return out;
}

Json::Value EncodeAt(jsValue handle, NativeRegistry& natives, int depth) {
    if (depth > kMaxDepth)
        return Tagged("u");
    switch (StoreId(handle)) {
    case kConstantStore:
        switch (handle) {
        case kNull: return Json::Value(Json::nullValue);
        case kTrue: return Json::Value(true);
        case kFalse: return Json::Value(false);
        default: return Tagged("u");
        }
    case kIntStore:
        return Json::Value(static_cast<std::int32_t>(Index(handle)));
    default:
        break;
    }
    Value* value = Lookup(handle);
    if (!value)
        return Tagged("u");
    switch (value->kind) {
    case Value::Kind::Double:
        if (std::isfinite(value->number))
            return Json::Value(value->number);
        else {
            Json::Value out = Tagged("d");
            out["v"] = NumberToText(value->number);
            return out;
        }
    case Value::Kind::String:
        return Json::Value(value->text);
    case Value::Kind::Array: {
        Json::Value out = Tagged("a");
        Json::Value& items = out["v"] = Json::Value(Json::arrayValue);
        for (jsValue item : value->items)
            items.append(EncodeAt(item, natives, depth + 1));
        return out;
    }
    case Value::Kind::Object: {
        Json::Value out = Tagged("o");
        Json::Value& keys = out["k"] = Json::Value(Json::arrayValue);
        Json::Value& values = out["v"] = Json::Value(Json::arrayValue);
        for (const auto& prop : value->props) {
            keys.append(prop.first);
            values.append(EncodeAt(prop.second, natives, depth + 1));
        }
        return out;
    }
    case Value::Kind::Buffer: {
        Json::Value out = Tagged("b");
        out["v"] = Base64Encode(value->bytes.data(), value->bytes.size());
        return out;
    }
    case Value::Kind::PageFunction: {
        Json::Value out = Tagged("f");
        out["n"] = value->text;
        return out;
    }
    case Value::Kind::NativeFunction: {
        Json::Value out = Tagged("nf");
        out["id"] = natives.RegisterNative(value->native, value->nativeParam);
        return out;
    }
    case Value::Kind::Global:
        return Tagged("g");
    }
    return Tagged("u");
}

bool DecodeAt(const Json::Value& json, Store& store, NativeRegistry& natives, int depth, jsValue& out,
              std::string& error) {
    if (depth > kMaxDepth) {
        error = "value nested too deeply";
        return false;
    }
    switch (json.type()) {
    case Json::nullValue: out = kNull; return true;
    case Json::booleanValue: out = json.asBool() ? kTrue : kFalse; return true;
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
        if (json.isInt()) {
            out = MakeInt(json.asInt());
        } else {
            Value value;
            value.number = json.asDouble();
            out = store.Add(std::move(value));
        }
        return true;
    case Json::stringValue: {
        Value value;
        value.kind = Value::Kind::String;
        value.text = json.asString();
        out = store.Add(std::move(value));
        return true;
    }
    case Json::arrayValue:
        error = "bare array";
        return false;
    case Json::objectValue:
        break;
    }
    const Json::Value& tagValue = json["$"];
    if (!tagValue.isString()) {
        error = "untagged object";
        return false;
    }
    const std::string tag = tagValue.asString();
    const Json::Value& v = json["v"];
    Value value;
    if (tag == "u") {
        out = kUndefined;
        return true;
    } else if (tag == "d") {
        std::string text = v.isString() ? v.asString() : "";
        if (text == "NaN")
            value.number = std::nan("");
        else if (text == "Infinity")
            value.number = HUGE_VAL;
        else if (text == "-Infinity")
            value.number = -HUGE_VAL;
        else {
            error = "bad number";
            return false;
        }
    } else if (tag == "a") {
        if (!v.isArray()) {
            error = "bad array";
            return false;
        }
        value.kind = Value::Kind::Array;
        for (const auto& item : v) {
            jsValue handle;
            if (!DecodeAt(item, store, natives, depth + 1, handle, error))
                return false;
            value.items.push_back(handle);
        }
    } else if (tag == "o") {
        const Json::Value& keys = json["k"];
        if (!keys.isArray() || !v.isArray() || keys.size() != v.size()) {
            error = "bad object";
            return false;
        }
        value.kind = Value::Kind::Object;
        for (Json::ArrayIndex i = 0; i < keys.size(); ++i) {
            jsValue handle;
            if (!keys[i].isString() || !DecodeAt(v[i], store, natives, depth + 1, handle, error)) {
                if (error.empty())
                    error = "bad object key";
                return false;
            }
            value.props.emplace_back(keys[i].asString(), handle);
        }
    } else if (tag == "b") {
        value.kind = Value::Kind::Buffer;
        if (!v.isString() || !Base64Decode(v.asString(), value.bytes)) {
            error = "bad base64";
            return false;
        }
    } else if (tag == "f") {
        value.kind = Value::Kind::PageFunction;
        value.text = json["n"].isString() ? json["n"].asString() : "";
    } else if (tag == "nf") {
        value.kind = Value::Kind::NativeFunction;
        if (!json["id"].isInt() || !natives.FindNative(json["id"].asInt(), value.native, value.nativeParam)) {
            error = "unknown native function";
            return false;
        }
    } else if (tag == "g") {
        value.kind = Value::Kind::Global;
    } else {
        error = "unknown tag";
        return false;
    }
    out = store.Add(std::move(value));
    return true;
}

jsValue CopyAt(Store& store, jsValue handle, int depth) {
    Value* value = Lookup(handle);
    if (!value)  // an immediate stays, an expired handle is undefined anyway
        return StoreId(handle) > kIntStore ? kUndefined : handle;
    if (StoreId(handle) == store.id())
        return handle;
    if (depth > kMaxDepth)
        return kUndefined;
    Value copy = *value;
    copy.asText.clear();
    copy.asWide.clear();
    for (auto& item : copy.items)
        item = CopyAt(store, item, depth + 1);
    for (auto& prop : copy.props)
        prop.second = CopyAt(store, prop.second, depth + 1);
    return store.Add(std::move(copy));
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

Store::Store() {
    Registry& registry = Stores();
    std::lock_guard<std::mutex> lock(registry.mutex);
    m_id = registry.nextId++;
    if (registry.nextId < 2)  // wrapped after four billion stores
        registry.nextId = 2;
    registry.stores[m_id] = this;
}

Store::~Store() {
    Registry& registry = Stores();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.stores.erase(m_id);
}

jsValue Store::Add(Value value) {
    m_values.push_back(std::move(value));
    Value& stored = m_values.back();
    if (stored.kind == Value::Kind::Buffer)
        stored.memBuf = wkeMemBuf{stored.bytes.data(), stored.bytes.size()};
    return MakeHandle(m_id, static_cast<std::uint32_t>(m_values.size() - 1));
}

Value* Store::Get(std::uint32_t index) {
    return index < m_values.size() ? &m_values[index] : nullptr;
}

const char* Store::Keep(std::string text) {
    m_texts.push_back(std::move(text));
    return m_texts.back().c_str();
}

const wchar_t* Store::Keep(std::wstring text) {
    m_wides.push_back(std::move(text));
    return m_wides.back().c_str();
}

jsValue MakeInt(int number) {
    return MakeHandle(kIntStore, static_cast<std::uint32_t>(number));
}

Store* StoreOf(jsValue handle) {
    std::uint32_t id = StoreId(handle);
    if (id <= kIntStore)
        return nullptr;
    Registry& registry = Stores();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.stores.find(id);
    return it == registry.stores.end() ? nullptr : it->second;
}

Value* Lookup(jsValue handle) {
    Store* store = StoreOf(handle);
    return store ? store->Get(Index(handle)) : nullptr;
}

jsType TypeOf(jsValue handle) {
    switch (StoreId(handle)) {
    case kConstantStore:
        return handle == kNull ? JSTYPE_NULL : (handle == kTrue || handle == kFalse) ? JSTYPE_BOOLEAN : JSTYPE_UNDEFINED;
    case kIntStore:
        return JSTYPE_NUMBER;
    default:
        break;
    }
    Value* value = Lookup(handle);
    if (!value)
        return JSTYPE_UNDEFINED;
    switch (value->kind) {
    case Value::Kind::Double: return JSTYPE_NUMBER;
    case Value::Kind::String: return JSTYPE_STRING;
    case Value::Kind::Array: return JSTYPE_ARRAY;
    case Value::Kind::Object:
    case Value::Kind::Global: return JSTYPE_OBJECT;
    case Value::Kind::Buffer: return JSTYPE_ARRAYBUFFER;
    case Value::Kind::PageFunction:
    case Value::Kind::NativeFunction: return JSTYPE_FUNCTION;
    }
    return JSTYPE_UNDEFINED;
}

double ToNumber(jsValue handle) {
    switch (TypeOf(handle)) {
    case JSTYPE_NULL: return 0;
    case JSTYPE_BOOLEAN: return handle == kTrue ? 1 : 0;
    case JSTYPE_NUMBER:
        return StoreId(handle) == kIntStore ? static_cast<std::int32_t>(Index(handle)) : Lookup(handle)->number;
    case JSTYPE_STRING: {
        const std::string& text = Lookup(handle)->text;
        std::size_t begin = text.find_first_not_of(" \t\r\n\f\v");
        if (begin == std::string::npos)
            return 0;
        std::size_t end = text.find_last_not_of(" \t\r\n\f\v");
        std::string trimmed = text.substr(begin, end - begin + 1);
        if (trimmed == "Infinity" || trimmed == "+Infinity")
            return HUGE_VAL;
        if (trimmed == "-Infinity")
            return -HUGE_VAL;
        // strtod would also take "inf", "nan" and hexadecimal fractions.
        for (char c : trimmed) {
            if (!std::strchr("0123456789+-.eExXabcdefABCDEF", c))
                return std::nan("");
        }
        char* stop = nullptr;
        double number;
        if (trimmed.size() > 2 && trimmed[0] == '0' && (trimmed[1] == 'x' || trimmed[1] == 'X'))
            number = static_cast<double>(std::strtoull(trimmed.c_str() + 2, &stop, 16));
        else
            number = std::strtod(trimmed.c_str(), &stop);
        return stop && *stop == '\0' ? number : std::nan("");
    }
    case JSTYPE_ARRAY: {
        Value* value = Lookup(handle);
        if (value->items.empty())
            return 0;
        if (value->items.size() == 1) {
            Value single;
            single.kind = Value::Kind::String;
            single.text = ToText(value->items[0]);
            Store scratch;
            return ToNumber(scratch.Add(std::move(single)));
        }
        return std::nan("");
    }
    default:
        return std::nan("");
    }
}

int ToInt32(jsValue handle) {
    if (StoreId(handle) == kIntStore)
        return static_cast<std::int32_t>(Index(handle));
    double number = ToNumber(handle);
    if (!std::isfinite(number))
        return 0;
    double wrapped = std::fmod(std::trunc(number), 4294967296.0);
    if (wrapped < 0)
        wrapped += 4294967296.0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(wrapped));
}

bool ToBoolean(jsValue handle) {
    switch (TypeOf(handle)) {
    case JSTYPE_UNDEFINED:
    case JSTYPE_NULL: return false;
    case JSTYPE_BOOLEAN: return handle == kTrue;
    case JSTYPE_NUMBER: {
        double number = ToNumber(handle);
        return number != 0 && !std::isnan(number);
    }
    case JSTYPE_STRING: return !Lookup(handle)->text.empty();
    default: return true;
    }
}

std::string NumberToText(double number) {
    if (std::isnan(number))
        return "NaN";
    if (std::isinf(number))
        return number > 0 ? "Infinity" : "-Infinity";
    if (number == 0)
        return "0";
    // Shortest digits that read back as the same double.
    char buffer[64];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, number);
        if (std::strtod(buffer, nullptr) == number)
            break;
    }
    std::string text(buffer);
    bool negative = text[0] == '-';
    if (negative)
        text.erase(0, 1);
    std::size_t e = text.find('e');
    int exponent = std::atoi(text.c_str() + e + 1);
    std::string digits;
    for (std::size_t i = 0; i < e; ++i) {
        if (text[i] != '.')
            digits += text[i];
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    int k = static_cast<int>(digits.size());
    int n = exponent + 1;  // position of the decimal point
    std::string out;
    if (k <= n && n <= 21) {
        out = digits + std::string(n - k, '0');
    } else if (0 < n && n <= 21) {
        out = digits.substr(0, n) + "." + digits.substr(n);
    } else if (-6 < n && n <= 0) {
        out = "0." + std::string(-n, '0') + digits;
    } else {
        out = digits.substr(0, 1);
        if (k > 1)
            out += "." + digits.substr(1);
        out += (n - 1 >= 0 ? "e+" : "e-") + std::to_string(std::abs(n - 1));
    }
    return negative ? "-" + out : out;
}

std::string ToText(jsValue handle) {
    switch (TypeOf(handle)) {
    case JSTYPE_UNDEFINED:
    case JSTYPE_NULL: return "";
    case JSTYPE_BOOLEAN: return handle == kTrue ? "true" : "false";
    case JSTYPE_NUMBER:
        return StoreId(handle) == kIntStore ? std::to_string(static_cast<std::int32_t>(Index(handle)))
                                            : NumberToText(Lookup(handle)->number);
    case JSTYPE_STRING: return Lookup(handle)->text;
    case JSTYPE_ARRAY: {
        std::string out;
        const auto& items = Lookup(handle)->items;
        for (std::size_t i = 0; i < items.size(); ++i)
            out += (i ? "," : "") + ToText(items[i]);
        return out;
    }
    case JSTYPE_ARRAYBUFFER: return "[object ArrayBuffer]";
    case JSTYPE_FUNCTION: return "function " + Lookup(handle)->text + "() { [native code] }";
    default:
        return Lookup(handle)->kind == Value::Kind::Global ? "[object Window]" : "[object Object]";
    }
}

jsValue CopyInto(Store& store, jsValue handle) {
    return CopyAt(store, handle, 0);
}

Json::Value Encode(jsValue handle, NativeRegistry& natives) {
    return EncodeAt(handle, natives, 0);
}

bool Decode(const Json::Value& json, Store& store, NativeRegistry& natives, jsValue& out, std::string& error) {
    return DecodeAt(json, store, natives, 0, out, error);
}

std::string Base64Encode(const unsigned char* data, std::size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        std::uint32_t chunk = data[i] << 16;
        if (i + 1 < size)
            chunk |= data[i + 1] << 8;
        if (i + 2 < size)
            chunk |= data[i + 2];
        out += kBase64[(chunk >> 18) & 63];
        out += kBase64[(chunk >> 12) & 63];
        out += i + 1 < size ? kBase64[(chunk >> 6) & 63] : '=';
        out += i + 2 < size ? kBase64[chunk & 63] : '=';
    }
    return out;
}

bool Base64Decode(const std::string& text, std::vector<unsigned char>& out) {
    if (text.size() % 4 != 0)
        return false;
    out.clear();
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t chunk = 0;
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            const char* at = c ? std::strchr(kBase64, c) : nullptr;
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                ++padding;
                chunk <<= 6;
                continue;
            }
            if (!at || padding)
                return false;
            chunk = (chunk << 6) | static_cast<std::uint32_t>(at - kBase64);
        }
        out.push_back(static_cast<unsigned char>(chunk >> 16));
        if (padding < 2)
            out.push_back(static_cast<unsigned char>(chunk >> 8));
        if (padding < 1)
            out.push_back(static_cast<unsigned char>(chunk));
    }
    return true;
}

std::wstring Widen(const std::string& utf8) {
    return Utils::utf8ToUtf16(utf8);
}

std::string Narrow(const std::wstring& wide) {
    return Utils::utf16ToUtf8(wide);
}

int Utf16Length(const std::string& utf8) {
    int units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80)
            units += (c >= 0xF0) ? 2 : 1;
    }
    return units;
}

}  // namespace wke
