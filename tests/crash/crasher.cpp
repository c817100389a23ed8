// Crashes on purpose with the crash reporter installed the way the program
// installs it, so that the tests can look at what the reporter leaves.
//   crasher <log folder> segv|abort|overflow
// The log goes to <log folder>/app.log; the report then lands in
// <log folder>/crash. Exit code 2 for a bad command line; otherwise the
// process ends by the crash.
#include "fendrel/logger.h"
#include "fendrel/utils.h"
#include "host/webview.h"
#include "host/webview_native.h"

#include <cstdlib>
#include <string>

#if !defined(_WIN32)
#  include <sys/resource.h>
#endif

namespace {

// Deep enough to overflow any stack; the bound only keeps the compiler from
// calling it endless.
int Recurse(volatile char* previous, long long depth, long long limit) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(previous != nullptr ? previous[0] + 1 : 0);
    if (depth >= limit)
        return frame[0];
    return Recurse(frame, depth + 1, limit) + frame[depth % 1024];
}

int Run(const std::wstring& folder, const std::wstring& kind) {
    if (kind != L"segv" && kind != L"abort" && kind != L"overflow")
        return 2;
#if !defined(_WIN32)
    // A test's crash leaves no core file behind.
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
#endif
    const std::string log = Utils::Utf16ToAnsi(folder + fendrel::kPathSep + L"app.log");
    if (!Logger_Init(log.c_str(), 1 << 20, 1, true))
        return 3;
    webview_native::InstallCrashFilter(nullptr);
    SetCrashReportTexts("9.8.7.6", "Crash Test Product", "channel-x");
    Logger_InfoF("crasher", __LINE__, "crashing by %s", Utils::utf16ToUtf8(kind).c_str());

    if (kind == L"abort")
        std::abort();
    if (kind == L"overflow")
        return Recurse(nullptr, 0, 1LL << 40);
    volatile int* volatile target = nullptr;
    *target = 42;
    return 0;
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
    return argc == 3 ? Run(argv[1], argv[2]) : 2;
}
#else
int main(int argc, char** argv) {
    return argc == 3 ? Run(Utils::AnsiToUtf16(argv[1]), Utils::AnsiToUtf16(argv[2])) : 2;
}
#endif
