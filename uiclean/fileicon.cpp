#include "uiclean/fileicon.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"

#include <cstring>

namespace fileicon {

namespace {

constexpr const char* kSource = "uiclean/fileicon";
constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kGroupEntrySize = 14;
constexpr std::size_t kFileEntrySize = 16;

void Put16(Bytes& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(Bytes& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t Get16(const Bytes& in, std::size_t at) {
    return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8));
}

// Vista-style icons keep their large images as PNG files; an icon file of
// the old layout cannot carry them to every reader, so they are left out.
bool IsPng(const Bytes& image) {
    static const std::uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    return image.size() >= 8 && std::memcmp(image.data(), kSignature, 8) == 0;
}

}  // namespace

std::vector<std::uint16_t> GroupImageIds(const Bytes& group) {
    std::vector<std::uint16_t> ids;
    if (group.size() < kHeaderSize)
        return ids;
    const std::size_t count = Get16(group, 4);
    if (group.size() < kHeaderSize + count * kGroupEntrySize) {
        Logger_WarnF(kSource, __LINE__, "an icon group names %zu images but holds %zu bytes", count, group.size());
        return ids;
    }
    for (std::size_t i = 0; i < count; ++i)
        ids.push_back(Get16(group, kHeaderSize + i * kGroupEntrySize + 12));
    return ids;
}

Bytes IconFileFromGroup(const Bytes& group, const std::vector<Bytes>& images) {
    const std::size_t entries = GroupImageIds(group).size();
    std::vector<std::size_t> taken;
    std::uint64_t total = kHeaderSize;
    for (std::size_t i = 0; i < entries && i < images.size(); ++i) {
        if (images[i].empty() || IsPng(images[i]))
            continue;
        taken.push_back(i);
        total += kFileEntrySize + images[i].size();
    }
    // Offsets are 32-bit in the file layout.
    if (taken.empty() || total > 0xFFFFFFFFull)
        return {};
    Bytes out(static_cast<std::size_t>(total), 0);
    Put16(out, 2, 1);
    Put16(out, 4, static_cast<std::uint16_t>(taken.size()));
    std::size_t offset = kHeaderSize + taken.size() * kFileEntrySize;
    for (std::size_t n = 0; n < taken.size(); ++n) {
        const Bytes& image = images[taken[n]];
        const std::size_t entry = kHeaderSize + n * kFileEntrySize;
        // Width, height, colours, reserved, planes and bit count as the group has them.
        std::memcpy(&out[entry], &group[kHeaderSize + taken[n] * kGroupEntrySize], 8);
        Put32(out, entry + 8, static_cast<std::uint32_t>(image.size()));
        Put32(out, entry + 12, static_cast<std::uint32_t>(offset));
        std::memcpy(&out[offset], image.data(), image.size());
        offset += image.size();
    }
    return out;
}

Bytes IconForFile(const std::wstring& path, const Bytes& defaultIcon) {
    const std::wstring extension = File::Extension(path);  // lower case
    if (extension == L"png" || extension == L"ico" || extension == L"jpg") {
        // The page shows these itself.
        Bytes bytes = File::readFile(path);
        return bytes.empty() ? defaultIcon : bytes;
    }
    Bytes icon = FileIconImage(path);
    return icon.empty() ? defaultIcon : icon;
}

}  // namespace fileicon
