#include "host/webview_native.h"

#include "host/messagebox.h"

#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <dlfcn.h>

const wchar_t* WebViewLibraryName() {
    return L"libminiblink.so";
}

void SetCrashReportTexts(const std::string&, const std::string&, const std::string&) {}

namespace webview_native {

void* OpenLibrary(const std::wstring& path) {
    void* library = dlopen(Utils::utf16ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        Logger_ErrorF("host/webview", __LINE__, "dlopen: %s", dlerror());
    return library;
}

void* Resolve(void* library, const char* name) {
    return dlsym(library, name);
}

void InstallCrashFilter(CrashFilter) {
    // Linux has no process-wide exception filter; a crash leaves a core
    // file where the system keeps them.
}

void ReportLoadFailure() {
    ShowMessageBox(L"提示", L"加载miniblink失败，无法正常运行程序");
}

void ReportMissingName(const char* name) {
    ShowMessageBox(Utils::utf8ToUtf16(name), L"wke api not found");
}

}  // namespace webview_native
