// Linux has no system registry. Until a registry store is configured every
// read fails, as a missing key would on Windows.
#include "fendrel/registry.h"

#include "fendrel/logger.h"

#include <atomic>

bool Registry::ReadString(HKEY, const std::wstring& subkey, const std::wstring& valueName, RegistryView,
                          std::wstring&) {
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true))
        LOG_INFO_W(L"no registry store is configured; registry reads (first: %ls, value %ls) find nothing",
                   subkey.c_str(), valueName.c_str());
    return false;
}
