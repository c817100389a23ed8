// Runs a program built beside the tests and collects what it printed.
#pragma once

#include "fendrel/file.h"
#include "testutil.h"

#include <filesystem>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

namespace toolrun {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

#if defined(_WIN32)
// One argument in the quoting that the C runtime's parser undoes.
inline std::wstring Quote(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        quoted.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        quoted += c;
    }
    quoted.append(slashes * 2, L'\\');
    return quoted + L"\"";
}

inline HANDLE Inheritable(const std::filesystem::path& path) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
}
#endif

// The program at `exe` (".exe" is added on Windows). The environment is
// the test's own.
inline Result RunAt(std::filesystem::path exe, const std::vector<std::wstring>& args) {
    testutil::TempDir capture;
    const std::filesystem::path outPath = capture.path() / "out.txt";
    const std::filesystem::path errPath = capture.path() / "err.txt";
    Result result;
#if defined(_WIN32)
    exe += ".exe";
    std::wstring commandLine = Quote(exe.wstring());
    for (const std::wstring& arg : args)
        commandLine += L" " + Quote(arg);
    HANDLE out = Inheritable(outPath);
    HANDLE err = Inheritable(errPath);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = INVALID_HANDLE_VALUE;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(exe.wstring().c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        result.code = static_cast<int>(code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        result.err = "cannot start " + exe.string() + ": error " + std::to_string(GetLastError());
    }
    CloseHandle(out);
    CloseHandle(err);
#else
    std::vector<std::string> narrow{exe.string()};
    for (const std::wstring& arg : args)
        narrow.push_back(std::filesystem::path(arg).string());
    std::vector<char*> argv;
    for (std::string& arg : narrow)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
    result.out += testutil::ReadBytes(outPath);
    result.err += testutil::ReadBytes(errPath);
    return result;
}

// `program` is a name in the tests' own folder ("clean-cli").
inline Result Run(const std::string& program, const std::vector<std::wstring>& args) {
    return RunAt(std::filesystem::path(File::Directory(L"")) / program, args);
}

}  // namespace toolrun
