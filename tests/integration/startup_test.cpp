// Runs the real program in throwaway folders and looks at what it leaves.
#include "fendrel/file.h"
#include "fendrel/utils.h"
#include "host/singleinstance.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#if defined(FENDREL_WINDOWS)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#if defined(FENDREL_WINDOWS)
const wchar_t* const kProgram = L"Clean.exe";
const wchar_t* const kLibrary = L"Fendrel.dll";

// The second instance shows a message box and waits for OK; press it the way
// a user would, by finding the dialog of that process.
BOOL CALLBACK PressOk(HWND window, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (owner == static_cast<DWORD>(processId) && std::wstring(className) == L"#32770")
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

int RunIn(const fs::path& folder, bool answerMessageBox) {
    std::wstring commandLine = L"\"" + (folder / kProgram).wstring() + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.wstring().c_str(),
                        &si, &pi))
        return -1000 - static_cast<int>(GetLastError());
    for (int waited = 0; WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT; waited += 100) {
        if (answerMessageBox)
            EnumWindows(PressOk, static_cast<LPARAM>(pi.dwProcessId));
        if (waited > 30000) {
            TerminateProcess(pi.hProcess, 99);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
#else
const wchar_t* const kProgram = L"Clean";
const wchar_t* const kLibrary = L"libFendrel.so";

int RunIn(const fs::path& folder, bool) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        int err = open((folder / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, 2);
        execl((folder / "Clean").c_str(), "Clean", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

// A folder holding only the program and its library, as a user would unpack it.
void Install(const fs::path& folder) {
    fs::path bin = fs::path(File::Directory(L""));
    fs::copy_file(bin / kProgram, folder / kProgram);
    fs::copy_file(bin / kLibrary, folder / kLibrary);
}

TEST(StartupTest, FirstRunInAnEmptyFolderWritesConfigurationAndLog) {
    testutil::TempDir dir;
    Install(dir.path());

    EXPECT_EQ(RunIn(dir.path(), false), 0);

    std::string config = testutil::ReadBytes(dir.path() / "config.inf");
    for (const char* section : {"[other]", "[product]", "[window]", "width = 980", "height = 720"})
        EXPECT_NE(config.find(section), std::string::npos) << section << " missing from:\n" << config;

    std::string log = testutil::ReadBytes(dir.path() / "app.log");
    ASSERT_FALSE(log.empty());
    std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[thread \d+\] \[info\] \[startup:\d+\] .*\r)");
    EXPECT_TRUE(std::regex_search(log, line)) << log;
    EXPECT_NE(log.find("start-up finished"), std::string::npos) << log;
    EXPECT_NE(log.find("exit code 0"), std::string::npos) << log;
}

TEST(StartupTest, SecondInstanceEndsAtOnceWhileTheLockIsHeld) {
    testutil::TempDir dir;
    Install(dir.path());
    std::wstring product = L"CleanTest" + std::to_wstring(
        std::chrono::steady_clock::now().time_since_epoch().count());
    testutil::WriteBytes(dir.path() / "config.inf",
                         "[other]\r\nsingleApp = 1\r\n[product]\r\nproductName = " + Utils::utf16ToUtf8(product) + "\r\n");

    SingleInstanceLock first;
    ASSERT_TRUE(first.Acquire(SingleInstanceLock::NameFor(product), L"cleanWin"));

    EXPECT_EQ(RunIn(dir.path(), true), 0);
    std::string log = testutil::ReadBytes(dir.path() / "app.log");
    EXPECT_NE(log.find("another instance"), std::string::npos) << log;
    EXPECT_EQ(log.find("start-up finished"), std::string::npos) << "the second instance went on:\n" << log;
#if defined(FENDREL_POSIX)
    EXPECT_NE(testutil::ReadBytes(dir.path() / "stderr.txt").find("请勿重复运行"), std::string::npos);
#endif
}

TEST(StartupTest, WithoutSingleAppTwoInstancesRun) {
    testutil::TempDir dir;
    Install(dir.path());
    testutil::WriteBytes(dir.path() / "config.inf", "[other]\r\nsingleApp = 0\r\n[product]\r\nproductName = Shared\r\n");
    SingleInstanceLock first;
    ASSERT_TRUE(first.Acquire(SingleInstanceLock::NameFor(L"Shared"), L"cleanWin"));
    EXPECT_EQ(RunIn(dir.path(), false), 0);
    EXPECT_NE(testutil::ReadBytes(dir.path() / "app.log").find("start-up finished"), std::string::npos);
}

}  // namespace
