// The process-tree waiter on Linux: the program starts in a session of its
// own, and /proc tells which processes still belong to it. Children of an
// ended process are handed to init (or a subreaper), so parent ids alone
// would lose a grandchild whose parent already ended; the session keeps it.
#include "../processtree.h"

#include "../logger.h"
#include "../utils.h"

#include "posixhelpers.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <vector>

#include <dirent.h>

namespace {

constexpr std::size_t kMaxTracked = 4096;
constexpr auto kPoll = std::chrono::milliseconds(100);

struct ProcStat {
    pid_t pid = 0;
    char state = '?';
    pid_t parent = 0;
    pid_t session = 0;
    unsigned long long startTime = 0;  // clock ticks after boot; tells a reused id apart
};

// One line of /proc/<pid>/stat. The command name (field 2) is in parentheses
// and may itself hold blanks and parentheses, so the fields are read after
// the last ")": state, parent, group, session, ..., start time (field 22).
bool ParseStat(const std::string& text, ProcStat& out) {
    const auto close = text.rfind(')');
    if (close == std::string::npos || std::sscanf(text.c_str(), "%d", &out.pid) != 1)
        return false;
    std::istringstream fields(text.substr(close + 1));
    std::string skip;
    fields >> out.state >> out.parent >> skip >> out.session;
    for (int field = 7; field < 22 && fields; ++field)
        fields >> skip;
    fields >> out.startTime;
    return !fields.fail();
}

bool ReadStat(pid_t pid, ProcStat& out) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    return std::getline(in, line) && ParseStat(line, out);
}

// Every process that has not ended (zombies have: only their parent's wait
// is missing). False when /proc cannot be read.
bool TakeSnapshot(std::vector<ProcStat>& live) {
    live.clear();
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return false;
    while (const dirent* entry = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0])))
            continue;
        ProcStat stat;
        if (ReadStat(static_cast<pid_t>(std::atol(entry->d_name)), stat) && stat.state != 'Z' && stat.state != 'X')
            live.push_back(stat);  // a process that vanished meanwhile is simply not listed
    }
    closedir(proc);
    return true;
}

// Tracked ids with their start times; a process that reuses an ended one's
// id started later and is not taken for it.
class Tracked {
public:
    bool Add(const ProcStat& stat) {
        if (m_ids.size() >= kMaxTracked) {
            if (!m_capLogged)
                Logger_WarnF(__FILE__, __LINE__, "process tree: %zu processes tracked, further ones are not followed",
                             kMaxTracked);
            m_capLogged = true;
            return false;
        }
        return m_ids.emplace(stat.pid, stat.startTime).second;
    }
    bool Is(const ProcStat& stat) const {
        const auto it = m_ids.find(stat.pid);
        return it != m_ids.end() && it->second == stat.startTime;
    }
    bool IsParentOf(const ProcStat& stat) const {
        const auto it = m_ids.find(stat.parent);
        return it != m_ids.end() && stat.startTime >= it->second;
    }

private:
    std::unordered_map<pid_t, unsigned long long> m_ids;
    bool m_capLogged = false;
};

void WaitForTree(pid_t started) {
    const pid_t session = started;  // the started process leads its own session
    Tracked tracked;
    ProcStat first;
    first.pid = started;
    // Not yet reaped, so its /proc entry is there whatever it does meanwhile.
    ReadStat(started, first);
    tracked.Add(first);

    bool reaped = false;
    std::vector<ProcStat> live;
    for (;;) {
        // Our own child would otherwise stay a zombie while we watch it.
        if (!reaped) {
            int status = 0;
            reaped = waitpid(started, &status, WNOHANG) == started;
        }
        if (!TakeSnapshot(live)) {
            Logger_WarnF(__FILE__, __LINE__, "process tree: /proc cannot be read (errno %d); not waiting", errno);
            break;
        }
        if (live.empty())
            break;
        bool running = false;
        for (const ProcStat& stat : live) {
            if (stat.session == session || tracked.Is(stat)) {
                running = true;
                break;
            }
        }
        if (!running) {
            bool adopted = false;
            for (const ProcStat& stat : live) {
                if (tracked.IsParentOf(stat) && tracked.Add(stat))
                    adopted = true;
            }
            if (!adopted)
                break;
        }
        std::this_thread::sleep_for(kPoll);
    }
    if (!reaped) {
        int status = 0;
        if (waitpid(started, &status, WNOHANG) != started)
            fendrel::posix::ReapInBackground(started);  // given up on a still running child
    }
}

}  // namespace

std::uint32_t ProcessTree::ProcessTreeWaiter(const std::wstring& applicationName, const std::wstring& commandLine,
                                             LPSTARTUPINFOW) {
    try {
        const std::string line = Utils::utf16ToUtf8(commandLine);
        const std::string program = Utils::utf16ToUtf8(applicationName);
        // With a program named, the command line is its argument list
        // (argv[0] first), split as a Windows program would split it.
        std::vector<std::string> argv =
            program.empty() ? fendrel::posix::CommandLineArgv(line) : fendrel::posix::SplitWords(line);
        if (!program.empty() && argv.empty())
            argv.push_back(program);
        fendrel::posix::SpawnSetup setup;
        setup.NewSession();
        pid_t pid = 0;
        const int error = setup.Start(argv, pid, program);
        if (error != 0) {
            Logger_WarnF(__FILE__, __LINE__, "process tree: cannot start %s (errno %d)",
                         program.empty() ? line.c_str() : program.c_str(), error);
            return static_cast<std::uint32_t>(error);
        }
        WaitForTree(pid);
        return 0;
    } catch (const std::exception& e) {
        Logger_ErrorF(__FILE__, __LINE__, "process tree: %s", e.what());
        return ENOMEM;
    }
}

DWORD ProcessTree::RelaunchElevated(const std::wstring&) {
    Logger_WarnF(__FILE__, __LINE__, "RelaunchElevated: Linux has no elevation prompt; not relaunched");
    return 0;
}
