// The portable half of File: path arithmetic, the member forms and the
// UTF-16LE text-file format. Everything that touches the disk or the shell is
// in posix/file_posix.cpp or win32/file_win32.cpp.
#include "file.h"

#include "utils.h"

#include <stdexcept>
#include <utility>

namespace {

// Position of the last "\" or "/", whichever comes later.
std::wstring::size_type LastSeparator(const std::wstring& path) {
    return path.find_last_of(L"\\/");
}

// Text files are UTF-16LE on disk on both systems, so a file written on one
// reads the same on the other. On Linux a wide character is a UTF-32 code
// point and is split into surrogates here.
void AppendUnit(std::string& out, std::uint32_t unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

std::string EncodeUtf16Le(const std::wstring& text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (wchar_t wc : text) {
        auto cp = static_cast<std::uint32_t>(wc);
        if constexpr (sizeof(wchar_t) == 2) {
            AppendUnit(out, cp);  // already UTF-16, lone surrogates included
        } else if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            AppendUnit(out, 0xD800 + (cp >> 10));
            AppendUnit(out, 0xDC00 + (cp & 0x3FF));
        } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            AppendUnit(out, 0xFFFD);
        } else {
            AppendUnit(out, cp);
        }
    }
    return out;
}

// Decodes up to the first NUL unit; a trailing odd byte is ignored.
std::wstring DecodeUtf16Le(const std::vector<std::uint8_t>& bytes) {
    std::wstring out;
    const std::size_t units = bytes.size() / 2;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t unit = bytes[2 * i] | (bytes[2 * i + 1] << 8);
        if (unit == 0) {
            break;
        }
        if constexpr (sizeof(wchar_t) == 2) {
            out.push_back(static_cast<wchar_t>(unit));
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            std::uint32_t low = bytes[2 * i + 2] | (bytes[2 * i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
                ++i;
            } else {
                out.push_back(L'\xFFFD');
            }
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            out.push_back(L'\xFFFD');
        } else {
            out.push_back(static_cast<wchar_t>(unit));
        }
    }
    return out;
}

}  // namespace

File::File() = default;
File::File(const std::wstring& path) : m_path(path) {}
File::File(const File& other) = default;
File::File(File&& other) noexcept : m_path(std::move(other.m_path)) {}
File& File::operator=(const File& other) {
    m_path = other.m_path;
    return *this;
}
File::~File() = default;

std::wstring File::FileTypeToString(FileType type) {
    static const wchar_t* const kTexts[] = {
        L"pdf", L"doc",  L"docx", L"rtf", L"xls", L"xlsx", L"ppt",  L"pptx", L"txt", L"png", L"jpg",
        L"bmp", L"ico",  L"gif",  L"exif", L"tiff", L"wmf", L"emf", L"",     L"html", L"webp"};
    const auto index = static_cast<std::size_t>(type);
    if (index >= sizeof(kTexts) / sizeof(kTexts[0])) {
        throw std::out_of_range("FileType value out of range");
    }
    return kTexts[index];
}

std::wstring File::Directory(const std::wstring& path) {
    const std::wstring& source = path.empty() ? FullPath() : path;
    const auto pos = source.rfind(fendrel::kPathSep);
    return pos == std::wstring::npos ? std::wstring() : source.substr(0, pos);
}

std::wstring File::Name(const std::wstring& path) {
    const auto pos = LastSeparator(path);
    return pos == std::wstring::npos ? path : path.substr(pos + 1);
}

std::wstring File::Name(const std::wstring& path, wchar_t separator) {
    const auto pos = path.rfind(separator);
    return pos == std::wstring::npos ? path : path.substr(pos + 1);
}

std::wstring File::Basename(const std::wstring& path) {
    std::wstring name = Name(path);
    const auto dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring File::Extension(const std::wstring& path) {
    const auto dot = path.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : Utils::toLower(path.substr(dot + 1));
}

std::wstring File::GenerateUniquePath(std::wstring& path, bool isFile) {
    // The folder part keeps whichever separator the caller wrote, and the
    // extension is taken from the name only: a dot in a folder name (a.b\file)
    // must not be glued onto the new name. A name without an extension gets no
    // trailing "." either.
    const auto sep = LastSeparator(path);
    const std::wstring folder = sep == std::wstring::npos ? std::wstring() : path.substr(0, sep + 1);
    const std::wstring base = Basename(path);
    const std::wstring name = Name(path);
    const auto dot = name.rfind(L'.');
    const std::wstring extension = dot == std::wstring::npos ? std::wstring() : Utils::toLower(name.substr(dot + 1));

    for (unsigned long n = 1; Exist(path); ++n) {
        path = folder + base + L"_" + std::to_wstring(n);
        if (isFile && !extension.empty()) {
            path += L"." + extension;
        }
    }
    return path;
}

std::int32_t File::BytesSize(const std::wstring& path) {
    // A 32-bit result cannot hold 2 GiB or more; -1 says so instead of a
    // truncated, plausible-looking size.
    const std::int64_t size = BytesSize64(path);
    return size < 0 || size > INT32_MAX ? -1 : static_cast<std::int32_t>(size);
}

std::wstring File::ReadTextFile(const std::wstring& path) {
    return DecodeUtf16Le(readFile(path));
}

bool File::WriteTextToFile(const std::wstring& path, const std::wstring& text) {
    return WriteBytes(path, EncodeUtf16Le(text));
}

const std::wstring& File::Path() const { return m_path; }
void File::Path(const std::wstring& newPath) { m_path = newPath; }

void File::Rename(const std::wstring& newName) {
    // Only the platform separator splits, as in Directory; a bare name is
    // replaced as a whole rather than resolved against the program folder.
    const auto pos = m_path.rfind(fendrel::kPathSep);
    m_path = pos == std::wstring::npos ? newName : m_path.substr(0, pos + 1) + newName;
}

std::wstring File::Name() const { return Name(m_path); }
std::wstring File::Basename() const { return Basename(m_path); }
std::wstring File::Extension() const { return Extension(m_path); }
bool File::Exist() const { return Exist(m_path); }
std::int32_t File::BytesSize() const { return BytesSize(m_path); }
std::int64_t File::BytesSize64() const { return BytesSize64(m_path); }
