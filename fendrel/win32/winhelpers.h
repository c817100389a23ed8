// Small owners for Windows resources, shared by Fendrel's Windows files.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace fendrel::win32 {

// Owns a kernel handle from the line that opens it; closes it on every way out.
class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return m_handle; }
    // For functions that hand a new handle back through a pointer.
    HANDLE* out() {
        reset();
        return &m_handle;
    }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    void reset() {
        if (valid())
            CloseHandle(m_handle);
        m_handle = nullptr;
    }
    // Closes now and reports whether it worked (the last writes reached the file).
    bool Close() {
        const HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle == nullptr || handle == INVALID_HANDLE_VALUE || CloseHandle(handle) != FALSE;
    }

private:
    HANDLE m_handle;
};

// COM for the shell calls on whatever thread the caller is on; a thread that
// already has another apartment keeps it.
class ComScope {
public:
    ComScope() : m_initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComScope() {
        if (m_initialized)
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool m_initialized;
};

// A function that newer systems add, looked up by name so the program still
// starts on older ones; null when missing.
template <typename Function>
Function Resolve(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr)
        handle = LoadLibraryW(module);
    // Through void*: a FARPROC is not meant to be called as it is.
    return handle == nullptr ? nullptr
                             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

}  // namespace fendrel::win32
