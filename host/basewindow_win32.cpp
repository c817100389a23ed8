// Windows: a real top-level window of the configured class. With the
// project's web view the page shows in a browser window of its own, so
// this window stays hidden; it still owns the class name that a second
// instance looks for and receives every private message.
#include "host/basewindow.h"

#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <algorithm>

#include <windows.h>
#include <commctrl.h>

namespace {

constexpr const char* kSource = "host/basewindow";

bool CompositionEnabled() {
    using IsCompositionEnabled = HRESULT(WINAPI*)(BOOL*);
    static const auto query = reinterpret_cast<IsCompositionEnabled>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"dwmapi.dll"), "DwmIsCompositionEnabled")));
    BOOL enabled = FALSE;
    return query != nullptr && SUCCEEDED(query(&enabled)) && enabled;
}

void ExtendFrame(HWND window, int margin) {
    struct Margins {
        int left, right, top, bottom;
    };
    using Extend = HRESULT(WINAPI*)(HWND, const Margins*);
    static const auto extend = reinterpret_cast<Extend>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"dwmapi.dll"), "DwmExtendFrameIntoClientArea")));
    if (extend != nullptr) {
        const Margins margins{margin, margin, margin, margin};
        extend(window, &margins);
    }
}

// Inside a caption rectangle edge pair: strictly between, or the low edge
// is -1 (the whole width or height).
bool Within(std::int32_t value, std::int32_t low, std::int32_t high) {
    return low == -1 || (value > low && value < high);
}

// The web view's own window, when it is a child of this one (an engine
// that draws into the native window); a view that shows its page in a
// browser window of its own has none.
HWND ViewChild(const BaseBlkWinow& self) {
    if (self.webView == nullptr || g_wke.wkeGetWindowHandle == nullptr)
        return nullptr;
    HWND child = g_wke.wkeGetWindowHandle(self.webView);
    return child != nullptr && GetParent(child) == self.window ? child : nullptr;
}

void Layout(BaseBlkWinow& self) {
    RECT client{};
    GetClientRect(self.window, &client);
    const int editHeight = self.editVisible != 0 ? self.editHeight : 0;
    if (self.edit != nullptr) {
        MoveWindow(self.edit, 0, 0, client.right, editHeight, TRUE);
        ShowWindow(self.edit, self.editVisible != 0 ? SW_SHOW : SW_HIDE);
    }
    if (HWND child = ViewChild(self))
        MoveWindow(child, self.inset, self.inset + editHeight, client.right - 2 * self.inset,
                   client.bottom - editHeight - 2 * self.inset, TRUE);
}

LRESULT HitTest(BaseBlkWinow& self, LPARAM lParam) {
    POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    RECT rect{};
    GetWindowRect(self.window, &rect);
    const int frameX = GetSystemMetrics(SM_CXFRAME) + GetSystemMetrics(SM_CXPADDEDBORDER);
    const int frameY = GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CXPADDEDBORDER);
    if (self.borderlessResize != 0) {
        const bool left = point.x < rect.left + frameX, right = point.x >= rect.right - frameX;
        const bool top = point.y < rect.top + frameY, bottom = point.y >= rect.bottom - frameY;
        if (top && left) return HTTOPLEFT;
        if (top && right) return HTTOPRIGHT;
        if (bottom && left) return HTBOTTOMLEFT;
        if (bottom && right) return HTBOTTOMRIGHT;
        if (left) return HTLEFT;
        if (right) return HTRIGHT;
        if (top) return HTTOP;
        if (bottom) return HTBOTTOM;
    }
    const int x = point.x - rect.left, y = point.y - rect.top;
    if (Within(x, self.caption.left, self.caption.right) && Within(y, self.caption.top, self.caption.bottom))
        return HTCAPTION;
    return HTCLIENT;
}

// The messages a native window needs that the portable procedure does not
// know; true when handled.
bool NativeMessage(BaseBlkWinow& self, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_NCHITTEST:
        if (self.borderless == 0 || self.borderlessDrag == 0)
            return false;
        result = HitTest(self, lParam);
        return true;
    case WM_NCCALCSIZE:
        if (wParam == 0 || self.borderless == 0)
            return false;
        if (IsZoomed(self.window)) {
            auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
            MONITORINFO info{};
            info.cbSize = sizeof info;
            if (GetMonitorInfoW(MonitorFromWindow(self.window, MONITOR_DEFAULTTONEAREST), &info))
                params->rgrc[0] = info.rcWork;
        }
        result = 0;
        return true;
    case WM_GETMINMAXINFO:
        if (self.minWidth <= 0 && self.minHeight <= 0)
            return false;
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {self.minWidth, self.minHeight};
        result = 0;
        return true;
    case WM_NCACTIVATE:
        if (CompositionEnabled())
            return false;
        result = 1;
        return true;
    case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(self.window, &client);
        HBRUSH grey = CreateSolidBrush(RGB(0xAA, 0xAA, 0xAA));
        FillRect(reinterpret_cast<HDC>(wParam), &client, grey);
        DeleteObject(grey);
        result = 1;
        return true;
    }
    case WM_SIZE: {
        Layout(self);
        if (self.sizedOnce) {
            RECT rect{};
            GetWindowRect(self.window, &rect);
            self.outer = {rect.left, rect.top, rect.right, rect.bottom};
        }
        self.sizedOnce = true;
        result = 0;
        return true;
    }
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(self.window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        result = 0;
        return true;
    }
    default:
        return false;
    }
}

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
    if (!handled && message != WM_NCDESTROY)
        handled = NativeMessage(*self, message, wParam, lParam, result);
    return handled ? result : DefWindowProcW(window, message, wParam, lParam);
}

void Center(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    RECT area = info.rcWork;
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr)
        GetWindowRect(owner, &area);
    int left = area.left + (area.right - area.left - width) / 2;
    int top = area.top + (area.bottom - area.top - height) / 2;
    // Kept inside the monitor.
    left = std::max<int>(info.rcWork.left, std::min<int>(left, info.rcWork.right - width));
    top = std::max<int>(info.rcWork.top, std::min<int>(top, info.rcWork.bottom - height));
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ApplyBorderStyle(BaseBlkWinow& self, bool show) {
    const bool composition = CompositionEnabled();
    LONG style = self.borderless == 0 ? 0x00CF0000 : (composition ? 0x80CF0000 : 0x800F0000);
    if (self.showMinbox == 0)
        style &= ~0x20000;
    if (self.showMaxbox == 0)
        style &= ~0x10000;
    SetWindowLongW(self.window, GWL_STYLE, style);
    if (composition)
        ExtendFrame(self.window, self.borderless != 0 && self.borderlessShadow != 0 ? 1 : 0);
    SetWindowPos(self.window, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE |
                     (show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

jsValue WKE_CALL AddressBarPopup(jsExecState es, void*) {
    MessageBoxW(nullptr, L"popup", L"Clean", MB_OK);
    return g_wke.jsUndefined();
}

// The address bar: Enter runs what was typed (a developer's tool).
LRESULT CALLBACK AddressBarProcedure(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR data) {
    auto* self = reinterpret_cast<BaseBlkWinow*>(data);
    if (message != WM_CHAR || wParam != VK_RETURN || self->webView == nullptr)
        return DefSubclassProc(edit, message, wParam, lParam);
    wchar_t text[1025] = {};
    GetWindowTextW(edit, text, 1024);
    const std::wstring typed = text;
    jsExecState es = g_wke.wkeGlobalExec(self->webView);
    if (typed.rfind(L"inject", 0) == 0) {
        g_wke.jsSetGlobal(es, "test", g_wke.jsEmptyObject(es));
        g_wke.jsSetGlobal(es, "popup", g_wke.jsFunction(es, AddressBarPopup, self));
    } else if (typed.rfind(L"javascript:", 0) == 0) {
        g_wke.wkeRunJSW(self->webView, typed.substr(11).c_str());
    } else if (typed.rfind(L"call", 0) == 0) {
        // A page of this web view cannot be read back synchronously; its
        // address and title are what the host knows.
        const std::wstring shown = L"URL: " + Utils::utf8ToUtf16(self->url) + L"\ntitle: " + self->title;
        MessageBoxW(self->window, shown.c_str(), L"document", MB_OK);
    } else {
        g_wke.wkeLoadURLW(self->webView, typed.c_str());
    }
    if (HWND child = ViewChild(*self))
        SetFocus(child);
    return 0;
}

// The web view's own child window, when the engine has one: the caption
// area drags the window, and with hot keys on F6-F11 switch the options.
LRESULT CALLBACK ViewChildProcedure(HWND child, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR data) {
    auto* self = reinterpret_cast<BaseBlkWinow*>(data);
    static POINT dragStart{};
    static bool dragging = false;
    switch (message) {
    case WM_LBUTTONDOWN: {
        const int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
        if (self->borderlessDrag != 0 && Within(x, self->caption.left, self->caption.right) &&
            Within(y, self->caption.top, self->caption.bottom)) {
            dragging = true;
            GetCursorPos(&dragStart);
            SetCapture(child);
            return 0;
        }
        break;
    }
    case WM_MOUSEMOVE:
        if (dragging) {
            POINT now{};
            GetCursorPos(&now);
            RECT rect{};
            GetWindowRect(self->window, &rect);
            SetWindowPos(self->window, nullptr, rect.left + now.x - dragStart.x, rect.top + now.y - dragStart.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER);
            dragStart = now;
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (dragging) {
            dragging = false;
            ReleaseCapture();
            return 0;
        }
        break;
    case WM_KEYDOWN:
        if (self->enableHotkey == 0)
            break;
        switch (wParam) {
        case VK_F6:
            self->borderlessResize = !self->borderlessResize;
            return 0;
        case VK_F7:
            self->borderlessDrag = !self->borderlessDrag;
            return 0;
        case VK_F8:
            self->editVisible = !self->editVisible;
            Layout(*self);
            return 0;
        case VK_F9:
            self->borderless = !self->borderless;
            ApplyBorderStyle(*self, true);
            return 0;
        case VK_F11:
            self->borderlessShadow = !self->borderlessShadow;
            ApplyBorderStyle(*self, true);
            return 0;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return DefSubclassProc(child, message, wParam, lParam);
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
    DpiAPI dpi;
    const DPISize scaled = dpi.getDPIResize(window, viewWidth, viewHeight, 1);
    viewWidth = scaled.width;
    viewHeight = scaled.height;
    SetWindowPos(window, nullptr, 0, 0, viewWidth + 2 * inset, viewHeight + 2 * inset,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (createAsModal != 0 && parent != nullptr)
        EnableWindow(parent, FALSE);
    // The window stays hidden until a web view draws into it (Show).
    ApplyBorderStyle(*this, false);
    if (centerWindow != 0)
        Center(window);
    edit = CreateWindowExW(0, L"EDIT", L"", 0x50800040u & ~WS_VISIBLE, 0, 0, 0, 0, window, nullptr, instance,
                           nullptr);
    if (edit != nullptr)
        SetWindowSubclass(edit, AddressBarProcedure, 1, reinterpret_cast<DWORD_PTR>(this));
    return true;
}

bool BaseBlkWinow::ShowsNativeWindow() const {
    return ViewChild(*this) != nullptr;
}

void BaseBlkWinow::AttachNativeView() {
    if (HWND child = ViewChild(*this)) {
        SetWindowSubclass(child, ViewChildProcedure, 2, reinterpret_cast<DWORD_PTR>(this));
        Layout(*this);
        if (edit != nullptr)
            SetFocus(edit);
    }
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
