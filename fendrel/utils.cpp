// The portable half of Utils: splitting, byte tests and the conversions that
// are compositions of the platform ones.
#include "utils.h"

#include "file.h"

namespace {

template <typename String>
void SplitAny(const String& text, std::vector<String>& out, const String& delimiters) {
    typename String::size_type start = text.find_first_not_of(delimiters);
    while (start != String::npos) {
        const auto end = text.find_first_of(delimiters, start);
        out.push_back(text.substr(start, end == String::npos ? String::npos : end - start));
        start = end == String::npos ? String::npos : text.find_first_not_of(delimiters, end);
    }
}

}  // namespace

void Utils::Split(const std::wstring& text, std::vector<std::wstring>& out, const std::wstring& delimiters) {
    SplitAny(text, out, delimiters);
}

void Utils::Split(const std::string& text, std::vector<std::string>& out, const std::string& delimiters) {
    SplitAny(text, out, delimiters);
}

bool Utils::hasChineseCharacters(const std::string& text) {
    // Any non-ASCII byte counts: callers only need "is this plain ASCII".
    for (char c : text) {
        if (static_cast<unsigned char>(c) & 0x80) {
            return true;
        }
    }
    return false;
}

std::string Utils::utf16ToUtf8(const wchar_t* text) {
    return text == nullptr ? std::string() : utf16ToUtf8(std::wstring(text));
}

std::string Utils::ansiToUtf8(const std::string& text) {
    return utf16ToUtf8(AnsiToUtf16(text));
}

std::string Utils::utf8ToAnsi(const std::string& text) {
    return Utf16ToAnsi(utf8ToUtf16(text));
}

int Utils::CreateDeepDirectory(const std::wstring& path) {
    return File::CreateDeepDirectory(path) ? 1 : 0;
}
