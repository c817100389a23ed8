#include "trova/clean/scrambled.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <array>
#include <exception>

namespace Trova {

namespace {

constexpr std::size_t kTrailerSize = 5;  // mask bytes M0..M3, key byte K

std::array<std::uint8_t, 4> KeyOf(const std::uint8_t mask[4], std::uint8_t keyByte) {
    return {static_cast<std::uint8_t>(mask[0] ^ keyByte), static_cast<std::uint8_t>(mask[1] ^ keyByte),
            static_cast<std::uint8_t>(mask[2] ^ keyByte), static_cast<std::uint8_t>(mask[3] ^ keyByte)};
}

}  // namespace

bool ReadScrambledFile(const std::wstring& path, std::vector<std::uint8_t>& plain) {
    plain.clear();
    if (path.empty()) {
        return false;
    }
    // The container's size is a 32-bit quantity; asking first keeps a huge
    // file from being read at all.
    const std::int64_t size = File::BytesSize64(path);
    if (size < 0 || size > 0xFFFFFFFFll) {
        return false;
    }
    std::vector<std::uint8_t> data;
    try {
        data = File::readFile(path);
    } catch (const std::exception& e) {
        // Out of memory (or of address space in a 32-bit process).
        Logger_ErrorF("clean/scrambled", __LINE__, "cannot read %s: %s", Utils::Utf16ToAnsi(path).c_str(), e.what());
        return false;
    }
    // A short read (the file changed under us) is not the file.
    if (data.size() != static_cast<std::uint64_t>(size) || data.size() < kTrailerSize) {
        return false;
    }
    const std::size_t body = data.size() - kTrailerSize;
    const std::array<std::uint8_t, 4> key = KeyOf(&data[body], data[body + 4]);
    data.resize(body);
    for (std::size_t j = 0; j < body; ++j) {
        data[j] ^= key[j & 3];
    }
    plain = std::move(data);
    return true;
}

std::vector<std::uint8_t> Scramble(const std::vector<std::uint8_t>& plain, const std::uint8_t mask[4],
                                   std::uint8_t keyByte) {
    const std::array<std::uint8_t, 4> key = KeyOf(mask, keyByte);
    std::vector<std::uint8_t> out;
    out.reserve(plain.size() + kTrailerSize);
    for (std::size_t j = 0; j < plain.size(); ++j) {
        out.push_back(static_cast<std::uint8_t>(plain[j] ^ key[j & 3]));
    }
    out.insert(out.end(), mask, mask + 4);
    out.push_back(keyByte);
    return out;
}

}  // namespace Trova
