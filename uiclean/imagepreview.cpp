#include "uiclean/imagepreview.h"

#include "fendrel/logger.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace imagepreview {

namespace {

constexpr const char* kSource = "uiclean/imagepreview";
constexpr int kMaxSide = 500;

// The whole file in binary mode; false when it cannot be opened or fully read.
bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(size));
        ok = bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    std::fclose(file);
    return ok;
}

}  // namespace

Recognition Recognize(const std::vector<std::uint8_t>& bytes) {
    Recognition found;
    if (bytes.size() < 2)
        return found;
    const std::uint8_t b0 = bytes[0];
    const std::uint8_t pair = static_cast<std::uint8_t>(b0 ^ bytes[1]);
    const struct {
        std::uint8_t first, second;
        PictureType type;
    } signatures[] = {{0xFF, 0xD8, PictureType::Jpeg}, {0x47, 0x49, PictureType::Gif}, {0x89, 0x50, PictureType::Png}};
    for (const auto& signature : signatures) {
        if (pair == (signature.first ^ signature.second)) {
            found.type = signature.type;
            found.mask = static_cast<std::uint8_t>(b0 ^ signature.first);
            break;
        }
    }
    return found;
}

Size DisplaySize(int width, int height) {
    if (width <= kMaxSide && height <= kMaxSide)
        return {width, height};
    // In whole numbers: the longer side becomes exactly 500, where a
    // floating scale could land on 499.99... and round down to 499.
    const std::int64_t w = width, h = height;
    if (w >= h)
        return {kMaxSide, static_cast<int>(h * kMaxSide / w)};
    return {static_cast<int>(w * kMaxSide / h), kMaxSide};
}

bool PictureSize(const std::vector<std::uint8_t>& bytes, PictureType type, Size& size) {
    auto be16 = [&bytes](std::size_t at) { return (bytes[at] << 8) | bytes[at + 1]; };
    switch (type) {
    case PictureType::Png:
        // Signature (8), chunk length (4), "IHDR", width and height (4 + 4, big-endian).
        if (bytes.size() < 24 || std::string(bytes.begin() + 12, bytes.begin() + 16) != "IHDR" || bytes[16] != 0 ||
            bytes[20] != 0)
            return false;
        size = {static_cast<int>((bytes[17] << 16) | be16(18)), static_cast<int>((bytes[21] << 16) | be16(22))};
        break;
    case PictureType::Gif:
        if (bytes.size() < 10)
            return false;
        size = {bytes[6] | (bytes[7] << 8), bytes[8] | (bytes[9] << 8)};
        break;
    case PictureType::Jpeg: {
        std::size_t at = 2;
        for (;;) {
            while (at < bytes.size() && bytes[at] == 0xFF)
                ++at;  // fill bytes before a marker
            if (at + 2 >= bytes.size() || bytes[at - 1] != 0xFF)
                return false;
            const std::uint8_t marker = bytes[at];
            // Start-of-frame markers; C4, C8 and CC are other segments.
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
                if (at + 8 > bytes.size())
                    return false;
                size = {be16(at + 6), be16(at + 4)};
                break;
            }
            if (marker == 0xD9 || marker == 0xDA)
                return false;  // the picture data began without a frame header
            const std::size_t length = (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01 ? 0 : be16(at + 1);
            if (length != 0 && length < 2)
                return false;
            at += 1 + length;
        }
        break;
    }
    default:
        return false;
    }
    return size.width > 0 && size.height > 0;
}

bool PreviewFile(HWND owner, const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWhole(path, bytes)) {
        Logger_WarnF(kSource, __LINE__, "the picture %s cannot be read", path.c_str());
        return false;
    }
    if (bytes.size() <= 1) {
        Logger_InfoF(kSource, __LINE__, "%s is too short for a picture", path.c_str());
        return false;
    }
    const Recognition picture = Recognize(bytes);
    if (picture.type == PictureType::None) {
        Logger_InfoF(kSource, __LINE__, "%s is no JPEG, GIF or PNG picture", path.c_str());
        return false;
    }
    if (picture.mask != 0) {
        for (std::uint8_t& byte : bytes)
            byte ^= picture.mask;
    }
    return ShowImagePreview(owner, bytes);
}

}  // namespace imagepreview
