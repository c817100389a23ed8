// Small owners and loops for POSIX descriptors and child processes, shared
// by Fendrel's Linux files.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fendrel::posix {

// Owns a file descriptor from the line that opens it; closes it on every way out.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports whether the last writes reached the file.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || close(fd) == 0;
    }

private:
    int m_fd;
};

// Writes everything, retrying short writes and interruptions.
inline bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Creates every missing folder of an absolute path, new ones with the given
// mode; true when the path is a folder afterwards.
inline bool CreateFolders(const std::string& path, mode_t mode) {
    if (path.empty() || path[0] != '/')
        return false;
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return false;
        if (end == std::string::npos)
            break;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Replaces a file's contents at once: a hidden temporary file beside it is
// written, flushed to disk and renamed over it, so a reader (or a crash)
// sees the old or the new contents, never half. 0 or the errno.
inline int ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return EINVAL;
    std::string temp = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".XXXXXX";
    Fd fd(mkostemp(&temp[0], O_CLOEXEC));
    if (!fd.valid())
        return errno;
    int error = 0;
    if (fchmod(fd.get(), mode) != 0 || !WriteAll(fd.get(), bytes.data(), bytes.size()) || fsync(fd.get()) != 0)
        error = errno;
    if (!fd.Close() && error == 0)
        error = errno;
    if (error == 0 && rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        unlink(temp.c_str());
    return error;
}

// ---------------------------------------------------------------- child processes

// Shell syntax that a plain word list cannot express; a command line holding
// any of it is run by /bin/sh -c.
inline bool NeedsShell(const std::string& line) {
    if (line.find_first_of("|&;<>()$`\\'*?[]#~{}\n") != std::string::npos)
        return true;
    // An assignment in front of the command (NAME=value prog) is shell syntax too.
    const auto start = line.find_first_not_of(" \t");
    const auto end = start == std::string::npos ? start : line.find_first_of(" \t\"", start);
    return start != std::string::npos && line.substr(start, end - start).find('=') != std::string::npos;
}

// Splits words the way a Windows program's start-up code does: blanks
// separate, double quotes group, 2n backslashes before a quote give n and
// the quote toggles, 2n+1 give n and a literal quote, other backslashes are
// kept. So parameters written for Windows mean the same here.
inline std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\') {
            std::size_t n = 0;
            while (i < line.size() && line[i] == '\\')
                ++n, ++i;
            if (i < line.size() && line[i] == '"') {
                word.append(n / 2, '\\');
                if (n % 2)
                    word.push_back('"');
                else
                    quoted = !quoted;
            } else {
                word.append(n, '\\');
                --i;
            }
            inWord = true;
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

// A plain command line (UTF-8) is executed directly, so a program that does
// not exist fails to start with its errno (as CreateProcess does on Windows);
// anything with shell syntax goes through /bin/sh -c.
inline std::vector<std::string> CommandLineArgv(const std::string& line) {
    if (NeedsShell(line) || std::count(line.begin(), line.end(), '"') % 2 != 0)
        return {"/bin/sh", "-c", line};
    return SplitWords(line);
}

// posix_spawn with the start-up choices the callers need. glibc's spawn
// reports a failed exec as the start's errno, so a missing program is known
// at once rather than as an exit status later.
class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawnattr_init(&m_attr);
        // The child starts with default dispositions even if this process
        // ignores SIGPIPE (a pipeline child must die on a closed pipe).
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGCHLD);
        posix_spawnattr_setsigmask(&m_attr, &none);
        posix_spawnattr_setsigdefault(&m_attr, &defaults);
        m_flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    void Redirect(int fd, int target) { posix_spawn_file_actions_adddup2(&m_actions, fd, target); }
    void NullInput() { posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0); }
    // Own process group, like CREATE_NEW_PROCESS_GROUP: a Ctrl-C meant for
    // this program does not reach the child.
    void NewGroup() {
        posix_spawnattr_setpgroup(&m_attr, 0);
        m_flags |= POSIX_SPAWN_SETPGROUP;
    }
    // Own session (and so own process group): every descendant stays in it
    // unless it starts a session itself, which is how a whole tree is found
    // again after its middle members ended. Not combined with NewGroup.
    void NewSession() { m_flags |= POSIX_SPAWN_SETSID; }
    // The child starts in this folder; one it cannot enter fails the start
    // with that errno, as a bad directory fails a Windows launch.
    void WorkingDirectory(const std::string& folder) {
        posix_spawn_file_actions_addchdir_np(&m_actions, folder.c_str());
    }

    // 0 and the pid, or the errno of the failed start (exec failures included).
    // The program is argv[0] (searched on PATH when it has no "/") unless one is given.
    int Start(const std::vector<std::string>& argv, pid_t& pid, const std::string& program = std::string()) {
        if (argv.empty() || (program.empty() && argv[0].empty()))
            return EINVAL;
        posix_spawnattr_setflags(&m_attr, static_cast<short>(m_flags));
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const std::string& path = program.empty() ? argv[0] : program;
        const bool search = path.find('/') == std::string::npos;
        return search ? posix_spawnp(&pid, path.c_str(), &m_actions, &m_attr, args.data(), environ)
                      : posix_spawn(&pid, path.c_str(), &m_actions, &m_attr, args.data(), environ);
    }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attr;
    int m_flags = 0;
};

// Waits for a child of this process and returns its wait status.
inline int WaitChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// A launched program that nobody waits for would stay a zombie until this
// process ends; a detached thread reaps it.
inline void ReapInBackground(pid_t pid) {
    std::thread([pid] { WaitChild(pid); }).detach();
}

}  // namespace fendrel::posix
