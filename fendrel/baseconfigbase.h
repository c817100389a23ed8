// Base of every configuration object: one INI document, the file it lives in
// and the [product] / [other] fields every configuration shares. Derived
// classes keep their own sections in the same document; keys nobody reads are
// kept and written back in their place. Not thread-safe (UI thread only).
//
// The file: a UTF-8 byte-order mark means UTF-8, otherwise the ANSI code page
// (UTF-8 on Linux); written back in the same encoding without a mark, with
// "\r\n" line ends and "key = value" entries. An empty file switches the
// document to UTF-8; with no file at all it stays in the ANSI code page, so
// the file Save creates reads back unchanged on the next start.
//   [other]
//   singleApp = 1            integers in decimal; only 1 reads as true
//   [product]
//   hRootKey = 0x80000002    upper-case hexadecimal; the null handle is 0x0
#pragma once

#include "platform.h"

#include <cstdint>
#include <memory>
#include <string>

class IniDocument;

class FENDREL_API BaseConfigBase {
public:
    static const wchar_t* const s_secProduct;
    static const wchar_t* const s_secOther;
    static const wchar_t* const s_keySingleApp;
    static const wchar_t* const s_keyHRootKey;
    static const wchar_t* const s_keySubkey;
    static const wchar_t* const s_keyProductName;
    static const wchar_t* const s_keyChannel;
    static const wchar_t* const s_keyLangId;
    static const wchar_t* const s_keyI18n;
    static const wchar_t* const s_keyFriendlyProductName;
    // The one registered configuration object of the process.
    static BaseConfigBase* s_instance;

    explicit BaseConfigBase(BaseConfigBase* self);
    BaseConfigBase(const BaseConfigBase&) = delete;
    BaseConfigBase& operator=(const BaseConfigBase&) = delete;
    virtual ~BaseConfigBase();

    // 0 when nothing exists at infPath (nothing changes). Otherwise the
    // document is replaced by the file's content (empty when unreadable),
    // the fields are read from it and the result is 1.
    virtual int Init();
    // Writes the whole document to infPath; an unwritable place writes nothing.
    virtual void Save();
    // infPath := program folder + separator + "config.inf".
    virtual void DefaultSet();

    // "PackageName" under SOFTWARE\<subkey> of hRootKey (32-bit view); "empty" on any failure.
    std::wstring ReadPackageName() const;

    int GetSingleApp() const { return m_singleApp; }
    void SetSingleApp(int value) { m_singleApp = value; }
    HKEY GetHRootKey() const { return m_hRootKey; }
    void SetHRootKey(HKEY value) { m_hRootKey = value; }
    const std::wstring& GetExeNameSubKey() const { return m_subkey; }
    void SetExeNameSubKey(const std::wstring& value) { m_subkey = value; }
    const std::wstring& GetProductName() const { return m_productName; }
    void SetProductName(const std::wstring& value) { m_productName = value; }
    const std::wstring& GetChannel() const { return m_channel; }
    void SetChannel(const std::wstring& value) { m_channel = value; }
    std::uint16_t GetLangId() const { return m_langId; }
    void SetLangId(std::uint16_t value) { m_langId = value; }
    int GetI18n() const { return m_i18n; }
    void SetI18n(int value) { m_i18n = value; }
    const std::wstring& GetInfPath() const { return m_infPath; }
    void SetInfPath(const std::wstring& value) { m_infPath = value; }
    const std::wstring& GetFriendlyName() const { return m_friendlyName; }
    void SetFriendlyName(const std::wstring& value) { m_friendlyName = value; }

protected:
    void writeBaseFields();

    // Document access for derived classes' own sections.
    std::wstring GetString(const wchar_t* section, const wchar_t* key, const std::wstring& def = L"") const;
    bool HasKey(const wchar_t* section, const wchar_t* key) const;
    // Decimal, or hexadecimal after "0x"; leading space and a sign are fine,
    // anything after the number, an empty value or a missing key gives def.
    long GetInt(const wchar_t* section, const wchar_t* key, long def = 0) const;
    void SetString(const wchar_t* section, const wchar_t* key, const std::wstring& value);
    void SetInt(const wchar_t* section, const wchar_t* key, long value);  // decimal

private:
    int m_singleApp = 0;
    HKEY m_hRootKey = nullptr;
    std::wstring m_subkey;
    std::wstring m_productName;
    std::wstring m_channel;
    std::uint16_t m_langId = 0;
    int m_i18n = 0;
    std::wstring m_infPath;
    std::wstring m_friendlyName;
    std::unique_ptr<IniDocument> m_doc;
};
