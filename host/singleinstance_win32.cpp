#include "host/singleinstance.h"

#include "fendrel/logger.h"

#include <windows.h>

namespace {
// Asks a running instance to bring its window forward.
constexpr UINT kShowYourselfMessage = 0x469;
}

std::wstring SingleInstanceLock::NameFor(const std::wstring& productName) {
    return productName + L"-=skbn123";
}

bool SingleInstanceLock::Acquire(const std::wstring& name, const std::wstring& windowClass) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    DWORD error = GetLastError();
    if (mutex == nullptr) {
        Logger_ErrorF("host/singleinstance", __LINE__, "CreateMutexW failed (%lu); running without the lock",
                      static_cast<unsigned long>(error));
        return true;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        if (HWND other = FindWindowW(windowClass.c_str(), nullptr))
            SendMessageW(other, kShowYourselfMessage, 0, 0);
        return false;
    }
    m_native = reinterpret_cast<std::intptr_t>(mutex);
    return true;
}

void SingleInstanceLock::ListenForOthers(HWND) {}

SingleInstanceLock::~SingleInstanceLock() {
    if (m_native != kNone)
        CloseHandle(reinterpret_cast<HANDLE>(m_native));
}
