#include "uiclean/fileicon.h"

#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <cstring>

namespace fileicon {

namespace {

constexpr const char* kSource = "uiclean/fileicon";
// RT_GROUP_ICON and RT_ICON as numbers, so the A and W forms agree.
constexpr WORD kGroupIconType = 14;
constexpr WORD kIconType = 3;
// LOAD_LIBRARY_AS_DATAFILE
constexpr DWORD kAsDataFile = 0x2;
// LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE
constexpr DWORD kAsImageResource = 0x22;
// The same from the system folder only (LOAD_LIBRARY_SEARCH_SYSTEM32), so a
// planted imageres.dll beside the program is never read.
constexpr DWORD kSystemImageResource = 0x822;
// ERROR_RESOURCE_TYPE_NOT_FOUND: a file without icons.
constexpr DWORD kNoIcons = 1813;
// ERROR_RESOURCE_ENUM_USER_STOP: the callback stopped at the first group.
constexpr DWORD kStoppedByCallback = 15106;

// A module loaded for its resources, freed with this object.
class ResourceModule {
public:
    explicit ResourceModule(HMODULE module) : m_module(module) {}
    ~ResourceModule() {
        if (m_module != nullptr)
            FreeLibrary(m_module);
    }
    ResourceModule(const ResourceModule&) = delete;
    ResourceModule& operator=(const ResourceModule&) = delete;
    HMODULE get() const { return m_module; }

private:
    HMODULE m_module;
};

// The bytes of one resource; empty when missing, empty or unloadable.
Bytes ResourceBytes(HMODULE module, LPCSTR name, WORD type) {
    HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(type));
    if (found == nullptr)
        return {};
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = size != 0 ? LoadResource(module, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr)
        return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return Bytes(bytes, bytes + size);
}

Bytes IconOfModule(const ResourceModule& module, const char* library, WORD group) {
    Bytes icon = BuildIconFile(module.get(), MAKEINTRESOURCEA(group));
    if (icon.empty())
        Logger_WarnF(kSource, __LINE__, "%s has no usable icon group %u; files without an icon show none", library,
                     static_cast<unsigned>(group));
    return icon;
}

struct EnumState {
    Bytes icon;
};

BOOL CALLBACK FirstGroup(HMODULE module, LPCSTR, LPSTR name, LONG_PTR param) {
    auto* state = reinterpret_cast<EnumState*>(param);
    state->icon = BuildIconFile(module, name);
    return FALSE;  // the first group only
}

}  // namespace

Bytes BuildIconFile(HMODULE module, LPCSTR group) {
    const Bytes groupBytes = ResourceBytes(module, group, kGroupIconType);
    if (groupBytes.empty())
        return {};
    std::vector<Bytes> images;
    for (std::uint16_t id : GroupImageIds(groupBytes))
        images.push_back(ResourceBytes(module, MAKEINTRESOURCEA(id), kIconType));
    return IconFileFromGroup(groupBytes, images);
}

Bytes FileIconImage(const std::wstring& path) {
    HMODULE loaded = LoadLibraryExW(path.c_str(), nullptr, kAsDataFile);
    if (loaded == nullptr)
        loaded = LoadLibraryExW(path.c_str(), nullptr, kAsImageResource);
    ResourceModule module(loaded);
    if (module.get() == nullptr) {
        Logger_DebugF(kSource, __LINE__, "%s has no resources to read (%lu)", Utils::utf16ToUtf8(path).c_str(),
                      static_cast<unsigned long>(GetLastError()));
        return {};
    }
    EnumState state;
    SetLastError(ERROR_SUCCESS);
    if (!EnumResourceNamesA(module.get(), MAKEINTRESOURCEA(kGroupIconType), FirstGroup,
                            reinterpret_cast<LONG_PTR>(&state))) {
        const DWORD error = GetLastError();
        if (error != kNoIcons && error != kStoppedByCallback && error != ERROR_SUCCESS) {
            Logger_WarnF(kSource, __LINE__, "the icons of %s cannot be listed (%lu)", Utils::utf16ToUtf8(path).c_str(),
                         static_cast<unsigned long>(error));
            return {};
        }
    }
    return state.icon;
}

Bytes SystemDefaultIcon() {
    // Only a library that cannot be loaded passes on to the older one.
    ResourceModule imageres(LoadLibraryExA("imageres.dll", nullptr, kSystemImageResource));
    if (imageres.get() != nullptr)
        return IconOfModule(imageres, "imageres.dll", 15);
    Logger_InfoF(kSource, __LINE__, "imageres.dll cannot be loaded (%lu); using shell32.dll",
                 static_cast<unsigned long>(GetLastError()));
    ResourceModule shell32(LoadLibraryExA("shell32.dll", nullptr, kSystemImageResource));
    if (shell32.get() == nullptr) {
        Logger_WarnF(kSource, __LINE__, "neither imageres.dll nor shell32.dll can be loaded (%lu); no default icon",
                     static_cast<unsigned long>(GetLastError()));
        return {};
    }
    return IconOfModule(shell32, "shell32.dll", 3);
}

}  // namespace fileicon
