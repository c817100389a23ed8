// DpiAPI on Linux: there are no per-window DPI functions to resolve, so every
// answer is the 96-DPI one (the page scales itself in the browser).
#include "../utils.h"

#include <cstdint>

namespace {

// MulDiv's rule: a * b / c in 64 bits, rounded half away from zero; -1 when
// c is 0 or the result does not fit 32 bits.
int MulDiv(int a, int b, int c) {
    if (c == 0) {
        return -1;
    }
    std::int64_t product = static_cast<std::int64_t>(a) * b;
    std::int64_t divisor = c;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const std::int64_t half = divisor / 2;
    const std::int64_t result = (product >= 0 ? product + half : product - half) / divisor;
    return result > INT32_MAX || result < INT32_MIN ? -1 : static_cast<int>(result);
}

}  // namespace

DpiAPI::DpiAPI() = default;

bool DpiAPI::HasAPI() const { return m_hasApi; }

bool DpiAPI::IsPSetThreadDpiAwarenessContextNull() const { return m_setThreadDpiAwarenessContext == nullptr; }

int DpiAPI::getDPI(HWND window) const { return 96; }

DPISize DpiAPI::getDPIResize(HWND window, int width, int height, int divisor) const {
    return {1.0f, width, height};
}

int DpiAPI::getDpiLength(int dpi, int length) { return MulDiv(length, dpi, 96); }
