// Waiting for a process tree: the wait must outlast every descendant, also
// one whose parent ended first. The processes are this test program doing
// the child jobs of testutil.h; each tree's last member writes a marker file
// just before it exits, so a wait that returned too early finds no marker.
#include "fendrel/file.h"
#include "fendrel/processtree.h"
#include "fendrel/utils.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#if defined(_WIN32)
#  include <windows.h>
#endif

namespace {

using testutil::ChildJob;
using testutil::SelfCommandLine;

struct Waiter {
    const char* name;
    std::function<std::uint32_t(const std::wstring& commandLine)> wait;
};

std::uint32_t HiddenCreateAndWait(const std::wstring& commandLine) {
#if defined(_WIN32)
    // The start-up information callers pass to start a program hidden.
    STARTUPINFOW hidden{};
    hidden.cb = sizeof(hidden);
    hidden.dwFlags = STARTF_USESHOWWINDOW;
    hidden.wShowWindow = SW_HIDE;
    return Utils::CreateAndWaitProcessB(commandLine, &hidden);
#else
    return Utils::CreateAndWaitProcessB(commandLine, nullptr);
#endif
}

const Waiter kWaiters[] = {
    {"ProcessTreeWaiter", [](const std::wstring& line) { return ProcessTree::ProcessTreeWaiter(L"", line); }},
    {"ProcessTreeWaiter with the program named",
     [](const std::wstring& line) { return ProcessTree::ProcessTreeWaiter(File::FullPath(), line); }},
    {"CreateAndWaitProcessB", HiddenCreateAndWait},
};

std::string Utf8(const std::filesystem::path& path) {
    return Utils::utf16ToUtf8(path.wstring());
}

}  // namespace

TEST(ProcessTree, WaitsForDescendantsOfEndedProcesses) {
    // The marker comes late enough that the started process (whose own start
    // of a child takes a while under Wine) has long ended by then.
    constexpr char kChild[] = "spawn 0 marker 2000 ";
    // The child starts a grandchild and ends before it: the grandchild is
    // adopted only once its parent has ended.
    constexpr char kGrandchild[] = "spawn 0 spawn 1500 marker 2000 ";
    struct Case {
        const Waiter& waiter;
        const char* what;
        const char* job;  // followed by the marker's path
    };
    const Case cases[] = {
        {kWaiters[0], "child", kChild},      {kWaiters[0], "grandchild", kGrandchild},
        {kWaiters[1], "child", kChild},      {kWaiters[2], "child", kChild},
        {kWaiters[2], "grandchild", kGrandchild},
    };
    testutil::TempDir dir;
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.waiter.name) + ", " + c.what);
        // One marker per row: a late writer of an earlier row cannot pass a later one.
        const std::filesystem::path marker = dir.path() / (std::to_string(++row) + " " + c.what);
        ChildJob job(c.job + Utf8(marker));
        EXPECT_EQ(0u, c.waiter.wait(SelfCommandLine()));
        EXPECT_TRUE(std::filesystem::exists(marker));
    }
}

TEST(ProcessTree, AProgramThatDoesNotExistFailsAtOnce) {
    const std::wstring missing = File::TempPath() + L"fendrel-no-such-program.exe";
    EXPECT_EQ(2u, ProcessTree::ProcessTreeWaiter(L"", L"\"" + missing + L"\" /S"));
    EXPECT_EQ(2u, ProcessTree::ProcessTreeWaiter(missing, L"setup /S"));
    EXPECT_EQ(2u, HiddenCreateAndWait(L"\"" + missing + L"\""));
}

#if defined(_WIN32)
TEST(ProcessTree, AnAdministratorIsNotAskedAgain) {
    if (!Utils::IsRunAsAdmin() && !Utils::IsProcessElevated())
        GTEST_SKIP() << "not an administrator: the call would show the elevation prompt";
    EXPECT_EQ(0u, ProcessTree::RelaunchElevated(L"--no-such-option"));
}
#else
TEST(ProcessTree, LinuxSessionKeepsOrphansAndOddNames) {
    testutil::TempDir dir;
    {
        // Both middle shells end at once: the grandchild is handed to init
        // before any poll, and only the session still ties it to the tree.
        const std::filesystem::path marker = dir.path() / "orphan";
        const std::string line = "( (sleep 1; echo done > '" + Utf8(marker) + "') & )";
        EXPECT_EQ(0u, ProcessTree::ProcessTreeWaiter(L"", Utils::utf8ToUtf16(line)));
        EXPECT_TRUE(std::filesystem::exists(marker));
    }
    {
        // A command name with blanks and parentheses, shown in /proc/<pid>/stat
        // as "(a) Z 1 1 (b)": read from the first ")" the process would look
        // like an ended one.
        const std::filesystem::path marker = dir.path() / "odd";
        ChildJob job("oddname marker 1000 " + Utf8(marker));
        EXPECT_EQ(0u, ProcessTree::ProcessTreeWaiter(L"", SelfCommandLine()));
        EXPECT_TRUE(std::filesystem::exists(marker));
    }
}
#endif
