// Starting a program and waiting until it and every process that it, or one
// of its descendants, started have ended: installers and uninstallers often
// hand their work to a child process and exit at once.
//
// The rule, polled every 100 ms: the tree runs while a tracked process is
// alive; only when none is, the processes whose parent is a tracked one are
// adopted, and the wait ends when there are none. At most 4096 ids are
// tracked (one log line when the cap is reached).
//   Windows: process ids from K32EnumProcesses, parents from
//   NtQueryInformationProcess. A grandchild whose parent ended before it
//   was adopted is not found (the parent's id is gone from the list).
//   Linux: /proc. The program starts in a new session, and every live
//   process of that session counts as part of the tree, because Linux hands
//   the children of an ended process to another parent. Zombies count as
//   ended; a process that starts its own session (a daemon) leaves the tree.
//
//   ProcessTreeWaiter(L"", L"setup.exe /S")   => 0 once setup and its helpers ended
//   ProcessTreeWaiter(L"", L"no-such.exe")    => 2 at once (file not found)
//
// Nothing here throws; calls block and belong on a worker thread.
#pragma once

#include "platform.h"

#include <cstdint>
#include <string>

class FENDREL_API ProcessTree {
public:
    // Starts the command line (no inherited handles, its own process group;
    // Linux: its own session) and waits for the tree. applicationName may be
    // empty: then the command line's first word is the program. startupInfo
    // (Windows) shapes the window; null gives the defaults.
    // 0 when the tree has ended, or when the process list could not be read;
    // otherwise the system error number of the failed start.
    // Windows: a program that needs elevation (error 740) is started through
    // the shell's "runas" prompt and that process is waited for; a declined
    // prompt gives its error (1223), and 740 stays when this program is
    // already an administrator.
    static std::uint32_t ProcessTreeWaiter(const std::wstring& applicationName, const std::wstring& commandLine,
                                           LPSTARTUPINFOW startupInfo = nullptr);

    // Starts this program again with administrator rights and the given
    // parameters; the new process's id, or 0. 0 without asking when this
    // process is already an administrator or elevated. Writes
    // "Re-launched with privileges, child pid <id>" to the standard output.
    // Linux has no elevation prompt: 0, logged.
    static DWORD RelaunchElevated(const std::wstring& parameters);
};
