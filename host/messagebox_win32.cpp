#include "host/messagebox.h"

#include <windows.h>

void ShowMessageBox(const std::wstring& caption, const std::wstring& text) {
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
}
