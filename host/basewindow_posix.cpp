// Linux: a window is a handle in the UI thread's message queue; the page's
// browser window is all the user sees.
#include "host/basewindow.h"

#include "fendrel/logger.h"
#include "fendrel/uiqueue.h"

namespace {

std::intptr_t Procedure(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                        void* userData) {
    auto* self = static_cast<BaseBlkWinow*>(userData);
    bool handled = false;
    std::intptr_t result = self->procedure(*self, message, wParam, lParam, handled);
    if (!handled && self->procedure != BaseBlkWinow::BaseProcedure)
        result = BaseBlkWinow::BaseProcedure(*self, message, wParam, lParam, handled);
    return handled ? result : fendrel::ui::DefaultProc(window, message, wParam, lParam);
}

}  // namespace

bool BaseBlkWinow::CreateNative(int) {
    window = fendrel::ui::CreateMessageWindow(Procedure, this);
    return window != nullptr;
}

bool BaseBlkWinow::ShowsNativeWindow() const {
    return false;  // the page's browser window is all there is
}

void BaseBlkWinow::AttachNativeView() {}

void BaseBlkWinow::DestroyNative() {
    HWND handle = window;
    if (handle == nullptr || !fendrel::ui::DestroyMessageWindow(handle))
        return;
    // The queue's destroy ends with kDestroy; the last message a Windows
    // window gets follows here, and may delete this object.
    bool handled = false;
    procedure(*this, wmsg::kNcDestroy, 0, 0, handled);
    if (!handled && procedure != BaseProcedure)
        BaseProcedure(*this, wmsg::kNcDestroy, 0, 0, handled);
}

std::intptr_t BaseBlkWinow::DefaultHandling(HWND window, std::uint32_t message, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    return fendrel::ui::DefaultProc(window, message, wParam, lParam);
}

int RunMessageLoop(HINSTANCE, int) {
    fendrel::ui::Message message;
    while (fendrel::ui::GetNext(message))
        fendrel::ui::Dispatch(message);
    return static_cast<int>(message.wParam);
}
