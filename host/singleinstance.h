// Keeps a second copy of the program from running. The lock is a named
// mutex on Windows and a per-user lock file on Linux; it is held for as long
// as the object lives.
#pragma once

#include "fendrel/platform.h"

#include <cstdint>
#include <string>

class SingleInstanceLock {
public:
    SingleInstanceLock() = default;
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;
    ~SingleInstanceLock();

    // Takes the lock called `name`. False when another process holds it; that
    // process's window of class `windowClass`, when one is found, is asked
    // to show itself.
    bool Acquire(const std::wstring& name, const std::wstring& windowClass);
    bool Held() const { return m_native != kNone; }
    // While the lock is held, another instance's request to show itself
    // reaches `window` as the show-running message (0x469). Windows finds
    // the window by its class and needs nothing here; Linux listens on a
    // per-user socket beside the lock file.
    void ListenForOthers(HWND window);

    // The lock's name for a product: product name + "-=skbn123".
    static std::wstring NameFor(const std::wstring& productName);

private:
    static constexpr std::intptr_t kNone = -1;
    // A mutex HANDLE on Windows, a file descriptor on Linux.
    std::intptr_t m_native = kNone;
    std::string m_socketPath;  // Linux: where ListenForOthers listens
};
