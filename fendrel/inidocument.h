// Internal to Fendrel: an INI document of wide strings on SimpleIni, and the
// one place that includes SimpleIni. Section and key names are
// case-insensitive, a key holds one single-line value, entries are written as
// "key = value". Order is kept: loaded entries stay where they were, new keys
// go to the end of their section, new sections to the end of the document.
//
// Encodings: loaded bytes that start with the UTF-8 byte-order mark are UTF-8
// (the mark is skipped), other bytes are in the ANSI code page (which is
// UTF-8 on Linux); the document is then written in the same encoding. Bytes
// that are no valid text in it become U+FFFD rather than failing the load.
#pragma once

#include "platform.h"

#include <cstddef>
#include <optional>
#include <string>

#if defined(FENDREL_WINDOWS)
// Windows: header-only, converting with the Win32 code-page functions.
#  undef SI_CONVERT_GENERIC
#  undef SI_CONVERT_ICU
#  ifndef SI_CONVERT_WIN32
#    define SI_CONVERT_WIN32
#  endif
#  define SI_IMPLEMENTATION
#else
// Linux: Debian's libsimpleini is built with ICU and holds the UTF-16
// (char16_t) instantiations; the "generic" converter needs a ConvertUTF.h the
// package does not ship. Match the library's build.
#  undef SI_CONVERT_GENERIC
#  ifndef SI_CONVERT_ICU
#    define SI_CONVERT_ICU
#  endif
#endif
#include <SimpleIni.h>

class IniDocument {
public:
    IniDocument() : m_ini(false /* ANSI until told otherwise */, false /* multi-key */, false /* multi-line */) {
        m_ini.SetSpaces(true);
        UseAnsi();
    }

    // Replaces the content with the given file bytes and takes their
    // encoding: UTF-8 after a byte-order mark, else ANSI. false when nothing
    // was loaded (no bytes, or they could not be parsed).
    bool Load(const char* data, std::size_t size) {
        m_ini.Reset();
        UseAnsi();
        if (size >= 3 && data[0] == '\xEF' && data[1] == '\xBB' && data[2] == '\xBF') {
            m_ini.SetUnicode(true);
            data += 3;
            size -= 3;
        }
        if (size == 0)
            return false;
        return m_ini.LoadData(data, size) >= 0;
    }

    void Clear() { m_ini.Reset(); }

    bool IsUtf8() const { return m_ini.IsUnicode(); }
    void UseUtf8() { m_ini.SetUnicode(true); }
    // The ANSI code page on Windows; on Linux narrow text is UTF-8.
    void UseAnsi() { m_ini.SetUnicode(!kAnsiIsCodePage); }

    bool Has(const wchar_t* section, const wchar_t* key) const { return Get(section, key).has_value(); }

    std::optional<std::wstring> Get(const wchar_t* section, const wchar_t* key) const {
        if (section == nullptr || key == nullptr)
            return std::nullopt;
        const SiChar* value = m_ini.GetValue(ToSi(section).c_str(), ToSi(key).c_str(), nullptr);
        if (value == nullptr)
            return std::nullopt;
        return FromSi(value);
    }

    // Replaces the value in place, or appends the key (and its section).
    bool Set(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
        if (section == nullptr || key == nullptr)
            return false;
        return m_ini.SetValue(ToSi(section).c_str(), ToSi(key).c_str(), ToSi(value.c_str()).c_str()) >= 0;
    }

    // The whole document as file bytes in its encoding: no byte-order mark,
    // "\r\n" line ends. false when it could not be encoded.
    bool Serialize(std::string& out) const {
        std::string text;
        if (m_ini.Save(text, false) < 0)
            return false;
        out.clear();
        out.reserve(text.size() + text.size() / 16);
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
                out += '\r';
            out += text[i];
        }
        return true;
    }

private:
#if defined(FENDREL_WINDOWS)
    using SiChar = wchar_t;
    using Ini = CSimpleIniW;
    static constexpr bool kAnsiIsCodePage = true;
#else
    using SiChar = UChar;
    using Ini = CSimpleIniTempl<UChar, SI_NoCase<UChar>, SI_ConvertW<UChar>>;
    static constexpr bool kAnsiIsCodePage = false;
#endif
    using SiString = std::basic_string<SiChar>;

#if defined(FENDREL_WINDOWS)
    static SiString ToSi(const wchar_t* text) { return SiString(text); }
    static std::wstring FromSi(const SiChar* text) { return std::wstring(text); }
#else
    // wchar_t is UTF-32 on Linux, SimpleIni's strings are UTF-16 here.
    // Invalid code points and lone surrogates become U+FFFD.
    static SiString ToSi(const wchar_t* text) {
        SiString out;
        for (; *text != 0; ++text) {
            auto c = static_cast<char32_t>(*text);
            if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
                c = 0xFFFD;
            if (c >= 0x10000) {
                c -= 0x10000;
                out += static_cast<SiChar>(0xD800 + (c >> 10));
                out += static_cast<SiChar>(0xDC00 + (c & 0x3FF));
            } else {
                out += static_cast<SiChar>(c);
            }
        }
        return out;
    }

    static std::wstring FromSi(const SiChar* text) {
        std::wstring out;
        for (; *text != 0; ++text) {
            char32_t c = *text;
            if (c >= 0xD800 && c <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[1]) - 0xDC00);
                ++text;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD;
            }
            out += static_cast<wchar_t>(c);
        }
        return out;
    }
#endif

    Ini m_ini;
};
