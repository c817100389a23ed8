#include "baseconfigbase.h"

#include "file.h"
#include "inidocument.h"
#include "logger.h"
#include "registry.h"
#include "utils.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

const wchar_t* const BaseConfigBase::s_secProduct = L"product";
const wchar_t* const BaseConfigBase::s_secOther = L"other";
const wchar_t* const BaseConfigBase::s_keySingleApp = L"singleApp";
const wchar_t* const BaseConfigBase::s_keyHRootKey = L"hRootKey";
const wchar_t* const BaseConfigBase::s_keySubkey = L"subkey";
const wchar_t* const BaseConfigBase::s_keyProductName = L"productName";
const wchar_t* const BaseConfigBase::s_keyChannel = L"channel";
const wchar_t* const BaseConfigBase::s_keyLangId = L"langid";
const wchar_t* const BaseConfigBase::s_keyI18n = L"i18n";
const wchar_t* const BaseConfigBase::s_keyFriendlyProductName = L"friendlyProductName";
BaseConfigBase* BaseConfigBase::s_instance = nullptr;

namespace {

// Larger files are not configuration files; they are not read at all.
constexpr std::size_t kMaxFileBytes = 1024u * 1024u * 1024u;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenFile(const std::wstring& path, const wchar_t* mode) {
#if defined(FENDREL_WINDOWS)
    return FilePtr(_wfopen(path.c_str(), mode));
#else
    return FilePtr(std::fopen(Utils::utf16ToUtf8(path).c_str(), Utils::utf16ToUtf8(mode).c_str()));
#endif
}

// The whole file, or false when it cannot be read completely or is too big.
bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    FilePtr file = OpenFile(path, L"rb");
    if (!file)
        return false;
    bytes.clear();
    char chunk[64 * 1024];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        if (bytes.size() + got > kMaxFileBytes)
            return false;
        bytes.append(chunk, got);
    }
    return std::ferror(file.get()) == 0;
}

// Numbers are ASCII. The wide parsers of msvcrt also take other scripts'
// digits (U+0661 reads as 1), so the text is narrowed first.
std::optional<std::string> Ascii(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == 0 || static_cast<std::uint32_t>(c) > 0x7F)
            return std::nullopt;
        out += static_cast<char>(c);
    }
    return out;
}

// Decimal, or hexadecimal after a leading "0x"/"0X". Leading white space and
// a sign are accepted; anything after the number makes the value unreadable.
std::optional<long> ParseLong(const std::wstring& wide) {
    auto text = Ascii(wide);
    if (!text)
        return std::nullopt;
    const char* start = text->c_str();
    int base = 10;
    if (start[0] == '0' && (start[1] == 'x' || start[1] == 'X')) {
        start += 2;
        base = 16;
    }
    char* end = nullptr;
    long value = std::strtol(start, &end, base);
    if (end == start || *end != '\0')
        return std::nullopt;
    return value;
}

// Windows defines its predefined roots as sign-extended 32-bit values
// (HKEY_LOCAL_MACHINE is 0xFFFFFFFF80000002 in a 64-bit process); platform.h
// defines them zero-extended on Linux. A handle read from the file must
// compare equal to the platform's own constant.
HKEY KeyFromValue(std::uint32_t value) {
#if defined(FENDREL_WINDOWS)
    return reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
#else
    return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(value));
#endif
}

// Base 16 with an optional "0x". Text that is no number, has anything after
// the number or does not fit 32 bits gives the null handle.
HKEY ParseRootKey(const std::wstring& wide) {
    auto text = Ascii(wide);
    if (!text)
        return nullptr;
    const char* start = text->c_str();
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(start, &end, 16);
    if (end == start || *end != '\0' || errno == ERANGE || value > 0xFFFFFFFFull)
        return nullptr;
    return KeyFromValue(static_cast<std::uint32_t>(value));
}

// "0x" and the low 32 bits in upper-case hexadecimal: 0x80000002, null => 0x0.
std::wstring FormatRootKey(HKEY key) {
    char text[16];
    auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(key));
    int length = std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return std::wstring(text, text + length);
}

int Flag(long value) { return value == 1 ? 1 : 0; }
int Bool(int value) { return value != 0 ? 1 : 0; }

}  // namespace

BaseConfigBase::BaseConfigBase(BaseConfigBase* self) : m_doc(std::make_unique<IniDocument>()) {
    s_instance = self;
}

BaseConfigBase::~BaseConfigBase() = default;

void BaseConfigBase::DefaultSet() {
    m_infPath = File::Directory(L"") + fendrel::kPathSep + L"config.inf";
}

int BaseConfigBase::Init() {
    if (m_infPath.empty() || !File::Exist(m_infPath))
        return 0;

    std::string bytes;
    bool readable = ReadWholeFile(m_infPath, bytes);
    bool loaded = readable && !bytes.empty() && m_doc->Load(bytes.data(), bytes.size());
    if (!loaded) {
        // The next Save writes the base fields only; say why the rest is gone.
        if (!readable)
            LOG_WARN_W(L"configuration %ls could not be read (unreadable or over 1 GiB); using defaults",
                       m_infPath.c_str());
        else if (!bytes.empty())
            LOG_WARN_W(L"configuration %ls could not be parsed; using defaults", m_infPath.c_str());
        m_doc->Clear();
        m_doc->UseUtf8();
    }

    m_singleApp = Flag(GetInt(s_secOther, s_keySingleApp));
    if (auto rootKey = m_doc->Get(s_secProduct, s_keyHRootKey))
        m_hRootKey = ParseRootKey(*rootKey);
    m_subkey = GetString(s_secProduct, s_keySubkey);
    m_productName = GetString(s_secProduct, s_keyProductName);
    m_channel = GetString(s_secProduct, s_keyChannel);
    m_langId = static_cast<std::uint16_t>(GetInt(s_secOther, s_keyLangId));
    m_i18n = Flag(GetInt(s_secOther, s_keyI18n));
    m_friendlyName = GetString(s_secProduct, s_keyFriendlyProductName);
    return 1;
}

void BaseConfigBase::writeBaseFields() {
    SetInt(s_secOther, s_keySingleApp, Bool(m_singleApp));
    SetString(s_secProduct, s_keyHRootKey, FormatRootKey(m_hRootKey));
    SetString(s_secProduct, s_keySubkey, m_subkey);
    SetString(s_secProduct, s_keyProductName, m_productName);
    SetString(s_secProduct, s_keyChannel, m_channel);
    SetInt(s_secOther, s_keyLangId, m_langId);
    SetInt(s_secOther, s_keyI18n, Bool(m_i18n));
    SetString(s_secProduct, s_keyFriendlyProductName, m_friendlyName);
}

void BaseConfigBase::Save() {
    writeBaseFields();
    std::string bytes;
    if (!m_doc->Serialize(bytes)) {
        LOG_WARN_W(L"configuration not saved: %ls could not be encoded", m_infPath.c_str());
        return;
    }
    FilePtr file = OpenFile(m_infPath, L"wb");
    if (!file) {
        LOG_WARN_W(L"configuration not saved: cannot open %ls for writing", m_infPath.c_str());
        return;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    written = std::fclose(file.release()) == 0 && written;
    if (!written)
        LOG_WARN_W(L"configuration %ls was not written completely", m_infPath.c_str());
}

std::wstring BaseConfigBase::ReadPackageName() const {
    try {
        std::wstring name;
        if (Registry::ReadString(m_hRootKey, L"SOFTWARE\\" + m_subkey, L"PackageName", RegistryView::Bit32, name) &&
            !name.empty())
            return name;
    } catch (...) {
    }
    return L"empty";
}

std::wstring BaseConfigBase::GetString(const wchar_t* section, const wchar_t* key, const std::wstring& def) const {
    auto value = m_doc->Get(section, key);
    return value ? *value : def;
}

bool BaseConfigBase::HasKey(const wchar_t* section, const wchar_t* key) const {
    return m_doc->Has(section, key);
}

long BaseConfigBase::GetInt(const wchar_t* section, const wchar_t* key, long def) const {
    auto value = m_doc->Get(section, key);
    if (!value)
        return def;
    return ParseLong(*value).value_or(def);
}

void BaseConfigBase::SetString(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
    m_doc->Set(section, key, value);
}

void BaseConfigBase::SetInt(const wchar_t* section, const wchar_t* key, long value) {
    m_doc->Set(section, key, std::to_wstring(value));
}
