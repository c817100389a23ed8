// Read access to the system registry. Key paths use "\" on every platform.
// Windows reads the registry itself; Linux has no registry store yet, so
// every read fails there (and says so once in the log).
//
//   ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\App", L"PackageName", RegistryView::Bit32, out)
//     => true, out = L"app.pkg"      when the value exists and is text
//     => false, out untouched        when the key or value is missing or not text
#pragma once

#include "platform.h"

#include <string>

// Which view of the registry a 64-bit Windows shows: the native one
// (Default), or explicitly the 32-bit or the 64-bit one.
enum class RegistryView { Default, Bit32, Bit64 };

class FENDREL_API Registry {
public:
    // A REG_SZ or REG_EXPAND_SZ value (not expanded), up to its first NUL.
    static bool ReadString(HKEY root, const std::wstring& subkey, const std::wstring& valueName, RegistryView view,
                           std::wstring& value);
};
