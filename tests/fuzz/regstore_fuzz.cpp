// Feeds arbitrary bytes to the registry store parser and looks values up in
// what it kept: it may reject the input, but never crash or read out of bounds.
#include "fendrel/regstore.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    RegStore store;
    std::vector<std::string> problems;
    store.Parse(std::string(reinterpret_cast<const char*>(data), size), &problems);
    store.Find(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\App", L"Path");
    store.Find(L"HKCU\\Software\\App", L"");
    return 0;
}
