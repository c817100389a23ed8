// The preview window: a small captioned window drawn with GDI+, made on the
// first picture and then only hidden and shown again.
#include "uiclean/imagepreview.h"

#include "fendrel/logger.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstring>

namespace imagepreview {

namespace {

constexpr const char* kSource = "uiclean/imagepreview";
constexpr wchar_t kClassName[] = L"ImagePreviewWindowClass";
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU;
constexpr int kCursorGap = 12;

// Process-wide, UI thread only.
struct PreviewState {
    HWND window = nullptr;
    Gdiplus::Bitmap* image = nullptr;
    IStream* stream = nullptr;  // GDI+ reads the picture from it for the bitmap's life
    Size size;
    bool classRegistered = false;
    bool gdiplusStarted = false;
    ULONG_PTR gdiplusToken = 0;
};
PreviewState g_state;

void MessageBoxReporter(HWND owner, const std::wstring& text) {
    MessageBoxW(owner, text.c_str(), L"错误", MB_OK | MB_ICONERROR);
}
ErrorReporter g_reporter = MessageBoxReporter;

bool Fail(HWND owner, const wchar_t* text, const char* why) {
    Logger_WarnF(kSource, __LINE__, "the picture is not shown: %s", why);
    g_reporter(owner, text);
    return false;
}

void ReleaseImage(Gdiplus::Bitmap*& image, IStream*& stream) {
    delete image;
    image = nullptr;
    if (stream != nullptr)
        stream->Release();
    stream = nullptr;
}

LRESULT CALLBACK PreviewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        if (g_state.image != nullptr) {
            Gdiplus::Graphics graphics(dc);
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
            graphics.DrawImage(g_state.image, 0, 0, g_state.size.width, g_state.size.height);
        }
        EndPaint(window, &paint);
        return 0;
    }
    case WM_CLOSE:
        // Kept for the next picture.
        ShowWindow(window, SW_HIDE);
        return 0;
    case WM_DESTROY:
        // No quit message here: the preview is not the program's main
        // window, and ending the thread's loop is the main window's call.
        ReleaseImage(g_state.image, g_state.stream);
        g_state.window = nullptr;
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The outer rectangle for a client area of `size`, 12 pixels right of the
// cursor and moved left and up as far as needed to stay in the work area of
// the cursor's monitor.
RECT Placement(const Size& size) {
    RECT outer{0, 0, size.width, size.height};
    AdjustWindowRect(&outer, kStyle, FALSE);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor))
        work = monitor.rcWork;
    int x = cursor.x + kCursorGap;
    int y = cursor.y;
    if (x + width > work.right)
        x = work.right - width;
    if (y + height > work.bottom)
        y = work.bottom - height;
    if (x < work.left)
        x = work.left;
    if (y < work.top)
        y = work.top;
    return RECT{x, y, x + width, y + height};
}

}  // namespace

ErrorReporter SetErrorReporter(ErrorReporter reporter) {
    ErrorReporter previous = g_reporter;
    g_reporter = reporter != nullptr ? reporter : MessageBoxReporter;
    return previous;
}

bool ShowImagePreview(HWND owner, const std::vector<std::uint8_t>& bytes) {
    if (!g_state.gdiplusStarted) {
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&g_state.gdiplusToken, &input, nullptr) != Gdiplus::Ok)
            return Fail(owner, L"图片加载失败", "GDI+ does not start");
        g_state.gdiplusStarted = true;
    }

    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (memory == nullptr)
        return Fail(owner, L"内存分配失败", "no memory for the picture");
    void* locked = GlobalLock(memory);
    if (locked == nullptr) {
        GlobalFree(memory);
        return Fail(owner, L"内存锁定失败", "the picture's memory cannot be locked");
    }
    std::memcpy(locked, bytes.data(), bytes.size());
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    // The stream frees the memory when released.
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream)) || stream == nullptr) {
        GlobalFree(memory);
        return Fail(owner, L"创建流失败", "no stream on the picture");
    }
    Gdiplus::Bitmap* image = Gdiplus::Bitmap::FromStream(stream);
    if (image == nullptr || image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0 ||
        image->GetHeight() == 0) {
        ReleaseImage(image, stream);
        return Fail(owner, L"图片加载失败", "GDI+ cannot decode it");
    }
    const Size size = DisplaySize(static_cast<int>(image->GetWidth()), static_cast<int>(image->GetHeight()));
    const RECT place = Placement(size);

    if (g_state.window == nullptr) {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        if (!g_state.classRegistered) {
            WNDCLASSEXW windowClass{};
            windowClass.cbSize = sizeof(windowClass);
            windowClass.lpfnWndProc = PreviewProcedure;
            windowClass.hInstance = instance;
            windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
            windowClass.lpszClassName = kClassName;
            if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
                ReleaseImage(image, stream);
                return Fail(owner, L"窗口类注册失败", "the window class cannot be registered");
            }
            g_state.classRegistered = true;
        }
        HWND window = CreateWindowExW(0, kClassName, L"", kStyle, place.left, place.top, place.right - place.left,
                                      place.bottom - place.top, owner, nullptr, instance, nullptr);
        if (window == nullptr) {
            ReleaseImage(image, stream);
            return Fail(owner, L"窗口创建失败", "the window cannot be created");
        }
        g_state.window = window;
        g_state.image = image;
        g_state.stream = stream;
        g_state.size = size;
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        return true;
    }

    ReleaseImage(g_state.image, g_state.stream);
    g_state.image = image;
    g_state.stream = stream;
    g_state.size = size;
    SetWindowPos(g_state.window, HWND_TOP, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_SHOWWINDOW);
    InvalidateRect(g_state.window, nullptr, TRUE);
    UpdateWindow(g_state.window);
    return true;
}

void CloseImagePreview() {
    if (g_state.window != nullptr)
        DestroyWindow(g_state.window);
}

void* PreviewHandle() {
    return g_state.window;
}

}  // namespace imagepreview
