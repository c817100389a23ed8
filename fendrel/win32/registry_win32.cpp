// Registry reads through the Win32 registry functions, in the view asked for.
#include "../registry.h"

#include <vector>

namespace {

// Closes the key it was given when it goes.
class KeyHandle {
public:
    KeyHandle() = default;
    ~KeyHandle() {
        if (m_key != nullptr)
            RegCloseKey(m_key);
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    HKEY* Receive() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

REGSAM ViewFlag(RegistryView view) {
    switch (view) {
    case RegistryView::Bit32: return KEY_WOW64_32KEY;
    case RegistryView::Bit64: return KEY_WOW64_64KEY;
    default: return 0;
    }
}

}  // namespace

bool Registry::ReadString(HKEY root, const std::wstring& subkey, const std::wstring& valueName, RegistryView view,
                          std::wstring& value) {
    if (root == nullptr)
        return false;
    KeyHandle key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | ViewFlag(view), key.Receive()) != ERROR_SUCCESS)
        return false;

    // The value may grow between the size query and the read; retry a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD bytes = 0;
        LONG status = RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, nullptr, &bytes);
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return false;
        // One spare character: a stored string need not end with a NUL.
        std::vector<wchar_t> buffer((bytes + sizeof(wchar_t) - 1) / sizeof(wchar_t) + 1, L'\0');
        DWORD capacity = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        status = RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(buffer.data()), &capacity);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return false;
        value.assign(buffer.data());  // up to the first NUL
        return true;
    }
    return false;
}

bool Registry::SetStore(const std::wstring&) {
    return true;  // Windows reads its own registry; there is no store to load.
}
