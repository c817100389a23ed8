// One strict UTF-8 decoding step, shared by Fendrel's readers; each caller
// decides what an invalid byte stands for.
#pragma once

#include <cstddef>

namespace fendrel {

// Decodes the sequence starting at data[i] into c and its byte count into
// length. False for a byte that starts no valid sequence: a stray
// continuation byte, a truncated or overlong form, a surrogate, or a value
// past U+10FFFF.
inline bool DecodeUtf8At(const unsigned char* data, std::size_t size, std::size_t i, char32_t& c,
                         std::size_t& length) {
    const unsigned char lead = data[i];
    length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
    bool valid = length != 0 && i + length <= size;
    for (std::size_t k = 1; valid && k < length; ++k) {
        valid = (data[i + k] & 0xC0) == 0x80;
        c = (c << 6) | (data[i + k] & 0x3F);
    }
    static const char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    return valid && c >= kMinimum[length] && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

}  // namespace fendrel
