#include "trova/clean/ruledocument.h"

#include "trova/clean/scrambled.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/platform.h"
#include "fendrel/utils.h"

#include <pugixml.hpp>

#include <cstdint>
#include <vector>

namespace Trova {

bool LoadRuleDocument(const std::wstring& path, bool scrambled, const char* what, pugi::xml_document& document,
                      std::wstring* where) {
    std::wstring located = path;
    if (!File::Exist(located)) {
        // A relative configured path is relative to the program's folder.
        const std::wstring folder = File::Directory(L"");
        const bool joined = !located.empty() && (located.front() == L'\\' || located.front() == L'/');
        located = joined ? folder + located : folder + fendrel::kPathSep + located;
    }
    if (where != nullptr)
        *where = located;

    pugi::xml_parse_result parsed;
    if (scrambled) {
        std::vector<std::uint8_t> plain;
        if (!ReadScrambledFile(located, plain))
            plain.clear();  // an empty buffer does not parse
        parsed = document.load_buffer(plain.data(), plain.size());
    } else {
        parsed = document.load_file(located.c_str());
    }
    if (!parsed) {
        Logger_WarnF("clean/ruledocument", __LINE__, "%s %s not loaded: %s at offset %lld", what,
                     Utils::Utf16ToAnsi(located).c_str(), parsed.description(), static_cast<long long>(parsed.offset));
        return false;
    }
    return true;
}

}  // namespace Trova
