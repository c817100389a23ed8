// DpiAPI on Windows: the per-window DPI functions appeared in Windows 10
// (1607), so they are resolved from User32.dll by name; without them every
// answer is the 96-DPI one.
#include "../utils.h"

namespace {

// DPI_AWARENESS_CONTEXT is a handle; declared here so older headers suffice.
using AwarenessContext = HANDLE;
using GetAwarenessFromDpiAwarenessContextFn = int(WINAPI*)(AwarenessContext);
using GetThreadDpiAwarenessContextFn = AwarenessContext(WINAPI*)();
using GetDpiForSystemFn = UINT(WINAPI*)();
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

constexpr int kSystemAware = 1;     // DPI_AWARENESS_SYSTEM_AWARE
constexpr int kPerMonitorAware = 2;  // DPI_AWARENESS_PER_MONITOR_AWARE

template <typename Function>
Function As(void* entry) {
    return reinterpret_cast<Function>(entry);
}

}  // namespace

DpiAPI::DpiAPI() {
    HMODULE user32 = GetModuleHandleW(L"User32.dll");
    if (user32 == nullptr) {
        user32 = LoadLibraryW(L"User32.dll");
    }
    if (user32 == nullptr) {
        return;
    }
    const auto entry = [user32](const char* name) { return reinterpret_cast<void*>(GetProcAddress(user32, name)); };
    m_getAwarenessFromDpiAwarenessContext = entry("GetAwarenessFromDpiAwarenessContext");
    m_getThreadDpiAwarenessContext = entry("GetThreadDpiAwarenessContext");
    m_getDpiForSystem = entry("GetDpiForSystem");
    m_getDpiForWindow = entry("GetDpiForWindow");
    m_setThreadDpiAwarenessContext = entry("SetThreadDpiAwarenessContext");
    m_hasApi = m_getAwarenessFromDpiAwarenessContext != nullptr && m_getThreadDpiAwarenessContext != nullptr &&
               m_getDpiForSystem != nullptr && m_getDpiForWindow != nullptr;
}

bool DpiAPI::HasAPI() const { return m_hasApi; }

bool DpiAPI::IsPSetThreadDpiAwarenessContextNull() const { return m_setThreadDpiAwarenessContext == nullptr; }

int DpiAPI::getDPI(HWND window) const {
    if (!m_hasApi) {
        return 96;
    }
    const AwarenessContext context = As<GetThreadDpiAwarenessContextFn>(m_getThreadDpiAwarenessContext)();
    const int awareness = As<GetAwarenessFromDpiAwarenessContextFn>(m_getAwarenessFromDpiAwarenessContext)(context);
    UINT dpi = 96;
    if (awareness == kSystemAware) {
        dpi = As<GetDpiForSystemFn>(m_getDpiForSystem)();
    } else if (awareness == kPerMonitorAware) {
        dpi = As<GetDpiForWindowFn>(m_getDpiForWindow)(window);
    }
    // An invalid window has no DPI (0); 96 keeps the sizes derived from it usable.
    return dpi == 0 ? 96 : static_cast<int>(dpi);
}

DPISize DpiAPI::getDPIResize(HWND window, int width, int height, int divisor) const {
    if (!m_hasApi) {
        return {1.0f, width, height};
    }
    const int dpi = getDPI(window);
    const int by = divisor == 0 ? 1 : divisor;  // a zero divisor would end the process
    return {static_cast<float>(dpi) / 96.0f, MulDiv(width, dpi, 96) / by, MulDiv(height, dpi, 96) / by};
}

int DpiAPI::getDpiLength(int dpi, int length) { return MulDiv(length, dpi, 96); }
