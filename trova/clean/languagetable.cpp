#include "trova/clean/languagetable.h"

#include <map>

namespace {

// Built before main runs, read-only afterwards.
const std::map<std::uint16_t, int> kIndexByPrimary = {
    {4, 0}, {9, 1}, {7, 2}, {12, 3}, {10, 4}, {22, 5}, {25, 6}, {16, 7},
};

const std::map<int, LanguageKeys> kKeysByIndex = {
    {0, {"desc_zh", "det_zh", "zh"}}, {1, {"desc_en", "det_en", "en"}}, {2, {"desc_de", "det_de", "de"}},
    {3, {"desc_fr", "det_fr", "fr"}}, {4, {"desc_es", "det_es", "es"}}, {5, {"desc_pt", "det_pt", "pt"}},
    {6, {"desc_ru", "det_ru", "ru"}}, {7, {"desc_it", "det_it", "it"}},
};

}  // namespace

int LanguageTable::IndexOf(std::uint16_t langId) {
    auto it = kIndexByPrimary.find(static_cast<std::uint16_t>(langId & 0x3FF));
    return it == kIndexByPrimary.end() ? kEnglish : it->second;
}

const LanguageKeys& LanguageTable::Keys(int index) {
    auto it = kKeysByIndex.find(index);
    return it == kKeysByIndex.end() ? kKeysByIndex.at(kEnglish) : it->second;
}
