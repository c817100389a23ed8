// Host services on Linux: the start-up list is the XDG autostart folder, known
// folders are the XDG user directories, the shell is xdg-open. Restarting the
// machine and firewall rules are not this program's business on Linux.
#include "../hostservices.h"

#include "../file.h"
#include "../fsops.h"
#include "../logger.h"
#include "../userdirs.h"
#include "../utils.h"
#include "posixhelpers.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fendrel::posix {
// Defined in utils_posix.cpp.
int SpawnDetachedIn(const std::vector<std::string>& argv, const std::string& directory, pid_t& pid);
std::vector<std::string> SplitCommandWords(const std::string& line);
}  // namespace fendrel::posix

namespace {

std::string Native(const std::wstring& text) {
    return Utils::utf16ToUtf8(text);
}

// ---------------------------------------------------------------- autostart

std::string AutostartFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return std::string(config) + "/autostart";
    const std::string home = UserDirs::Home();
    return home.empty() ? std::string() : home + "/.config/autostart";
}

// The entry's file, or empty for a name that would leave the folder or hide
// the file ("", "a/b", ".x", a NUL inside).
std::string EntryPath(const std::wstring& name) {
    if (name.empty() || name[0] == L'.' || name.find_first_of(std::wstring(L"/\0", 2)) != std::wstring::npos)
        return {};
    const std::string folder = AutostartFolder();
    return folder.empty() ? std::string() : folder + "/" + Native(name) + ".desktop";
}

// A value of type string in a desktop entry: a backslash escapes, line ends
// and tabs are written as \n \r \t, and a blank at either end as \s (a
// reader strips blanks around the value).
std::string EscapeValue(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == ' ' && (i == 0 || i + 1 == text.size()))
            out += "\\s";
        else
            out.push_back(c);
    }
    return out;
}

std::string UnescapeValue(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char c = text[++i];
        out.push_back(c == 's' ? ' ' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
    }
    return out;
}

// In an Exec line "%" starts a field code that the launcher replaces; a
// literal one is written "%%".
std::string ExecText(const std::wstring& command) {
    std::string out;
    for (const char c : Native(command)) {
        out.push_back(c);
        if (c == '%')
            out.push_back('%');
    }
    return out;
}

// The unescaped value of a key in the [Desktop Entry] group; false when absent.
bool ReadKey(const std::string& text, const std::string& key, std::string& value) {
    std::istringstream lines(text);
    bool inGroup = false;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inGroup || line.empty() || line[0] == '#')
            continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string name = line.substr(0, equals);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        if (name != key)
            continue;  // "Exec[de]" and the like are other keys
        const auto start = line.find_first_not_of(" \t", equals + 1);
        value = UnescapeValue(start == std::string::npos ? std::string() : line.substr(start));
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- shell

// "https://...", "mailto:..." and the like (RFC 3986 scheme, two letters or more).
bool IsUrl(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (std::size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

std::string CurrentDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// ---------------------------------------------------------------- logging

void LogOnce(std::atomic_flag& logged, const char* message) {
    if (!logged.test_and_set())
        LOG_INFO("%s", message);
}

}  // namespace

// ---------------------------------------------------------------- StartupList

DWORD StartupList::Add(const std::wstring& name, const std::wstring& command) {
    const std::string path = EntryPath(name);
    if (path.empty()) {
        LOG_WARN_W(L"StartupList: refused the entry name \"%ls\"", name.c_str());
        return EINVAL;
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    // Missing configuration folders are created private to the user, as the
    // XDG base directories want them.
    if (!fendrel::posix::CreateFolders(folder, 0700)) {
        const int error = errno;
        LOG_WARN("StartupList: cannot create %s: %s", folder.c_str(), std::strerror(error));
        return static_cast<DWORD>(error);
    }
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=" + EscapeValue(Native(name)) + "\n"
                              "Exec=" + EscapeValue(ExecText(command)) + "\n"
                              "X-GNOME-Autostart-enabled=true\n";
    const int error = fendrel::posix::ReplaceFile(path, entry, 0644);
    if (error != 0)
        LOG_WARN("StartupList: cannot write %s: %s", path.c_str(), std::strerror(error));
    return static_cast<DWORD>(error);
}

DWORD StartupList::Delete(const std::wstring& name) {
    const std::string path = EntryPath(name);
    if (path.empty()) {
        LOG_WARN_W(L"StartupList: refused the entry name \"%ls\"", name.c_str());
        return EINVAL;
    }
    // ENOENT is 2, the code Windows gives for a missing value.
    return unlink(path.c_str()) == 0 ? 0 : static_cast<DWORD>(errno);
}

bool StartupList::Check(const std::wstring& name, const std::wstring& expected) {
    const std::string path = EntryPath(name);
    if (path.empty())
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    std::string exec, hidden;
    // A hidden entry counts as deleted for the session manager.
    if (ReadKey(text.str(), "Hidden", hidden) && hidden == "true")
        return false;
    return ReadKey(text.str(), "Exec", exec) && exec == ExecText(expected);
}

// ---------------------------------------------------------------- KnownFolders

std::wstring KnownFolders::Path(int number, DWORD flags, HANDLE token) {
    static const char* const kKeys[kCount] = {"DOWNLOAD", "DESKTOP", "DOCUMENTS", "PICTURES", "VIDEOS", "MUSIC"};
    if (number < 0 || number >= kCount)
        return {};
    return Utils::utf8ToUtf16(UserDirs::Folder(kKeys[number]));
}

std::wstring KnownFolders::PathById(const std::wstring& folderId, DWORD flags) {
    // Folder ids are case-insensitive, as CLSIDFromString reads them.
    std::wstring upper = folderId;
    for (auto& c : upper)
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    for (int number = 0; number < kCount; ++number) {
        if (upper == Id(number))
            return Path(number, flags);
    }
    return {};
}

// ---------------------------------------------------------------- SystemInfo

std::wstring SystemInfo::ComputerName() {
    char name[256] = {};
    if (gethostname(name, sizeof(name) - 1) != 0) {
        LOG_WARN("SystemInfo: gethostname failed: %s", std::strerror(errno));
        return {};
    }
    return Utils::utf8ToUtf16(name);
}

std::wstring SystemInfo::UserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    const int error = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error != 0 || found == nullptr || found->pw_name == nullptr) {
        LOG_WARN("SystemInfo: user %u has no entry in the password database", static_cast<unsigned>(geteuid()));
        return {};
    }
    return Utils::utf8ToUtf16(found->pw_name);
}

std::wstring SystemInfo::ErrorText(DWORD code) {
    char buffer[256] = {};
    // The GNU strerror_r: returns the text, which may not be in the buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof(buffer));
    // glibc invents "Unknown error N" where Windows has no text at all.
    if (text == nullptr || code > 0x7FFFFFFFu || std::strncmp(text, "Unknown error", 13) == 0)
        return {};
    return Utils::utf8ToUtf16(text);
}

std::wstring SystemInfo::SystemDirectory() {
    static std::atomic_flag logged = ATOMIC_FLAG_INIT;
    LogOnce(logged, "SystemInfo: Linux has no system directory (Windows' System32); reporting none");
    return {};
}

std::string SystemInfo::OsVersion() {
    const std::string version = Utils::GetSystem();  // "." when uname gives no number
    return version == "." ? std::string() : version;
}

LANGID SystemInfo::UserDefaultUILanguage() {
    return Utils::UserDefaultLangId();
}

// ---------------------------------------------------------------- HostShell

namespace {

// Execute and StartProgram; `started` gets the child's id.
DWORD Launch(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
             const std::wstring& directory, pid_t& started) {
    started = 0;
    const std::wstring action = Utils::toLower(verb);
    if (action == L"runas") {
        // No elevation prompt exists to ask; a graphical sudo front end is a
        // different program with its own policy.
        LOG_WARN_W(L"ShellExecute: elevation (verb runas) is not available on Linux; not starting %ls", file.c_str());
        return EPERM;
    }
    if (!action.empty() && action != L"open") {
        LOG_WARN_W(L"ShellExecute: the verb \"%ls\" is not supported on Linux", verb.c_str());
        return EINVAL;
    }
    const std::string target = Native(file);
    if (target.empty())
        return ENOENT;

    // Relative paths mean the same for the check here and for the child
    // started in the directory: both are made absolute first.
    std::string folder = Native(directory);
    const std::string cwd = CurrentDirectory();
    if (!folder.empty() && folder[0] != '/')
        folder = cwd + "/" + folder;
    const std::string located = target[0] == '/' ? target : (folder.empty() ? cwd : folder) + "/" + target;

    std::vector<std::string> argv;
    struct stat st {};
    if (stat(located.c_str(), &st) == 0) {
        if (S_ISREG(st.st_mode) && access(located.c_str(), X_OK) == 0) {
            argv = {located};
            for (auto& word : fendrel::posix::SplitCommandWords(Native(parameters)))
                argv.push_back(std::move(word));
        } else {
            argv = {"xdg-open", located};  // documents and folders
        }
    } else if (IsUrl(target)) {
        argv = {"xdg-open", target};
    } else if (target.find('/') == std::string::npos) {
        argv = {target};  // a program name, searched on PATH
        for (auto& word : fendrel::posix::SplitCommandWords(Native(parameters)))
            argv.push_back(std::move(word));
    } else {
        LOG_WARN("ShellExecute: %s does not exist", located.c_str());
        return ENOENT;
    }

    pid_t pid = 0;
    const int error = fendrel::posix::SpawnDetachedIn(argv, folder, pid);
    if (error != 0) {
        if (argv[0] == "xdg-open" && error == ENOENT)
            LOG_WARN("ShellExecute: xdg-open is not installed; cannot open %s", argv[1].c_str());
        else
            LOG_WARN("ShellExecute: cannot start %s: %s", argv[0].c_str(), std::strerror(error));
        return static_cast<DWORD>(error);
    }
    started = pid;
    return 0;
}

}  // namespace

DWORD HostShell::Execute(HWND, const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                         const std::wstring& directory, int) {
    pid_t started = 0;
    return Launch(verb, file, parameters, directory, started);
}

DWORD HostShell::StartProgram(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                              DWORD& processId) {
    pid_t started = 0;
    const DWORD error = Launch(verb, file, parameters, L"", started);
    processId = static_cast<DWORD>(started);
    return error;
}

bool HostShell::PathExists(const std::wstring& path) {
    return File::Exist(path);
}

// ---------------------------------------------------------------- FileCopy

bool FileCopy::Copy(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    // Opens the target exclusively when it must not exist, so a file that
    // appears meanwhile is not overwritten either.
    if (FileSystem::CopyFile(Native(source), Native(target), !failIfExists))
        return true;
    LOG_WARN_W(L"FileCopy: cannot copy %ls to %ls", source.c_str(), target.c_str());
    return false;
}

bool FileCopy::Wow64Copy(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    return Copy(source, target, failIfExists);  // no file-system redirection here
}

bool FileCopy::Wow64Move(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    return Move(source, target, failIfExists);
}

// ---------------------------------------------------------------- SystemControl

bool SystemControl::RestartComputer(unsigned int flags) {
    LOG_WARN("RestartComputer: this program does not restart the machine on Linux; nothing done");
    return false;
}

bool SystemControl::SetFirewallRule(const std::wstring& name, const std::wstring& application, long protocol,
                                    long direction, bool enabled, bool block) {
    LOG_WARN("SetFirewallRule: Linux has no system-wide firewall interface a user program may use; no rule added");
    return false;
}
