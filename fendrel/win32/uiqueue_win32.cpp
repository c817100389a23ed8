// Windows message queues are the system's own: message-only windows of one
// class whose procedure forwards to the caller's. Sends, posts, the release
// of waiting senders when a window or its thread goes, all come from Win32.
#include "fendrel/uiqueue.h"

#include <exception>
#include <mutex>
#include <thread>

namespace fendrel::ui {
namespace {

const wchar_t kClassName[] = L"FendrelMessageWindow";

struct Binding {
    WindowProc proc;
    void* userData;
};

LRESULT CALLBACK Trampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* binding = reinterpret_cast<Binding*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!binding)
        return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = binding->proc(window, message, wParam, lParam, binding->userData);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete binding;
    }
    return result;
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Trampoline), &module);
    return module;
}

bool RegisterOnce() {
    static const bool registered = [] {
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof(cls);
        cls.lpfnWndProc = Trampoline;
        cls.hInstance = ThisModule();
        cls.lpszClassName = kClassName;
        return RegisterClassExW(&cls) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

}  // namespace

HWND CreateMessageWindow(WindowProc proc, void* userData) {
    if (!proc || !RegisterOnce())
        return nullptr;
    auto* binding = new Binding{proc, userData};
    HWND window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), binding);
    if (!window)
        delete binding;
    return window;
}

bool DestroyMessageWindow(HWND window) {
    if (!::IsWindow(window) || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
        return false;
    return ::DestroyWindow(window) != FALSE;
}

bool IsMessageWindow(HWND window) {
    return window && ::IsWindow(window);
}

std::intptr_t Send(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (!IsMessageWindow(window))
        return 0;
    return SendMessageW(window, message, wParam, lParam);
}

bool Post(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return PostMessageW(window, message, wParam, lParam) != FALSE;
}

void PostQuit(int exitCode) {
    ::PostQuitMessage(exitCode);
}

bool GetNext(Message& message) {
    MSG msg{};
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    message = Message{msg.hwnd, msg.message, msg.wParam, msg.lParam};
    return got > 0;
}

std::intptr_t Dispatch(const Message& message) {
    MSG msg{};
    msg.hwnd = message.window;
    msg.message = message.message;
    msg.wParam = message.wParam;
    msg.lParam = message.lParam;
    return ::DispatchMessageW(&msg);
}

std::intptr_t DefaultProc(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

void RunWhileAnsweringSends(const std::function<void()>& work) {
    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::exception_ptr error;
    std::thread helper([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        if (finished)
            SetEvent(finished);
    });
    if (finished) {
        // PeekMessage with PM_QS_SENDMESSAGE runs the pending sent messages
        // and removes nothing posted.
        // A failed wait falls through to the plain join.
        while (MsgWaitForMultipleObjectsEx(1, &finished, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE) ==
               WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    helper.join();
    if (finished)
        CloseHandle(finished);
    if (error)
        std::rethrow_exception(error);
}

}  // namespace fendrel::ui
