// The process-tree waiter on Windows: process ids from K32EnumProcesses,
// parent ids from NtQueryInformationProcess (resolved by name: it is not part
// of the documented import libraries), and ShellExecuteExW's "runas" verb for
// programs that need administrator rights.
#include "../processtree.h"

#include "../logger.h"
#include "../utils.h"

#include "winhelpers.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <unordered_set>
#include <vector>

#include <psapi.h>
#include <shellapi.h>

namespace {

using fendrel::win32::ComScope;
using fendrel::win32::Handle;
using fendrel::win32::Resolve;

constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, absent from some headers
constexpr std::size_t kMaxTracked = 4096;
constexpr DWORD kSnapshotBytes = 16384;  // 4096 process ids
constexpr DWORD kPollMs = 100;

// The system's process list, at most 4096 ids; false when it cannot be read.
bool TakeSnapshot(std::vector<DWORD>& ids) {
    ids.assign(kSnapshotBytes / sizeof(DWORD), 0);
    DWORD bytes = 0;
    if (!K32EnumProcesses(ids.data(), kSnapshotBytes, &bytes)) {
        ids.clear();
        return false;
    }
    ids.resize(bytes / sizeof(DWORD));
    return true;
}

// PROCESS_BASIC_INFORMATION as ntdll fills it (winternl.h hides the parent
// behind a reserved field).
struct BasicInformation {
    LONG exitStatus;
    PVOID pebBaseAddress;
    ULONG_PTR affinityMask;
    LONG basePriority;
    ULONG_PTR uniqueProcessId;
    ULONG_PTR parentProcessId;
};
using NtQueryInformationProcessFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kProcessBasicInformation = 0;

// The parent's id; 0 for a process that cannot be opened or queried.
DWORD ParentOf(DWORD id) {
    static const auto query = Resolve<NtQueryInformationProcessFn>(L"ntdll", "NtQueryInformationProcess");
    if (query == nullptr)
        return 0;
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process.valid())
        return 0;
    BasicInformation info{};
    ULONG size = 0;
    if (query(process.get(), kProcessBasicInformation, &info, sizeof(info), &size) < 0)
        return 0;
    return static_cast<DWORD>(info.parentProcessId);
}

void WaitForTree(DWORD started) {
    std::unordered_set<DWORD> tracked{started};
    bool capLogged = false;
    std::vector<DWORD> listed;
    if (!TakeSnapshot(listed)) {
        Logger_WarnF(__FILE__, __LINE__, "process tree: the process list cannot be read (%lu); not waiting",
                     GetLastError());
        return;
    }
    for (;;) {
        if (listed.empty())
            break;
        const bool running =
            std::any_of(listed.begin(), listed.end(), [&tracked](DWORD id) { return tracked.count(id) != 0; });
        if (!running) {
            // Opening every process is costly: only once the tracked ones have
            // all ended are their children looked for.
            bool adopted = false;
            for (DWORD id : listed) {
                if (tracked.size() >= kMaxTracked) {
                    if (!capLogged)
                        Logger_WarnF(__FILE__, __LINE__,
                                     "process tree: %u processes tracked, further ones are not followed",
                                     static_cast<unsigned>(kMaxTracked));
                    capLogged = true;
                    break;
                }
                const DWORD parent = ParentOf(id);
                if (parent != 0 && tracked.count(parent) != 0 && tracked.insert(id).second)
                    adopted = true;
            }
            if (!adopted)
                break;
        }
        Sleep(kPollMs);
        if (!TakeSnapshot(listed))
            break;
    }
}

// The program of a command line and the rest, by the rule CreateProcess uses
// for the first word: quoted up to the closing quote, else up to a blank.
void SplitProgram(const std::wstring& commandLine, std::wstring& program, std::wstring& parameters) {
    std::size_t end;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        end = commandLine.find(L'"', 1);
        program = commandLine.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
        end = end == std::wstring::npos ? commandLine.size() : end + 1;
    } else {
        end = std::min(commandLine.find_first_of(L" \t"), commandLine.size());
        program = commandLine.substr(0, end);
    }
    const auto rest = commandLine.find_first_not_of(L" \t", end);
    parameters = rest == std::wstring::npos ? std::wstring() : commandLine.substr(rest);
}

// Starts a program through the elevation prompt; the new process's id, or 0
// with the reason in the thread's last error. An administrator or an elevated
// process is not asked again: its refusal would not change.
DWORD StartElevated(const std::wstring& file, const std::wstring& parameters) {
    if (Utils::IsRunAsAdmin() || Utils::IsProcessElevated()) {
        Logger_WarnF(__FILE__, __LINE__, "elevation: already an administrator, nothing to ask");
        SetLastError(kElevationRequired);
        return 0;
    }
    ComScope com;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_NO_CONSOLE;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        const DWORD error = GetLastError();
        Logger_WarnF(__FILE__, __LINE__, "elevation: %ls was not started (%lu)", file.c_str(), error);
        SetLastError(error);
        return 0;
    }
    Handle process(info.hProcess);
    const DWORD id = process.valid() ? GetProcessId(process.get()) : 0;
    if (id == 0) {
        Logger_WarnF(__FILE__, __LINE__, "elevation: the shell gave no process for %ls", file.c_str());
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::printf("Re-launched with privileges, child pid %d\n", static_cast<int>(id));
    std::fflush(stdout);
    return id;
}

std::uint32_t StartAndWait(const std::wstring& applicationName, const std::wstring& commandLine,
                           LPSTARTUPINFOW startupInfo) {
    STARTUPINFOW defaults{};
    defaults.cb = sizeof(defaults);
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    PROCESS_INFORMATION info{};
    DWORD started = 0;
    if (CreateProcessW(applicationName.empty() ? nullptr : applicationName.c_str(), line.data(), nullptr, nullptr,
                       FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                       startupInfo != nullptr ? startupInfo : &defaults, &info)) {
        // Only ids are followed from here on.
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        started = info.dwProcessId;
    } else {
        const DWORD error = GetLastError();
        if (error != kElevationRequired) {
            Logger_WarnF(__FILE__, __LINE__, "process tree: cannot start %ls (%lu)", commandLine.c_str(), error);
            return error;
        }
        // The program's manifest asks for administrator rights: that program
        // is started through the prompt. (Relaunching this program instead
        // would not run the command at all: it ignores its parameters.)
        std::wstring program, parameters;
        SplitProgram(commandLine, program, parameters);
        started = StartElevated(applicationName.empty() ? program : applicationName, parameters);
        if (started == 0)
            return GetLastError();
    }
    WaitForTree(started);
    return 0;
}

}  // namespace

std::uint32_t ProcessTree::ProcessTreeWaiter(const std::wstring& applicationName, const std::wstring& commandLine,
                                             LPSTARTUPINFOW startupInfo) {
    try {
        return StartAndWait(applicationName, commandLine, startupInfo);
    } catch (const std::exception& e) {
        Logger_ErrorF(__FILE__, __LINE__, "process tree: %s", e.what());
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD ProcessTree::RelaunchElevated(const std::wstring& parameters) {
    try {
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            Logger_WarnF(__FILE__, __LINE__, "RelaunchElevated: the program's own path is unknown (%lu)",
                         GetLastError());
            return 0;
        }
        return StartElevated(path, parameters);
    } catch (const std::exception& e) {
        Logger_ErrorF(__FILE__, __LINE__, "RelaunchElevated: %s", e.what());
        return 0;
    }
}
