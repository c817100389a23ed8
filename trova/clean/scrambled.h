// The scrambled container of the data files: the plain text followed by four
// mask bytes M0..M3 and a key byte K. Key byte i = Mi ^ K; plain byte j =
// scrambled byte j ^ key[j % 4]. A file shorter than the trailer is unreadable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Trova {

// Reads and unscrambles a whole file; false when it cannot be read whole.
bool ReadScrambledFile(const std::wstring& path, std::vector<std::uint8_t>& plain);
// The container around plain text with the given key (for tools and tests).
std::vector<std::uint8_t> Scramble(const std::vector<std::uint8_t>& plain, const std::uint8_t mask[4],
                                   std::uint8_t keyByte);

}  // namespace Trova
