// Windows: a real top-level window of the configured class. With the
// project's web view the page shows in a browser window of its own, so
// this window stays hidden; it still owns the class name that a second
// instance looks for and receives every private message.
#include "host/basewindow.h"

#include "fendrel/logger.h"

#include <windows.h>

namespace {

constexpr const char* kSource = "host/basewindow";

LRESULT CALLBACK NativeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<BaseBlkWinow*>(create->lpCreateParams)->window = window;
    }
    auto* self = reinterpret_cast<BaseBlkWinow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY)
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    bool handled = false;
    LRESULT result = self->procedure(*self, message, wParam, lParam, handled);
    if (!handled && self->procedure != BaseBlkWinow::BaseProcedure)
        result = BaseBlkWinow::BaseProcedure(*self, message, wParam, lParam, handled);
    // After WM_NCDESTROY the object may be gone: only the handle is used.
    return handled ? result : DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool BaseBlkWinow::CreateNative(int) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.style = CS_HREDRAW | CS_VREDRAW;
    cls.lpfnWndProc = NativeProcedure;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    cls.hIconSm = cls.hIcon;
    cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    cls.hbrBackground = GetSysColorBrush(17);
    cls.lpszMenuName = MAKEINTRESOURCEW(110);
    cls.lpszClassName = className.c_str();
    if (RegisterClassExW(&cls) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        Logger_ErrorF(kSource, __LINE__, "RegisterClassExW failed with %lu", GetLastError());
        return false;
    }
    cursor = cls.hCursor;
    HWND created = CreateWindowExW(static_cast<DWORD>(dwExStyle), className.c_str(), title.c_str(), 0x80CF0000u,
                                   outer.left, outer.top, 0, 0, parent, nullptr, instance, this);
    if (created == nullptr) {
        Logger_ErrorF(kSource, __LINE__, "CreateWindowExW failed with %lu", GetLastError());
        return false;
    }
    window = created;
    SetWindowPos(window, nullptr, 0, 0, viewWidth + 2 * inset, viewHeight + 2 * inset,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (createAsModal != 0 && parent != nullptr)
        EnableWindow(parent, FALSE);
    return true;
}

void BaseBlkWinow::DestroyNative() {
    if (window != nullptr)
        DestroyWindow(window);
}

std::intptr_t BaseBlkWinow::DefaultHandling(HWND window, std::uint32_t message, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

int RunMessageLoop(HINSTANCE instance, int acceleratorId) {
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(acceleratorId));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (accelerators == nullptr || !TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
