// The operating-system services behind the page's generic host functions:
// the start-with-the-system list, known folders, system facts, the shell,
// single-file copies, restarting the computer and firewall rules.
// Windows uses the registry, the shell and COM; Linux the freedesktop.org
// counterparts. A service Linux does not have returns its failure value and
// logs one line saying so. Nothing here throws; every call may come from any
// thread.
#pragma once

#include "platform.h"

#include <string>

// Programs started when the user logs in.
// Windows: REG_SZ values of HKCU\Software\Microsoft\Windows\CurrentVersion\Run.
// Linux: one desktop entry per name, $XDG_CONFIG_HOME/autostart/<name>.desktop
// (default ~/.config/autostart), whose Exec line is the command. The command
// is a line as the desktop launches it: words separated by blanks, a word
// with blanks in double quotes.
//   Add(L"Clean", L"/opt/clean/Clean --tray")   => 0
//   Check(L"Clean", L"/opt/clean/Clean --tray") => true
//   Check(L"Clean", L"/opt/clean/clean --tray") => false   (exact, case-sensitive)
//   Delete(L"Clean") => 0, and again => 2 (not found, on both systems)
class FENDREL_API StartupList {
public:
    // 0, or the system error code (registry error / errno). Linux refuses a
    // name that is empty, holds "/" or starts with "." with EINVAL (22).
    static DWORD Add(const std::wstring& name, const std::wstring& command);
    static DWORD Delete(const std::wstring& name);
    // True only when the entry exists and its command equals expected exactly.
    static bool Check(const std::wstring& name, const std::wstring& expected);
};

// The folders of the user's own files, by the page's number or by the
// system's folder id in braces:
//   0 Downloads, 1 Desktop, 2 Documents, 3 Pictures, 4 Videos, 5 Music.
//   Path(0) => L"C:\\Users\\ann\\Downloads"      Path(6) => L""
//   PathById(L"{374DE290-123F-4565-9164-39C4925E467B}") => the Downloads folder
// Windows: SHGetKnownFolderPath, flags and token passed through; any known
// folder id works. Linux: the XDG user directories (see userdirs.h) for the
// six ids above only (any letter case); flags and token are not used. The
// folder need not exist. Empty for anything else and on failure.
class FENDREL_API KnownFolders {
public:
    static constexpr int kCount = 6;
    static std::wstring Path(int number, DWORD flags = 0, HANDLE token = nullptr);
    static std::wstring PathById(const std::wstring& folderId, DWORD flags = 0);
    // The folder id of a number, upper case in braces; empty outside 0..5.
    static std::wstring Id(int number);
};

// Facts about this machine and its user.
class FENDREL_API SystemInfo {
public:
    static std::wstring ComputerName();  // empty on failure
    static std::wstring UserName();      // of the effective user; empty on failure
    // The system's text for an error code (FormatMessage / strerror), without
    // a trailing line end; empty when the system has no text for it.
    static std::wstring ErrorText(DWORD code);
    // Windows' system folder. Linux has none: empty (logged).
    static std::wstring SystemDirectory();
    // "major.minor": what GetVersionExW reports on Windows (the program's
    // manifest decides how new a system it may see), the kernel release on
    // Linux ("6.1"); empty when unknown.
    static std::string OsVersion();
    // Windows: GetUserDefaultUILanguage. Linux: the language of the locale
    // (Utils::UserDefaultLangId).
    static LANGID UserDefaultUILanguage();
};

// Opening things the way the desktop does.
class FENDREL_API HostShell {
public:
    // 0 on success, else a system error code; never waits for the program.
    // Windows: ShellExecuteW (success is a result above 32; when the shell
    // sets no system error its own code is returned). Linux: verb "" or
    // "open" (any case) runs an executable file, or a bare name found on
    // PATH, with the parameters (split as a Windows program would) in the
    // directory; anything else (document, folder, URL) goes to xdg-open,
    // without the parameters. "runas" gives EPERM, other verbs EINVAL. A
    // relative file is looked up in the directory. showCommand is not used.
    static DWORD Execute(HWND owner, const std::wstring& verb, const std::wstring& file,
                         const std::wstring& parameters, const std::wstring& directory, int showCommand);
    // Starts a program without waiting for it, as Execute does, and says
    // which process started: 0 and its id (0 when the system names none), or
    // the system error code with processId 0. Unlike a bare id-or-error
    // number, this tells a small process id from an error.
    // Windows: ShellExecuteExW, no error dialog; "runas" asks for elevation,
    // and a declined prompt gives ERROR_CANCELLED (1223). Linux: as Execute,
    // so "runas" gives EPERM.
    static DWORD StartProgram(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                              DWORD& processId);
    // PathFileExistsW; on Linux File::Exist (a dangling link exists too).
    static bool PathExists(const std::wstring& path);
};

// One file copied, or moved by copying and then deleting the source.
// With failIfExists an existing target fails the call and both files stay as
// they were. The result is whether the copy succeeded: a source that cannot
// be deleted afterwards is logged, and a failed copy never deletes it.
// Linux copies contents, permissions and times, and refuses links.
class FENDREL_API FileCopy {
public:
    static bool Copy(const std::wstring& source, const std::wstring& target, bool failIfExists);
    static bool Move(const std::wstring& source, const std::wstring& target, bool failIfExists);
    // As above with the 32-bit file-system redirection of 64-bit Windows off
    // (for System32 paths) when this process runs under WOW64; elsewhere the
    // same as Copy and Move.
    static bool Wow64Copy(const std::wstring& source, const std::wstring& target, bool failIfExists);
    static bool Wow64Move(const std::wstring& source, const std::wstring& target, bool failIfExists);
};

// Requests that change the whole machine. Windows only: on Linux both return
// false and log that the program does not do this there.
class FENDREL_API SystemControl {
public:
    // Enables the shutdown privilege and asks the system to end the session
    // with the ExitWindowsEx flags (0x02 reboot, ...). True when the request
    // was accepted; the machine then goes down on its own.
    static bool RestartComputer(unsigned int flags);
    // Adds one rule to the Windows firewall: protocol 6 TCP, 17 UDP, 256 any;
    // direction 1 in, 2 out; block or allow. The rule is added last, so a
    // failure leaves nothing half-added. A name is required. On success a
    // line with the rule's name goes to the standard output.
    static bool SetFirewallRule(const std::wstring& name, const std::wstring& application, long protocol,
                                long direction, bool enabled, bool block);
};
