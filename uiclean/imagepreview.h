// The picture preview: one small window of the process that shows a picture
// file at no more than 500 x 500 pixels. Windows draws it with GDI+ in a
// native window that closing only hides; Linux shows it on a page of its own
// through the web view. UI thread only.
#pragma once

#include "fendrel/platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagepreview {

enum class PictureType { None, Jpeg, Gif, Png };

// A picture file, possibly with every byte XOR-ed with one mask byte:
// b0 ^ b1 of the first two bytes tells the type (tested JPEG, GIF, PNG).
//   FF D8 ...            => Jpeg, mask 0        47 49 ...  => Gif, mask 0
//   (FF D8 ...) ^ 0x5A   => Jpeg, mask 0x5A     "hello"    => None
// Fewer than two bytes => None.
struct Recognition {
    PictureType type = PictureType::None;
    std::uint8_t mask = 0;
};
Recognition Recognize(const std::vector<std::uint8_t>& bytes);

// The shown size: either side over 500 scales both by min(500/w, 500/h),
// rounded down.   1000 x 400 => 500 x 200     300 x 200 => 300 x 200
struct Size {
    int width = 0;
    int height = 0;
};
Size DisplaySize(int width, int height);

// The pixel size a picture's header states, without decoding it (JPEG:
// the first start-of-frame; GIF: the logical screen; PNG: IHDR). False for
// a header too short or broken to tell.
bool PictureSize(const std::vector<std::uint8_t>& bytes, PictureType type, Size& size);

// The page's "previewImage": reads the file (path in the process code
// page), unmasks it and shows it. False when the file cannot be read, holds
// one byte or less, or is no picture.
bool PreviewFile(HWND owner, const std::string& path);

// Shows decoded-picture bytes in the preview window, reusing it. False (with
// a message to the user on Windows) when the picture cannot be shown.
bool ShowImagePreview(HWND owner, const std::vector<std::uint8_t>& bytes);

// Destroys the preview window when it exists; the program's close calls it.
void CloseImagePreview();

// The preview window (Windows) or its web view (Linux); null when none.
void* PreviewHandle();

#if defined(_WIN32)
// Tells the user why a picture is not shown: an error message box on the
// owner ("错误") unless a test puts a recorder here. Returns the previous one.
using ErrorReporter = void (*)(HWND owner, const std::wstring& text);
ErrorReporter SetErrorReporter(ErrorReporter reporter);
#endif

}  // namespace imagepreview
