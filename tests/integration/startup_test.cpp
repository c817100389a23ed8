// Runs the real program in throwaway folders and looks at what it leaves.
#include "fendrel/file.h"
#include "fendrel/utils.h"
#include "host/singleinstance.h"
#include "testutil.h"
#include "unit/trova/rule_test_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#if defined(FENDREL_WINDOWS)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

bool StartedUp(const fs::path& folder) {
    return testutil::ReadBytes(folder / "app.log").find("start-up finished") != std::string::npos;
}

#if defined(FENDREL_WINDOWS)
const wchar_t* const kProgram = L"Clean.exe";
const wchar_t* const kLibrary = L"Fendrel.dll";
const wchar_t* const kWebView = L"miniblink_4975_x32.dll";

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

// Closes the running program's main window the way the system does at
// log-off: WM_CLOSE to the window of its class.
BOOL CALLBACK CloseMainWindow(HWND window, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    // The configured class, or the window's own when the file names none.
    const std::wstring name = className;
    if (owner == static_cast<DWORD>(processId) && (name.rfind(L"cleanWin", 0) == 0 || name == L"qem-trova-main"))
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// The program started in `folder`, as a user would start it there.
class Program {
public:
    explicit Program(const fs::path& folder) : m_folder(folder) {
        std::wstring commandLine = L"\"" + (folder / kProgram).wstring() + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder.wstring().c_str(), &si, &m_pi))
            m_startError = -1000 - static_cast<int>(GetLastError());
    }
    ~Program() {
        if (m_pi.hProcess != nullptr) {
            TerminateProcess(m_pi.hProcess, 99);
            CloseHandle(m_pi.hThread);
            CloseHandle(m_pi.hProcess);
        }
    }
    // Presses OK on a message box of the program, if one is up.
    void AnswerMessageBox() { EnumWindows(PressOk, static_cast<LPARAM>(m_pi.dwProcessId)); }
    // Waits for the end; with closeWhenUp the program is asked to close
    // once its start-up has finished, as a user would close it.
    // `alsoAnswer` is another program whose message boxes this one may be
    // waiting for.
    int Wait(bool answerMessageBox, bool closeWhenUp, Program* alsoAnswer = nullptr) {
        if (m_pi.hProcess == nullptr)
            return m_startError;
        for (int waited = 0; WaitForSingleObject(m_pi.hProcess, 100) == WAIT_TIMEOUT; waited += 100) {
            if (answerMessageBox)
                AnswerMessageBox();
            if (alsoAnswer != nullptr)
                alsoAnswer->AnswerMessageBox();
            if (closeWhenUp && StartedUp(m_folder))
                EnumWindows(CloseMainWindow, static_cast<LPARAM>(m_pi.dwProcessId));
            if (waited > 30000) {
                TerminateProcess(m_pi.hProcess, 99);
                break;
            }
        }
        DWORD code = 0;
        GetExitCodeProcess(m_pi.hProcess, &code);
        CloseHandle(m_pi.hThread);
        CloseHandle(m_pi.hProcess);
        m_pi = {};
        return static_cast<int>(code);
    }

private:
    fs::path m_folder;
    PROCESS_INFORMATION m_pi{};
    int m_startError = 0;
};
#else
const wchar_t* const kProgram = L"Clean";
const wchar_t* const kLibrary = L"libFendrel.so";
const wchar_t* const kWebView = L"libminiblink.so";

// The program started in `folder`, as a user would start it there; its
// standard output and error go to files there.
class Program {
public:
    explicit Program(const fs::path& folder) : m_folder(folder) {
        m_pid = fork();
        if (m_pid == 0) {
            if (chdir(folder.c_str()) != 0)
                _exit(126);
            int err = open((folder / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err, 2);
            int out = open((folder / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            execl((folder / "Clean").c_str(), "Clean", static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Program() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    // Messages go to standard error on Linux: nothing to press.
    void AnswerMessageBox() {}
    // Waits for the end; with closeWhenUp the program gets SIGTERM once its
    // start-up has finished, as a session ending would send it.
    int Wait(bool, bool closeWhenUp, Program* = nullptr) {
        int status = 0;
        bool asked = false;
        for (int waited = 0; waitpid(m_pid, &status, WNOHANG) == 0; waited += 50) {
            if (closeWhenUp && !asked && StartedUp(m_folder))
                asked = kill(m_pid, SIGTERM) == 0;
            if (waited > 30000) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                m_pid = 0;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        m_pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    fs::path m_folder;
    pid_t m_pid = 0;
};
#endif

int RunIn(const fs::path& folder, bool answerMessageBox, bool closeWhenUp = false) {
    return Program(folder).Wait(answerMessageBox, closeWhenUp);
}

// A folder holding the program, its libraries and its page, as a user would
// unpack it. The page is never opened in a browser here.
void Install(const fs::path& folder, bool withWebView = true) {
    ruletest::SetEnv("CLEAN_NO_BROWSER", "1");
    fs::path bin = fs::path(File::Directory(L""));
    fs::copy_file(bin / kProgram, folder / kProgram);
    fs::copy_file(bin / kLibrary, folder / kLibrary);
    if (withWebView) {
        fs::copy_file(bin / kWebView, folder / kWebView);
        fs::copy(bin / "html", folder / "html", fs::copy_options::recursive);
    }
}

TEST(StartupTest, FirstRunInAnEmptyFolderWritesConfigurationAndLog) {
    testutil::TempDir dir;
    Install(dir.path());

    EXPECT_EQ(RunIn(dir.path(), false, true), 0);

    std::string config = testutil::ReadBytes(dir.path() / "config.inf");
    for (const char* section : {"[other]", "[product]", "[window]", "width = 980", "height = 720"})
        EXPECT_NE(config.find(section), std::string::npos) << section << " missing from:\n" << config;

    std::string log = testutil::ReadBytes(dir.path() / "app.log");
    ASSERT_FALSE(log.empty());
    std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[thread \d+\] \[info\] \[startup:\d+\] .*\r)");
    EXPECT_TRUE(std::regex_search(log, line)) << log;
    EXPECT_NE(log.find("start-up finished"), std::string::npos) << log;
    EXPECT_NE(log.find("exit code 0"), std::string::npos) << log;
#if defined(FENDREL_POSIX)
    // With no browser the page's address is printed for the user.
    EXPECT_NE(testutil::ReadBytes(dir.path() / "stdout.txt").find("webview: http://127.0.0.1:"), std::string::npos);
#endif
}

TEST(StartupTest, WithoutTheWebViewTheProgramSaysSoAndEndsWithOne) {
    testutil::TempDir dir;
    Install(dir.path(), false);

    EXPECT_EQ(RunIn(dir.path(), true), 1);
    std::string log = testutil::ReadBytes(dir.path() / "app.log");
    EXPECT_NE(log.find("cannot load the web view"), std::string::npos) << log;
    EXPECT_EQ(log.find("start-up finished"), std::string::npos) << log;
#if defined(FENDREL_POSIX)
    EXPECT_NE(testutil::ReadBytes(dir.path() / "stderr.txt").find("加载miniblink失败"), std::string::npos);
#endif
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
    EXPECT_EQ(RunIn(dir.path(), false, true), 0);
    const std::string log = testutil::ReadBytes(dir.path() / "app.log");
    EXPECT_NE(log.find("start-up finished"), std::string::npos) << log;
}

// The second instance ends, and the first, asked to show itself, tells the
// user that it is already running (a message box on Windows, standard error
// on Linux).
TEST(StartupTest, SecondInstanceAsksTheFirstToShowItself) {
    testutil::TempDir first, second;
    Install(first.path());
    Install(second.path());
    const std::string stamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::string config = "[other]\r\nsingleApp = 1\r\n[product]\r\nproductName = CleanShow" + stamp +
                               "\r\n[window]\r\nwindowClass = cleanWin" + stamp + "\r\n";
    testutil::WriteBytes(first.path() / "config.inf", config);
    testutil::WriteBytes(second.path() / "config.inf", config);

    Program running(first.path());
    for (int waited = 0; !StartedUp(first.path()) && waited < 30000; waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(StartedUp(first.path())) << testutil::ReadBytes(first.path() / "app.log");

    // On Windows the second instance waits until the first one's message
    // box has been answered.
    EXPECT_EQ(Program(second.path()).Wait(true, false, &running), 0);

    // The first instance's answer: its message box is up (pressed here), or
    // its text is on standard error.
    const std::string shown = "\xE6\x97\xA0\xE6\xB3\x95\xE5\x86\x8D\xE5\x90\xAF\xE5\x8A\xA8";  // "无法再启动"
    bool answered = false;
    for (int waited = 0; !answered && waited < 30000; waited += 50) {
#if defined(FENDREL_WINDOWS)
        answered = testutil::ReadBytes(first.path() / "app.log").find("0x469") != std::string::npos;
        running.AnswerMessageBox();
#else
        answered = testutil::ReadBytes(first.path() / "stderr.txt").find(shown) != std::string::npos;
#endif
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(answered) << testutil::ReadBytes(first.path() / "app.log");
    EXPECT_EQ(running.Wait(true, true), 0);
}

}  // namespace
