// Read access to the registry. Key paths use "\" on every platform.
// Windows reads the system registry. Linux reads a registry store: a file in
// the Registry Editor export format (regstore.h), named by the configuration
// through SetStore; until then the file "registry.reg" beside the program is
// used when there is one. Reads are safe from several threads at once.
//
//   ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\App", L"PackageName", RegistryView::Bit32, out)
//     => true, out = L"app.pkg"      when the value exists and is text
//     => false, out untouched        when the key or value is missing or not text
#pragma once

#include "platform.h"

#include <string>

// Which view of the registry a 64-bit Windows shows: the native one
// (Default), or explicitly the 32-bit or the 64-bit one. In the 32-bit view
// HKEY_LOCAL_MACHINE\SOFTWARE\X is HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\X;
// the Linux store follows the same rule, and reads Default as Bit64.
enum class RegistryView { Default, Bit32, Bit64 };

class FENDREL_API Registry {
public:
    // A REG_SZ or REG_EXPAND_SZ value (not expanded), up to its first NUL, of
    // any length. Key and value names are case-insensitive; L"" names the
    // key's default value.
    static bool ReadString(HKEY root, const std::wstring& subkey, const std::wstring& valueName, RegistryView view,
                           std::wstring& value);

    // Linux: replaces the store with the .reg file at path (L"" empties it).
    // False, with log lines, when the file is missing or unreadable (the
    // store is then empty) or has broken lines (the rest of it is kept).
    // Windows: nothing to do; true.
    static bool SetStore(const std::wstring& path);
};
