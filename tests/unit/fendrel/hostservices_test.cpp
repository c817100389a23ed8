// Host services: the start-up list, known folders, system facts, the shell,
// single-file copies and the machine-wide requests.
// Linux runs under a temporary HOME and XDG_CONFIG_HOME. Windows cases that
// write the user's Run key run only under Wine, whose prefix is thrown away
// after the run. Nothing here restarts a computer or changes a real firewall:
// only refusals and failures are exercised.
#include "fendrel/hostservices.h"
#include "fendrel/utils.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include "fendrel/userdirs.h"
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#else
using testutil::EnvOverride;

// A temporary home with its own configuration folder.
struct FakeHome {
    testutil::TempDir dir;
    EnvOverride home{"HOME", dir.path().string()};
    EnvOverride config{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    std::string Home() const { return dir.path().string(); }
    fs::path Config() const { return dir.path() / "config"; }
};
#endif

// A name no other run uses, so a leftover from a killed run cannot interfere.
std::wstring UniqueName() {
    testutil::TempDir unique;
    return L"CleanTest-" + unique.path().filename().wstring();
}

}  // namespace

// ---------------------------------------------------------------- StartupList

TEST(StartupList, RoundTripIsExactAndDeletingTwiceReportsNotFound) {
#if defined(_WIN32)
    if (!UnderWine())
        GTEST_SKIP() << "writes the user's Run key; runs only in a throwaway Wine prefix";
    const std::wstring command = L"\"C:\\Program Files\\Clean\\Clean.exe\" /autorun";
    const std::wstring otherCase = L"\"C:\\Program Files\\Clean\\clean.exe\" /autorun";
#else
    FakeHome home;
    const std::wstring command = L"\"/opt/Clean Tool/Clean\" --autorun --limit=100%";
    const std::wstring otherCase = L"\"/opt/Clean Tool/clean\" --autorun --limit=100%";
#endif
    const std::wstring name = UniqueName();
    ASSERT_EQ(0u, StartupList::Add(name, command));
    EXPECT_TRUE(StartupList::Check(name, command));
    EXPECT_FALSE(StartupList::Check(name, otherCase));
    EXPECT_FALSE(StartupList::Check(name, command + L" "));
    EXPECT_FALSE(StartupList::Check(name, command.substr(0, command.size() - 1)));
    EXPECT_FALSE(StartupList::Check(name + L"2", command));

    // Adding again replaces the command.
    ASSERT_EQ(0u, StartupList::Add(name, otherCase));
    EXPECT_TRUE(StartupList::Check(name, otherCase));
    EXPECT_FALSE(StartupList::Check(name, command));

    EXPECT_EQ(0u, StartupList::Delete(name));
    EXPECT_FALSE(StartupList::Check(name, otherCase));
    EXPECT_EQ(2u, StartupList::Delete(name));
}

#if !defined(_WIN32)
TEST(StartupList, WritesAValidDesktopEntryAtomically) {
    FakeHome home;
    // Blanks, a backslash and a percent sign: the Exec value must escape the
    // backslash (string rule) and double the percent (field codes).
    const std::wstring command = L"\"/opt/My Apps/clean\" --root=C:\\x 100%";
    ASSERT_EQ(0u, StartupList::Add(L"Clean", command));

    const fs::path folder = home.Config() / "autostart";
    const std::string text = testutil::ReadBytes(folder / "Clean.desktop");
    EXPECT_EQ(0u, text.find("[Desktop Entry]\n"));
    EXPECT_NE(std::string::npos, text.find("\nType=Application\n"));
    EXPECT_NE(std::string::npos, text.find("\nName=Clean\n"));
    EXPECT_NE(std::string::npos, text.find("\nExec=\"/opt/My Apps/clean\" --root=C:\\\\x 100%%\n"));
    EXPECT_NE(std::string::npos, text.find("\nX-GNOME-Autostart-enabled=true\n"));
    EXPECT_TRUE(StartupList::Check(L"Clean", command));

    // Nothing but the entry is left in the folder (no temporary file).
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(std::vector<std::string>{"Clean.desktop"}, names);
    struct stat st {};
    ASSERT_EQ(0, stat((folder / "Clean.desktop").c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 0777u);

    // An entry the user hid counts as gone; Exec keys of other groups or
    // locales do not count.
    testutil::WriteBytes(folder / "Hidden.desktop",
                         "[Desktop Entry]\nType=Application\nExec=/bin/x\nHidden=true\n");
    EXPECT_FALSE(StartupList::Check(L"Hidden", L"/bin/x"));
    testutil::WriteBytes(folder / "Other.desktop",
                         "[Desktop Action New]\nExec=/bin/x\n[Desktop Entry]\nExec[de]=/bin/x\nExec = /bin/y\n");
    EXPECT_FALSE(StartupList::Check(L"Other", L"/bin/x"));
    EXPECT_TRUE(StartupList::Check(L"Other", L"/bin/y"));
}

TEST(StartupList, RefusesNamesThatLeaveOrHideTheEntry) {
    FakeHome home;
    const std::wstring names[] = {L"", L"a/b", L"../escape", L".hidden", L"..", std::wstring(L"a\0b", 3)};
    for (const auto& name : names) {
        SCOPED_TRACE(Utils::utf16ToUtf8(name));
        EXPECT_EQ(22u, StartupList::Add(name, L"/bin/true"));
        EXPECT_EQ(22u, StartupList::Delete(name));
        EXPECT_FALSE(StartupList::Check(name, L"/bin/true"));
    }
    // Nothing was written anywhere under the fake home.
    EXPECT_FALSE(fs::exists(home.Config()));
    // A name with blanks and non-ASCII letters is a fine file name.
    EXPECT_EQ(0u, StartupList::Add(L"Clean \u00e9t\u00e9", L"/bin/true"));
    EXPECT_TRUE(StartupList::Check(L"Clean \u00e9t\u00e9", L"/bin/true"));
}

TEST(StartupList, FallsBackToHomeConfigWhenXdgConfigHomeIsUnsetOrRelative) {
    for (const std::optional<std::string>& config : {std::optional<std::string>(), std::optional<std::string>("rel/cfg")}) {
        testutil::TempDir dir;
        EnvOverride home("HOME", dir.path().string());
        EnvOverride xdg("XDG_CONFIG_HOME", config);
        ASSERT_EQ(0u, StartupList::Add(L"Clean", L"/bin/true"));
        EXPECT_TRUE(fs::exists(dir.path() / ".config" / "autostart" / "Clean.desktop"));
        EXPECT_FALSE(fs::exists("rel"));
    }
}
#endif

// ---------------------------------------------------------------- KnownFolders

TEST(KnownFolders, SixFoldersByNumberAndById) {
#if !defined(_WIN32)
    FakeHome home;  // no user-dirs.dirs: the defaults
#endif
    for (int number = 0; number < KnownFolders::kCount; ++number) {
        SCOPED_TRACE(number);
        const std::wstring path = KnownFolders::Path(number);
        EXPECT_FALSE(path.empty());
        // Folder ids are read in any letter case.
        std::wstring lower = KnownFolders::Id(number);
        for (auto& c : lower)
            c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
        EXPECT_EQ(path, KnownFolders::PathById(lower));
        EXPECT_EQ(path, KnownFolders::PathById(KnownFolders::Id(number)));
    }
    EXPECT_EQ(L"{374DE290-123F-4565-9164-39C4925E467B}", KnownFolders::Id(0));
    for (const int number : {-1, 6, 1000})
        EXPECT_TRUE(KnownFolders::Path(number).empty()) << number;
    for (const wchar_t* id : {L"", L"Downloads", L"{374DE290-123F-4565-9164-39C4925E467}",
                              L"374DE290-123F-4565-9164-39C4925E467B", L"{00000000-0000-0000-0000-000000000000}"})
        EXPECT_TRUE(KnownFolders::PathById(id).empty()) << Utils::utf16ToUtf8(id);
    // The six are different folders.
    for (int a = 0; a < KnownFolders::kCount; ++a)
        for (int b = a + 1; b < KnownFolders::kCount; ++b)
            EXPECT_NE(KnownFolders::Path(a), KnownFolders::Path(b)) << a << " " << b;
}

#if !defined(_WIN32)
TEST(KnownFolders, ReadsUserDirsWithDefaultsForWhatIsMissing) {
    FakeHome home;
    fs::create_directories(home.Config());
    testutil::WriteBytes(home.Config() / "user-dirs.dirs",
                         "# XDG_DOWNLOAD_DIR=\"/commented/out\"\n"
                         "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                         "XDG_DOWNLOAD_DIR=\"/data/downloads/\"\n"
                         "  XDG_DOCUMENTS_DIR = \"$HOME/My \\\"Docs\\\" \\$x\"\n"
                         "XDG_PICTURES_DIR=\"Pictures\"\n"   // relative: ignored
                         "XDG_VIDEOS_DIR=\"$HOMEVIDEOS\"\n"  // not $HOME: ignored
                         "XDG_DESKTOP_DIR=\"$HOME\"\n");     // the last line for a key counts
    const std::string h = home.Home();
    const std::string expected[KnownFolders::kCount] = {
        "/data/downloads", h, h + "/My \"Docs\" $x", h + "/Pictures", h + "/Videos", h + "/Music"};
    for (int number = 0; number < KnownFolders::kCount; ++number)
        EXPECT_EQ(expected[number], Utils::utf16ToUtf8(KnownFolders::Path(number))) << number;
}

TEST(KnownFolders, SettingAFolderKeepsTheRestOfTheFile) {
    FakeHome home;
    fs::create_directories(home.Config());
    const fs::path file = home.Config() / "user-dirs.dirs";
    testutil::WriteBytes(file, "# written by hand\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");

    const std::string h = home.Home();
    ASSERT_TRUE(UserDirs::SetFolder("DOWNLOAD", h + "/New \"Dl\""));
    ASSERT_TRUE(UserDirs::SetFolder("VIDEOS", "/mnt/$films"));
    EXPECT_EQ("# written by hand\n"
              "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n"
              "XDG_DOWNLOAD_DIR=\"$HOME/New \\\"Dl\\\"\"\n"
              "XDG_VIDEOS_DIR=\"/mnt/\\$films\"\n",
              testutil::ReadBytes(file));
    EXPECT_EQ(h + "/New \"Dl\"", UserDirs::Folder("DOWNLOAD"));
    EXPECT_EQ("/mnt/$films", UserDirs::Folder("VIDEOS"));
    EXPECT_EQ(h + "/Tunes", UserDirs::Folder("MUSIC"));

    // A home that is only a prefix of the path's first folder is not home.
    ASSERT_TRUE(UserDirs::SetFolder("PICTURES", h + "x/p"));
    EXPECT_NE(std::string::npos, testutil::ReadBytes(file).find("XDG_PICTURES_DIR=\"" + h + "x/p\""));
    EXPECT_FALSE(UserDirs::SetFolder("PICTURES", "relative/p"));
    EXPECT_EQ(h + "x/p", UserDirs::Folder("PICTURES"));
}
#endif

// ---------------------------------------------------------------- SystemInfo

TEST(SystemInfo, FactsAreThereWhereTheSystemHasThem) {
    EXPECT_FALSE(SystemInfo::ComputerName().empty());
    EXPECT_FALSE(SystemInfo::UserName().empty());
    EXPECT_TRUE(std::regex_match(SystemInfo::OsVersion(), std::regex("[0-9]+\\.[0-9]+"))) << SystemInfo::OsVersion();
    EXPECT_NE(0, SystemInfo::UserDefaultUILanguage());

    const std::wstring notFound = SystemInfo::ErrorText(2);
    EXPECT_FALSE(notFound.empty());
    EXPECT_NE(L'\n', notFound.empty() ? L'\n' : notFound.back());
    EXPECT_TRUE(SystemInfo::ErrorText(0x2000FFFFu).empty());  // no system text

#if defined(_WIN32)
    const std::wstring system = SystemInfo::SystemDirectory();
    EXPECT_FALSE(system.empty());
    EXPECT_TRUE(HostShell::PathExists(system));
#else
    EXPECT_TRUE(SystemInfo::SystemDirectory().empty());
#endif
}

// ---------------------------------------------------------------- HostShell

TEST(HostShell, MissingFilesAndUnsupportedVerbsFail) {
    testutil::TempDir dir;
    const std::wstring missing = dir / L"missing.exe";
    EXPECT_NE(0u, HostShell::Execute(nullptr, L"open", missing, L"", L"", 1));
    EXPECT_NE(0u, HostShell::Execute(nullptr, L"", missing, L"-x", dir.wstr(), 1));
    EXPECT_FALSE(HostShell::PathExists(missing));
    EXPECT_TRUE(HostShell::PathExists(dir.wstr()));
#if !defined(_WIN32)
    EXPECT_EQ(2u, HostShell::Execute(nullptr, L"open", L"clean-test-no-such-program", L"", L"", 1));
    EXPECT_EQ(2u, HostShell::Execute(nullptr, L"open", L"sub/missing", L"", dir.wstr(), 1));
    EXPECT_EQ(static_cast<DWORD>(EPERM), HostShell::Execute(nullptr, L"RunAs", L"/bin/true", L"", L"", 1));
    EXPECT_EQ(static_cast<DWORD>(EINVAL), HostShell::Execute(nullptr, L"print", L"/bin/true", L"", L"", 1));
#endif
}

TEST(HostShell, RunsAProgramInItsDirectoryWithTheParameters) {
    testutil::TempDir dir;
    // A script that writes its arguments, one a line, to a file in its
    // working directory, and renames it only when it is complete.
#if defined(_WIN32)
    const std::wstring script = L"tool.cmd";
    testutil::WriteBytes(dir.path() / script, "@echo %1> out.tmp\r\n@echo %~2>> out.tmp\r\n@move out.tmp marker >nul\r\n");
    const std::string expected = "one\r\ntwo three\r\n";
#else
    const std::wstring script = L"tool.sh";
    testutil::WriteBytes(dir.path() / script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > out.tmp && mv out.tmp marker\n");
    fs::permissions(dir.path() / script, fs::perms::owner_all);
    const std::string expected = "one\ntwo three\n";
#endif
    // Relative to the directory, which is not this process's; success is 0,
    // not the shell's instance value.
    ASSERT_EQ(0u, HostShell::Execute(nullptr, L"open", script, L"one \"two three\"", dir.wstr(), 0));
    // The program is not waited for: give it a generous while to finish.
    for (int i = 0; i < 1000 && !fs::exists(dir.path() / "marker"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(expected, testutil::ReadBytes(dir.path() / "marker"));
}

// The id StartProgram gives is the started program's own (Linux: the script
// writes $$); a failed start is an error with no id, so no caller can take
// an error number for a process.
TEST(HostShell, StartProgramTellsTheProcessFromAFailure) {
    testutil::TempDir dir;
    const fs::path marker = dir.path() / "marker";
#if defined(_WIN32)
    const std::wstring script = dir / L"tool.cmd";
    testutil::WriteBytes(dir.path() / "tool.cmd", "@echo started> \"%~1.tmp\"\r\n@move \"%~1.tmp\" \"%~1\" >nul\r\n");
#else
    const std::wstring script = dir / L"tool.sh";
    testutil::WriteBytes(dir.path() / "tool.sh", "#!/bin/sh\necho $$ > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"\n");
    fs::permissions(dir.path() / "tool.sh", fs::perms::owner_all);
#endif
    DWORD processId = 0;
    ASSERT_EQ(0u, HostShell::StartProgram(L"", script, L"\"" + marker.wstring() + L"\"", processId));
    EXPECT_NE(0u, processId);
    // The program is not waited for: give it a generous while to finish.
    for (int i = 0; i < 1000 && !fs::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
#if defined(_WIN32)
    EXPECT_EQ("started\r\n", testutil::ReadBytes(marker));
#else
    EXPECT_EQ(std::to_string(processId) + "\n", testutil::ReadBytes(marker));
#endif

    struct Case {
        const wchar_t* verb;
        std::wstring file;
        DWORD error;  // 0: any error
    };
    const Case failures[] = {
        {L"", dir / L"missing.exe", 0},
#if !defined(_WIN32)
        {L"runas", L"/bin/true", static_cast<DWORD>(EPERM)},
        {L"", L"clean-test-no-such-program", static_cast<DWORD>(ENOENT)},
#endif
    };
    for (const Case& c : failures) {
        processId = 1;
        const DWORD error = HostShell::StartProgram(c.verb, c.file, L"", processId);
        EXPECT_NE(0u, error) << Utils::utf16ToUtf8(c.file);
        if (c.error != 0) {
            EXPECT_EQ(c.error, error);
        }
        EXPECT_EQ(0u, processId);
    }
}

// ---------------------------------------------------------------- FileCopy

TEST(FileCopy, CopyAndMoveKeepFilesIntactWhenRefused) {
    using Operation = bool (*)(const std::wstring&, const std::wstring&, bool);
    struct Variant {
        const char* name;
        Operation copy;
        Operation move;
    };
    const Variant variants[] = {{"plain", &FileCopy::Copy, &FileCopy::Move},
                                {"wow64", &FileCopy::Wow64Copy, &FileCopy::Wow64Move}};
    struct Case {
        const char* name;
        bool sourceExists, targetExists, failIfExists, move;
        bool result;
        const char* sourceAfter;  // null: gone
        const char* targetAfter;  // null: absent
    };
    const Case cases[] = {
        {"copy to a new file", true, false, true, false, true, "new", "new"},
        {"copy over a file", true, true, false, false, true, "new", "new"},
        {"copy refused by an existing file", true, true, true, false, false, "new", "old"},
        {"move to a new file", true, false, true, true, true, nullptr, "new"},
        {"move over a file", true, true, false, true, true, nullptr, "new"},
        {"move refused by an existing file", true, true, true, true, false, "new", "old"},
        {"copy of a missing file", false, false, false, false, false, nullptr, nullptr},
        {"move of a missing file onto a file", false, true, false, true, false, nullptr, "old"},
    };
    for (const auto& variant : variants) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(variant.name) + ": " + c.name);
            testutil::TempDir dir;
            const fs::path source = dir.path() / "source.dat";
            const fs::path target = dir.path() / "target.dat";
            if (c.sourceExists)
                testutil::WriteBytes(source, "new");
            if (c.targetExists)
                testutil::WriteBytes(target, "old");
            const Operation operation = c.move ? variant.move : variant.copy;
            EXPECT_EQ(c.result, operation(source.wstring(), target.wstring(), c.failIfExists));
            EXPECT_EQ(c.sourceAfter != nullptr, fs::exists(source));
            if (c.sourceAfter != nullptr) {
                EXPECT_EQ(c.sourceAfter, testutil::ReadBytes(source));
            }
            EXPECT_EQ(c.targetAfter != nullptr, fs::exists(target));
            if (c.targetAfter != nullptr) {
                EXPECT_EQ(c.targetAfter, testutil::ReadBytes(target));
            }
        }
    }
}

// ---------------------------------------------------------------- SystemControl

TEST(SystemControl, RefusesWithoutTouchingTheMachine) {
    // A rule without a name is refused before the firewall is asked.
    EXPECT_FALSE(SystemControl::SetFirewallRule(L"", L"C:\\x.exe", 6, 1, true, true));
#if defined(_WIN32)
    // Wine 8 offers the firewall objects but enforces and keeps nothing, so
    // there the whole sequence runs and is accepted; on real Windows this
    // would add a rule, so it runs under Wine only. Restarting is never
    // called here: under Wine it would end the test's session.
    if (!UnderWine())
        GTEST_SKIP() << "would change the real firewall";
    EXPECT_TRUE(SystemControl::SetFirewallRule(UniqueName(), L"C:\\x.exe", 6, 1, true, true));
#else
    EXPECT_FALSE(SystemControl::RestartComputer(0x02));
    EXPECT_FALSE(SystemControl::SetFirewallRule(L"Clean", L"/opt/clean/Clean", 6, 1, true, true));
#endif
}
