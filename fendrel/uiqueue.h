// Window messages between threads, with the send/post/get semantics of
// Win32 windows (the names differ from the Win32 ones, which are macros). Windows uses real (message-only) windows, so a handle made
// here is an HWND that SendMessageW, PostMessageW and a subclass accept;
// Linux keeps one queue per thread with the same rules:
//   - a window belongs to the thread that created it; its procedure only ever
//     runs on that thread;
//   - Send from the owner thread calls the procedure directly; from
//     another thread it queues the message and waits for the result, while
//     answering messages sent to its own windows (two threads sending to
//     each other do not deadlock);
//   - a send to a destroyed window, or to one whose thread has ended,
//     returns 0 at once; a send that is waiting when the window is destroyed
//     or its thread ends is released with 0 too, so a worker never waits
//     forever on a window that is gone;
//   - GetNext answers sent messages while it waits, returns posted ones
//     in order, and returns false once the queue is empty after
//     PostQuit.
// Handles are never reused on Linux, so a stale handle is simply invalid.
#pragma once

#include "platform.h"

#include <cstdint>
#include <functional>

namespace fendrel::ui {

// Message numbers keep their Windows values.
inline constexpr std::uint32_t kDestroy = 0x0002;  // WM_DESTROY
inline constexpr std::uint32_t kQuit = 0x0012;     // WM_QUIT
inline constexpr std::uint32_t kUser = 0x0400;     // WM_USER
inline constexpr std::uint32_t kApp = 0x8000;      // WM_APP

// A window procedure. Messages it does not handle go to DefaultProc.
using WindowProc = std::intptr_t (*)(HWND window, std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam, void* userData);

struct Message {
    HWND window = nullptr;  // null for a message posted to the thread
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// A window owned by the calling thread; null on failure. Windows: a
// message-only window, so it is never shown and enumerations skip it.
FENDREL_API HWND CreateMessageWindow(WindowProc proc, void* userData);
// Only the owner thread may destroy a window; the procedure gets kDestroy
// first. False for another thread's window or an invalid handle.
FENDREL_API bool DestroyMessageWindow(HWND window);
FENDREL_API bool IsMessageWindow(HWND window);
// See the rules above. The result is the procedure's, or 0 when it did not run.
FENDREL_API std::intptr_t Send(HWND window, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam);
// Queues a message; a null window posts to the calling thread. False when
// the window is invalid.
FENDREL_API bool Post(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
FENDREL_API void PostQuit(int exitCode);
// Waits for a posted message of the calling thread. False on quit (wParam
// holds the exit code) or failure.
FENDREL_API bool GetNext(Message& message);
// Runs the window procedure of a posted message; 0 for a thread message or
// a window that is gone.
FENDREL_API std::intptr_t Dispatch(const Message& message);
// What a procedure returns for a message it does not handle
// (DefWindowProcW on Windows, 0 on Linux).
FENDREL_API std::intptr_t DefaultProc(HWND window, std::uint32_t message, std::uintptr_t wParam,
                                      std::intptr_t lParam);
// Runs work on a helper thread and, until it returns, answers messages sent
// to the calling thread's windows. For waiting on threads that may
// themselves be waiting for a send to this thread (a server shutting down
// while one of its requests waits for the UI thread). Posted messages stay
// queued.
FENDREL_API void RunWhileAnsweringSends(const std::function<void()>& work);

}  // namespace fendrel::ui
