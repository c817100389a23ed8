// Reading Registry Editor export text into memory. Portable on purpose: the
// same parser and its tests run on Linux and under Wine.
#include "regstore.h"

#include "utf8.h"

#include "utils.h"

#include <cstddef>
#include <unordered_map>
#include <utility>

namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

constexpr char32_t kReplacement = 0xFFFD;

void AppendCodePoint(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

// Pairs of bytes, low byte first; an odd last byte is dropped and a lone
// surrogate becomes U+FFFD.
std::wstring DecodeUtf16Le(const std::uint8_t* data, std::size_t size) {
    std::wstring out;
    out.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        char32_t c = data[i] | (data[i + 1] << 8);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < size) {
            const char32_t low = data[i + 2] | (data[i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendCodePoint(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendCodePoint(out, c >= 0xD800 && c <= 0xDFFF ? kReplacement : c);
    }
    return out;
}

// UTF-8; a byte that starts no valid sequence is taken as Latin-1, which is
// what an old export in a Western ANSI code page mostly is.
std::wstring DecodeUtf8OrLatin1(const std::uint8_t* data, std::size_t size) {
    std::wstring out;
    out.reserve(size);
    std::size_t i = 0;
    while (i < size) {
        char32_t c;
        std::size_t length;
        const bool valid = fendrel::DecodeUtf8At(data, size, i, c, length);
        if (!valid) {
            AppendCodePoint(out, data[i]);
            ++i;
            continue;
        }
        AppendCodePoint(out, c);
        i += length;
    }
    return out;
}

std::wstring CutAtNul(std::wstring text) {
    const auto nul = text.find(L'\0');
    if (nul != std::wstring::npos)
        text.resize(nul);
    return text;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring Trim(const std::wstring& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// 1 to 8 hexadecimal digits and nothing else.
bool ParseHex32(const std::wstring& text, std::uint32_t& value) {
    if (text.empty() || text.size() > 8)
        return false;
    value = 0;
    for (wchar_t c : text) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return true;
}

bool EqualsAsciiNoCase(const std::wstring& text, const char* ascii) {
    std::size_t i = 0;
    for (; ascii[i] != '\0'; ++i) {
        if (i >= text.size())
            return false;
        wchar_t c = text[i];
        wchar_t a = static_cast<wchar_t>(ascii[i]);
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
        if (a >= L'a' && a <= L'z')
            a = static_cast<wchar_t>(a - L'a' + L'A');
        if (c != a)
            return false;
    }
    return i == text.size();
}

// The canonical, case-folded form of a key path; empty when its root is
// unknown. Trailing separators do not count.
std::wstring FoldedKey(const std::wstring& path) {
    const auto slash = path.find(L'\\');
    const std::wstring root = RegStore::RootName(slash == std::wstring::npos ? path : path.substr(0, slash));
    if (root.empty())
        return {};
    std::wstring rest = slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1);
    while (!rest.empty() && rest.back() == L'\\')
        rest.pop_back();
    return Utils::toLower(rest.empty() ? root : root + L'\\' + rest);
}

// A document cut into lines: "\r\n", "\n" and a lone "\r" all end one.
std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == L'\n' || text[i] == L'\r') {
            lines.push_back(text.substr(start, i - start));
            if (i + 1 < text.size() && text[i] == L'\r' && text[i + 1] == L'\n')
                ++i;
            start = i + 1;
        }
    }
    return lines;
}

std::wstring DecodeDocument(const std::string& bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE)
        return DecodeUtf16Le(data + 2, size - 2);
    // The Registry Editor always writes the mark; a file that lost it still
    // shows its first ASCII letter followed by a zero byte.
    if (size >= 2 && data[0] != 0 && data[0] < 0x80 && data[1] == 0)
        return DecodeUtf16Le(data, size);
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        return DecodeUtf8OrLatin1(data + 3, size - 3);
    return DecodeUtf8OrLatin1(data, size);
}

struct Key {
    std::unordered_map<std::wstring, RegValue> values;  // by folded name
};

}  // namespace

struct RegStore::Data {
    std::unordered_map<std::wstring, Key> keys;  // by folded full path
};

namespace {

// One pass over the lines of a document.
class Parser {
public:
    Parser(std::vector<std::wstring> lines, std::unordered_map<std::wstring, Key>& keys,
           std::vector<std::string>* problems)
        : m_lines(std::move(lines)), m_keys(keys), m_problems(problems) {}

    // False when the text does not start with a known header.
    bool Run(bool& clean) {
        std::size_t i = 0;
        while (i < m_lines.size() && Trim(m_lines[i]).empty())
            ++i;
        if (i == m_lines.size())
            return Fail(0, "empty document, no registry export header");
        const std::wstring header = Trim(m_lines[i]);
        if (header == L"Windows Registry Editor Version 5.00") {
            m_unicode = true;
        } else if (header == L"REGEDIT4") {
            m_unicode = false;
        } else {
            return Fail(i, "no registry export header (\"Windows Registry Editor Version 5.00\" or \"REGEDIT4\")");
        }
        for (m_line = i + 1; m_line < m_lines.size(); ++m_line)
            ParseLine(Trim(m_lines[m_line]));
        clean = m_clean;
        return true;
    }

private:
    bool Fail(std::size_t line, const char* why) {
        m_clean = false;
        if (m_problems != nullptr)
            m_problems->push_back("line " + std::to_string(line + 1) + ": " + why);
        return false;
    }

    void ParseLine(const std::wstring& line) {
        if (line.empty() || line[0] == L';')
            return;
        if (line[0] == L'[') {
            ParseKeyLine(line);
            return;
        }
        if (line[0] == L'"' || line[0] == L'@') {
            ParseValueLine(line);
            return;
        }
        Fail(m_line, "neither a key, a value nor a comment");
    }

    void ParseKeyLine(const std::wstring& line) {
        m_current = nullptr;
        m_skipping = true;  // until the line proves good, its values go nowhere
        if (line.back() != L']') {
            Fail(m_line, "a key line must end with \"]\"");
            return;
        }
        std::wstring path = line.substr(1, line.size() - 2);
        const bool remove = !path.empty() && path[0] == L'-';
        if (remove)
            path.erase(0, 1);
        while (!path.empty() && path.back() == L'\\')
            path.pop_back();
        if (path.find(L"\\\\") != std::wstring::npos) {
            Fail(m_line, "empty key name in the path");
            return;
        }
        const std::wstring folded = FoldedKey(path);
        if (folded.empty()) {
            Fail(m_line, "unknown root key");
            return;
        }
        if (remove) {
            // The key and everything under it; values that follow are ignored.
            const std::wstring prefix = folded + L'\\';
            for (auto it = m_keys.begin(); it != m_keys.end();) {
                if (it->first == folded || it->first.compare(0, prefix.size(), prefix) == 0)
                    it = m_keys.erase(it);
                else
                    ++it;
            }
            return;
        }
        m_current = &m_keys[folded];
        m_skipping = false;
    }

    // "text" with \\ and \" escapes starting at line[pos]; pos ends after
    // the closing quote. Any other backslash is kept as it is.
    static bool ParseQuoted(const std::wstring& line, std::size_t& pos, std::wstring& out) {
        ++pos;  // the opening quote
        while (pos < line.size()) {
            const wchar_t c = line[pos];
            if (c == L'\\' && pos + 1 < line.size() && (line[pos + 1] == L'\\' || line[pos + 1] == L'"')) {
                out += line[pos + 1];
                pos += 2;
            } else if (c == L'"') {
                ++pos;
                return true;
            } else {
                out += c;
                ++pos;
            }
        }
        return false;
    }

    void ParseValueLine(const std::wstring& line) {
        std::size_t pos = 0;
        std::wstring name;
        if (line[0] == L'@') {
            pos = 1;
        } else if (!ParseQuoted(line, pos, name)) {
            Fail(m_line, "value name without its closing quote");
            return;
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != L'=') {
            Fail(m_line, "\"=\" expected after the value name");
            return;
        }
        const std::wstring data = Trim(line.substr(pos + 1));
        // Hexadecimal data may go on over the next lines; consume them even
        // when the value is dropped, so they are not read as lines of their own.
        RegValue value;
        const bool parsed = ParseData(data, value);
        if (m_skipping)
            return;
        if (m_current == nullptr) {
            Fail(m_line, "a value needs a key line before it");
            return;
        }
        if (!parsed)
            return;
        const std::wstring folded = Utils::toLower(name);
        if (m_delete)
            m_current->values.erase(folded);
        else
            m_current->values[folded] = std::move(value);
    }

    bool ParseData(const std::wstring& data, RegValue& value) {
        m_delete = false;
        if (data == L"-") {
            m_delete = true;
            return true;
        }
        if (!data.empty() && data[0] == L'"') {
            std::size_t pos = 0;
            if (!ParseQuoted(data, pos, value.text))
                return Fail(m_line, "text value without its closing quote");
            if (pos != data.size())
                return Fail(m_line, "characters after the closing quote of a text value");
            value.type = kRegSz;
            value.text = CutAtNul(std::move(value.text));
            return true;
        }
        const auto colon = data.find(L':');
        if (colon == std::wstring::npos)
            return Fail(m_line, "unknown kind of value");
        const std::wstring kind = Trim(data.substr(0, colon));
        const std::wstring rest = data.substr(colon + 1);
        if (EqualsAsciiNoCase(kind, "dword")) {
            std::uint32_t number = 0;
            if (!ParseHex32(Trim(rest), number))
                return Fail(m_line, "dword needs 1 to 8 hexadecimal digits");
            value.type = kRegDword;
            value.bytes = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                           static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
            return true;
        }
        std::uint32_t type = kRegBinary;
        if (EqualsAsciiNoCase(kind, "hex")) {
            type = kRegBinary;
        } else if (kind.size() > 5 && EqualsAsciiNoCase(kind.substr(0, 4), "hex(") && kind.back() == L')') {
            if (!ParseHex32(kind.substr(4, kind.size() - 5), type)) {
                SkipContinuation(rest);
                return Fail(m_line, "hex(type) needs a hexadecimal type number");
            }
        } else {
            return Fail(m_line, "unknown kind of value");
        }
        std::vector<std::uint8_t> bytes;
        if (!ParseHexBytes(rest, bytes))
            return false;
        value.type = type;
        if (type == kRegSz || type == kRegExpandSz) {
            // Version 5 stores text as UTF-16LE bytes, REGEDIT4 in the ANSI code page.
            value.text = CutAtNul(m_unicode ? DecodeUtf16Le(bytes.data(), bytes.size())
                                            : DecodeUtf8OrLatin1(bytes.data(), bytes.size()));
        } else {
            value.bytes = std::move(bytes);
        }
        return true;
    }

    // The text after "hex:" with its continuation lines joined.
    bool JoinContinuation(std::wstring text, std::wstring& joined) {
        joined.clear();
        for (;;) {
            text = Trim(text);
            if (text.empty() || text.back() != L'\\') {
                joined += text;
                return true;
            }
            text.pop_back();
            joined += text;
            if (m_line + 1 >= m_lines.size())
                return Fail(m_line, "the last line ends with a continuation \"\\\"");
            text = m_lines[++m_line];
        }
    }

    void SkipContinuation(const std::wstring& text) {
        std::wstring ignored;
        JoinContinuation(text, ignored);
    }

    bool ParseHexBytes(const std::wstring& text, std::vector<std::uint8_t>& bytes) {
        std::wstring joined;
        if (!JoinContinuation(text, joined))
            return false;
        if (joined.empty())
            return true;
        std::size_t start = 0;
        for (;;) {
            const auto comma = joined.find(L',', start);
            const std::wstring item = Trim(joined.substr(start, comma == std::wstring::npos ? comma : comma - start));
            std::uint32_t byte = 0;
            if (item.size() > 2 || !ParseHex32(item, byte))
                return Fail(m_line, "hexadecimal bytes must be two-digit numbers separated by commas");
            bytes.push_back(static_cast<std::uint8_t>(byte));
            if (comma == std::wstring::npos)
                return true;
            start = comma + 1;
        }
    }

    std::vector<std::wstring> m_lines;
    std::unordered_map<std::wstring, Key>& m_keys;
    std::vector<std::string>* m_problems;
    std::size_t m_line = 0;
    bool m_unicode = true;
    bool m_clean = true;
    Key* m_current = nullptr;
    bool m_skipping = false;  // after a broken or deleting key line
    bool m_delete = false;    // the value line just parsed was "name"=-
};

}  // namespace

RegStore::RegStore() : m_data(std::make_unique<Data>()) {}
RegStore::~RegStore() = default;
RegStore::RegStore(RegStore&&) noexcept = default;
RegStore& RegStore::operator=(RegStore&&) noexcept = default;

bool RegStore::Parse(const std::string& bytes, std::vector<std::string>* problems) {
    auto fresh = std::make_unique<Data>();
    Parser parser(SplitLines(DecodeDocument(bytes)), fresh->keys, problems);
    bool clean = false;
    if (!parser.Run(clean)) {
        m_data = std::make_unique<Data>();
        return false;
    }
    m_data = std::move(fresh);
    return clean;
}

const RegValue* RegStore::Find(const std::wstring& keyPath, const std::wstring& valueName) const {
    if (!m_data)
        return nullptr;
    const std::wstring folded = FoldedKey(keyPath);
    if (folded.empty())
        return nullptr;
    const auto key = m_data->keys.find(folded);
    if (key == m_data->keys.end())
        return nullptr;
    const auto value = key->second.values.find(Utils::toLower(valueName));
    return value == key->second.values.end() ? nullptr : &value->second;
}

bool RegStore::HasKey(const std::wstring& keyPath) const {
    const std::wstring folded = FoldedKey(keyPath);
    return m_data && !folded.empty() && m_data->keys.count(folded) != 0;
}

std::size_t RegStore::KeyCount() const {
    return m_data ? m_data->keys.size() : 0;
}

std::wstring RegStore::RootName(const std::wstring& name) {
    static const struct {
        const char* full;
        const char* abbreviation;
    } kRoots[] = {
        {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_CURRENT_USER", "HKCU"},   {"HKEY_CLASSES_ROOT", "HKCR"},
        {"HKEY_USERS", "HKU"},          {"HKEY_CURRENT_CONFIG", "HKCC"},
    };
    for (const auto& root : kRoots) {
        if (EqualsAsciiNoCase(name, root.full) || EqualsAsciiNoCase(name, root.abbreviation)) {
            const std::string full = root.full;
            return std::wstring(full.begin(), full.end());
        }
    }
    return {};
}
