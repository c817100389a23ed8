// The system side of loading the web view: the dynamic library, the crash
// filter and the messages shown when loading fails.
#pragma once

#include "host/webview.h"

#include <string>

namespace webview_native {

void* OpenLibrary(const std::wstring& path);
void* Resolve(void* library, const char* name);
void InstallCrashFilter(CrashFilter filter);
void ReportLoadFailure();
void ReportMissingName(const char* name);

}  // namespace webview_native
