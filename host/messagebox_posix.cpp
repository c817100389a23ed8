#include "host/messagebox.h"

#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <cstdio>

void ShowMessageBox(const std::wstring& caption, const std::wstring& text) {
    std::string c = Utils::utf16ToUtf8(caption);
    std::string t = Utils::utf16ToUtf8(text);
    std::fprintf(stderr, "%s: %s\n", c.c_str(), t.c_str());
    std::fflush(stderr);
    Logger_InfoF("host/messagebox", __LINE__, "message shown on standard error: %s: %s", c.c_str(), t.c_str());
}
