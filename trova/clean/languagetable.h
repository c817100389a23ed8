// The eight languages of the interface and of the name tables, by index:
// 0 zh, 1 en, 2 de, 3 fr, 4 es, 5 pt, 6 ru, 7 it. The name tables find a
// language's text columns by these keys.
//
//   IndexOf(2052) => 0 (Chinese)   IndexOf(1033) => 1   IndexOf(1041) => 1 (unknown: English)
#pragma once

#include <cstdint>
#include <string>

struct LanguageKeys {
    std::string descKey;    // "desc_zh"
    std::string detailKey;  // "det_zh"
    std::string code;       // "zh"
};

class LanguageTable {
public:
    static constexpr int kCount = 8;
    static constexpr int kEnglish = 1;

    // Index of a Windows language identifier, looked up by its low 10 bits
    // (the primary language); unknown languages select English.
    static int IndexOf(std::uint16_t langId);
    // Keys of an index; an index outside 0..7 gives English's.
    static const LanguageKeys& Keys(int index);
};
