// A registry held in memory, read from the text the Registry Editor exports
// (.reg). Linux keeps its registry in such a file (registry.h); the parser is
// portable so that its tests run on both systems.
//
//   Windows Registry Editor Version 5.00        (or REGEDIT4)
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\App]
//   @="default value"
//   "InstallDir"="C:\\Program Files\\App"       \\ is "\", \" is a quote
//   "Data"=hex(2):25,00,41,00,00,00              REG_EXPAND_SZ in UTF-16LE bytes
//   "Count"=dword:0000000a                       a number, not text
//   "Blob"=hex:01,02,\                           a trailing "\" continues the line
//     03
//   "Gone"=-                                     removes a value read before
//   [-HKEY_CURRENT_USER\Software\Old]            removes a key and its subkeys read before
//
// Encodings: UTF-16LE (with or without the byte-order mark, as the Registry
// Editor writes it) or UTF-8 (with or without the mark); bytes that are no
// UTF-8 read as Latin-1, as old REGEDIT4 files in an ANSI code page mostly
// are. Lines starting with ";" are comments. Root names may be abbreviated
// (HKLM, HKCU, HKCR, HKU, HKCC). Key and value names are case-insensitive.
#pragma once

#include "platform.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct RegValue {
    std::uint32_t type = 0;           // REG_SZ 1, REG_EXPAND_SZ 2, REG_BINARY 3, REG_DWORD 4, ...
    std::wstring text;                // REG_SZ and REG_EXPAND_SZ, up to the first NUL
    std::vector<std::uint8_t> bytes;  // every other type, as stored (a DWORD little-endian)
};

class FENDREL_API RegStore {
public:
    RegStore();
    ~RegStore();
    RegStore(RegStore&&) noexcept;
    RegStore& operator=(RegStore&&) noexcept;
    RegStore(const RegStore&) = delete;
    RegStore& operator=(const RegStore&) = delete;

    // Replaces the content with a .reg document. True when every line was
    // read. False when the text is no registry export (nothing is kept) or
    // when lines were broken: those lines are left out (a broken key line
    // leaves out the values under it) and the rest is kept. Each problem
    // goes to *problems as "line N: why".
    bool Parse(const std::string& bytes, std::vector<std::string>* problems = nullptr);

    // A value by full key path ("HKEY_LOCAL_MACHINE\\SOFTWARE\\App", root
    // spelled out or abbreviated) and name (L"" for the default value); null
    // when missing. The pointer lives as long as the store is unchanged.
    const RegValue* Find(const std::wstring& keyPath, const std::wstring& valueName) const;
    bool HasKey(const std::wstring& keyPath) const;
    std::size_t KeyCount() const;

    // "HKEY_LOCAL_MACHINE" for "HKLM" or any case of the full name; empty for
    // an unknown root.
    static std::wstring RootName(const std::wstring& name);

private:
    struct Data;
    std::unique_ptr<Data> m_data;
};
