// A thread that does nothing but the message loop of fendrel/uiqueue.h, with
// one window: closures sent to it run there, and a test may give the window
// a handler for the program's own messages.
#pragma once

#include "fendrel/uiqueue.h"

#include <cstdint>
#include <functional>
#include <future>
#include <thread>

namespace testutil {

class UiThread {
public:
    // True when the handler took the message.
    using Handler = std::function<bool(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

    explicit UiThread(Handler handler = {}) : m_handler(std::move(handler)) {
        std::promise<HWND> made;
        auto future = made.get_future();
        m_thread = std::thread([this, &made] {
            made.set_value(fendrel::ui::CreateMessageWindow(Procedure, this));
            fendrel::ui::Message message;
            while (fendrel::ui::GetNext(message))
                fendrel::ui::Dispatch(message);
        });
        m_window = future.get();
    }
    ~UiThread() {
        fendrel::ui::Post(m_window, kQuit, 0, 0);
        m_thread.join();
    }
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    HWND window() const { return m_window; }

    // Runs work on the UI thread and returns when it is done.
    void Run(const std::function<void()>& work) {
        fendrel::ui::Send(m_window, kRun, 0, reinterpret_cast<std::intptr_t>(&work));
    }

private:
    static constexpr std::uint32_t kRun = fendrel::ui::kApp + 1;
    static constexpr std::uint32_t kQuit = fendrel::ui::kApp + 2;

    static std::intptr_t Procedure(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                                   void* context) {
        auto* self = static_cast<UiThread*>(context);
        if (message == kRun) {
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return 1;
        }
        if (message == kQuit) {
            fendrel::ui::DestroyMessageWindow(window);
            fendrel::ui::PostQuit(0);
            return 0;
        }
        if (self != nullptr && self->m_handler && self->m_handler(message, wParam, lParam))
            return 0;
        return fendrel::ui::DefaultProc(window, message, wParam, lParam);
    }

    Handler m_handler;
    std::thread m_thread;
    HWND m_window = nullptr;
};

}  // namespace testutil
