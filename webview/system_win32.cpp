#include "system.h"

#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace wke::sys {
namespace {

std::wstring EnvironmentFolder(const wchar_t* name) {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::wstring FindBrowser() {
    struct Place {
        const wchar_t* root;
        const wchar_t* rest;
    };
    static const Place places[] = {
        {L"ProgramFiles(x86)", L"\\Microsoft\\Edge\\Application\\msedge.exe"},
        {L"ProgramFiles", L"\\Microsoft\\Edge\\Application\\msedge.exe"},
        {L"ProgramFiles", L"\\Google\\Chrome\\Application\\chrome.exe"},
        {L"ProgramFiles(x86)", L"\\Google\\Chrome\\Application\\chrome.exe"},
        {L"LOCALAPPDATA", L"\\Google\\Chrome\\Application\\chrome.exe"},
    };
    for (const auto& place : places) {
        std::wstring root = EnvironmentFolder(place.root);
        if (root.empty())
            continue;
        std::wstring candidate = root + place.rest;
        if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES)
            return candidate;
    }
    return {};
}

}  // namespace

bool RandomBytes(unsigned char* out, std::size_t size) {
    return BCryptGenRandom(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

bool HasDisplay() {
    return true;
}

bool OpenBrowser(const std::string& url, const std::string& browserPath) {
    std::wstring wideUrl = Utils::utf8ToUtf16(url);
    std::wstring browser = browserPath.empty() ? FindBrowser() : Utils::utf8ToUtf16(browserPath);
    if (!browser.empty()) {
        std::wstring commandLine = L"\"" + browser + L"\" --app=" + wideUrl;
        std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (CreateProcessW(browser.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            LOG_INFO_W(L"webview: opening the page with %ls in app mode", browser.c_str());
            return true;
        }
        LOG_WARN_W(L"webview: cannot start %ls: error %lu", browser.c_str(), GetLastError());
    }
    auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wideUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) {
        LOG_WARN("webview: the default browser could not be started: %d", static_cast<int>(result));
        return false;
    }
    LOG_INFO("webview: opening the page with the default browser");
    return true;
}

}  // namespace wke::sys
