// The small picture the page shows beside a file name. Windows takes the
// file's own icon from its resources (an executable or a library) and the
// system's generic file icon as the default; Linux takes the icon of the
// file's type from the installed freedesktop icon theme. A picture file the
// page can show itself is handed over as it is. Every result is the bytes of
// an image file (ICO, PNG, JPEG or SVG); an empty buffer means none.
#pragma once

#include "fendrel/platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fileicon {

using Bytes = std::vector<std::uint8_t>;

// The icon of one file for the page:
//   "a.png" (non-empty) => its bytes unchanged        "a.png" (empty) => defaultIcon
//   "a.exe" with an icon => that icon                 "a.exe" without  => defaultIcon
// A file of type png, ico or jpg is never looked into for an icon.
Bytes IconForFile(const std::wstring& path, const Bytes& defaultIcon);

// The first icon group of an executable or library as an icon file
// (Windows); the icon of the file's type from the icon theme (Linux).
// Empty when there is none, with one log line.
Bytes FileIconImage(const std::wstring& path);

// The system's generic file icon: imageres.dll group 15, else shell32.dll
// group 3 (Windows); "text-x-generic", else "application-x-generic" from the
// icon theme (Linux). Empty when there is none, with one log line.
Bytes SystemDefaultIcon();

// An icon group resource with its images, as an icon file: a 6-byte header
// (0, 1, count), one 16-byte entry per image (the group entry's first twelve
// bytes, then the image's 32-bit size and offset) and the images in order.
// `group` is the raw group resource (6-byte header and 14-byte entries);
// images[i] is the image of entry i, empty when it could not be loaded.
// Images that are empty or PNG-compressed are left out; none left => empty.
Bytes IconFileFromGroup(const Bytes& group, const std::vector<Bytes>& images);

// The image resource ids a raw icon group names, in order; empty for a
// group too short for its count.
std::vector<std::uint16_t> GroupImageIds(const Bytes& group);

#if defined(_WIN32)
// The icon file of one icon group of a loaded module; empty when the group
// or all of its images are missing.
Bytes BuildIconFile(HMODULE module, LPCSTR group);
#endif

}  // namespace fileicon
