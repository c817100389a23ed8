// Feeds arbitrary bytes to the script bridge's value decoder as a page's
// request body would reach it: JSON first, then the wire form of values. A
// value that decodes is read back through every conversion and encoded
// again; nothing may crash, loop or read out of bounds.
#include "values.h"

#include <json/json.h>

#include <cstdint>
#include <memory>
#include <string>

namespace {

// Native functions are only named by id in requests; none exists here.
class NoNatives : public wke::NativeRegistry {
public:
    int RegisterNative(wkeJsNativeFunction, void*) override { return 0; }
    bool FindNative(int, wkeJsNativeFunction&, void*&) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    Json::CharReaderBuilder builder;
    builder["stackLimit"] = 200;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value json;
    std::string errors;
    const char* text = reinterpret_cast<const char*>(data);
    if (!reader->parse(text, text + size, &json, &errors))
        return 0;
    wke::Store store;
    NoNatives natives;
    jsValue value = 0;
    std::string error;
    if (!wke::Decode(json, store, natives, value, error))
        return 0;
    wke::TypeOf(value);
    wke::ToNumber(value);
    wke::ToInt32(value);
    wke::ToBoolean(value);
    wke::ToText(value);
    wke::Encode(value, natives);
    return 0;
}
