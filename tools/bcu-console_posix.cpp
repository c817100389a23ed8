// Linux half of the export tool: the package managers a desktop user
// installs programs with. Each is asked through its own command-line
// front end with a fixed argument list (no shell), and a front end that is
// not installed is skipped.
#include "bcu-console.h"

#include "fendrel/posix/posixhelpers.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <locale>
#include <sstream>

#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bcu {
namespace {

struct Captured {
    int startError = 0;  // errno of a failed start; ENOENT: not installed
    int exitCode = -1;   // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs argv (looked up in PATH) with no input and collects both outputs.
// Fendrel's process helpers join the two streams and hand any "$" to a
// shell; a package list must stay apart from the warnings around it, and
// dpkg-query's format is full of "$".
Captured RunCapture(const std::vector<std::string>& argv) {
    Captured result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        result.startError = errno;
        return result;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        result.startError = errno;
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    result.startError = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    fendrel::posix::Fd out(outPipe[0]), err(errPipe[0]);
    if (result.startError != 0)
        return result;
    // Both streams are drained together: a child that fills one pipe while
    // we wait on the other would never end.
    pollfd fds[2] = {{out.get(), POLLIN, 0}, {err.get(), POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0)
                continue;
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[k]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[k].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool InPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    return line.size() > 300 ? line.substr(0, 300) + "..." : line;
}

// Names that go into an uninstall command unquoted: the page runs the
// command as a plain word list, so nothing in a name may read as shell
// syntax, a second word or an option.
bool SafeWord(const std::string& name) {
    if (name.empty() || name[0] == '-')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == '+' || c == ':' ||
               c == '/';
    });
}

// Records how a source went, on standard error too when it did not work
// or when asked to be verbose.
void Report(Inventory& inventory, const Options& options, const std::string& name, const std::string& status,
            std::size_t count, const std::string& detail) {
    inventory.sources.push_back({name, status, count, detail});
    if (status == "ok") {
        if (options.verbose)
            Note("%s: %zu programs", name.c_str(), count);
    } else {
        Note("%s skipped: %s", name.c_str(), detail.c_str());
    }
}

// A front end that could not be asked: not installed is "missing", any
// other failure "failed". True when the output can be read.
bool Answered(Inventory& inventory, const Options& options, const std::string& source, const std::string& tool,
              const Captured& run) {
    if (run.startError == ENOENT) {
        Report(inventory, options, source, "missing", 0, tool + " is not installed");
        return false;
    }
    if (run.startError != 0) {
        Report(inventory, options, source, "failed", 0,
               tool + " could not be started: " + std::strerror(run.startError));
        return false;
    }
    if (run.exitCode != 0) {
        Report(inventory, options, source, "failed", 0,
               tool + " ended with code " + std::to_string(run.exitCode) + ": " + FirstLine(run.err));
        return false;
    }
    return true;
}

// dpkg: every package whose status is "install ok installed" (removed
// packages that left their configuration files behind are not installed).
void ListDpkg(Inventory& inventory, const Options& options) {
    const Captured run = RunCapture({"dpkg-query", "-W", "-f",
                                     "${binary:Package}\\t${Package}\\t${Version}\\t${Installed-Size}\\t${Status}\\t"
                                     "${Maintainer}\\n"});
    if (!Answered(inventory, options, "dpkg", "dpkg-query", run))
        return;
    // Removing a package needs root. Through pkexec the system asks for the
    // password in a window of its own; dpkg --remove takes away exactly the
    // package the user confirmed and refuses while others depend on it, where
    // "apt-get remove -y" would silently take those along. Without pkexec
    // the command is the one a user types in a terminal, and says so.
    const bool pkexec = InPath("pkexec");
    std::size_t count = 0, broken = 0;
    for (const std::string& line : SplitOn(run.out, '\n')) {
        if (line.empty())
            continue;
        const std::vector<std::string> fields = SplitOn(line, '\t');
        if (fields.size() != 6 || fields[0].empty()) {
            ++broken;
            continue;
        }
        if (fields[4] != "install ok installed")
            continue;
        Program program;
        program.id = fields[0];
        program.name = fields[1];
        program.version = fields[2];
        program.publisher = fields[5];
        char* end = nullptr;
        errno = 0;
        const long long kib = std::strtoll(fields[3].c_str(), &end, 10);
        if (!fields[3].empty() && *end == '\0' && errno == 0 && kib >= 0 && kib <= INT64_MAX / 1024)
            program.estimatedSize = static_cast<std::int64_t>(kib) * 1024;
        if (SafeWord(program.id)) {
            if (pkexec) {
                program.uninstallCommand = "pkexec dpkg --remove " + program.id;
            } else {
                program.uninstallCommand = "sudo apt-get remove " + program.id;
                program.uninstallInTerminal = true;
            }
        }
        program.source = "dpkg";
        inventory.programs.push_back(std::move(program));
        ++count;
    }
    if (broken > 0)
        Note("dpkg: %zu lines of dpkg-query's answer could not be read and were left out", broken);
    Report(inventory, options, "dpkg", "ok", count, std::string());
}

// flatpak reports sizes for people ("1.2 GB", "512.0 kB", SI units); the
// inventory gets the bytes they stand for, an estimate as precise as that.
std::optional<std::int64_t> ParseHumanSize(const std::string& text) {
    // Newer GLib puts a no-break space between number and unit.
    std::string plain = text;
    for (std::size_t at; (at = plain.find("\xC2\xA0")) != std::string::npos;)
        plain.replace(at, 2, " ");
    std::istringstream in(plain);
    in.imbue(std::locale::classic());
    double amount = 0;
    std::string unit;
    if (!(in >> amount) || amount < 0)
        return std::nullopt;
    in >> unit;
    static const struct {
        const char* unit;
        double factor;
    } kUnits[] = {{"bytes", 1}, {"byte", 1}, {"B", 1}, {"kB", 1e3}, {"KB", 1e3}, {"MB", 1e6}, {"GB", 1e9}, {"TB", 1e12},
                  {"KiB", 1024.0}, {"MiB", 1048576.0}, {"GiB", 1073741824.0}, {"TiB", 1099511627776.0}};
    for (const auto& entry : kUnits) {
        if (unit == entry.unit) {
            const double bytes = std::round(amount * entry.factor);
            if (bytes >= 9.2e18)
                return std::nullopt;
            return static_cast<std::int64_t>(bytes);
        }
    }
    return std::nullopt;
}

// flatpak: applications (not runtimes) of the system installations and,
// with /U, the user's. The ref (app/ID/ARCH/BRANCH) is the id: one
// application may be installed in several branches and in both places.
void ListFlatpak(Inventory& inventory, const Options& options) {
    const Captured run =
        RunCapture({"flatpak", "list", "--app", "--columns=ref,application,name,version,installation,size"});
    if (!Answered(inventory, options, "flatpak", "flatpak", run))
        return;
    const char* home = std::getenv("HOME");
    std::size_t system = 0, user = 0;
    for (const std::string& line : SplitOn(run.out, '\n')) {
        const std::vector<std::string> fields = SplitOn(line, '\t');
        if (fields.size() < 6 || fields[0].rfind("app/", 0) != 0)
            continue;
        const bool isUser = fields[4] == "user";
        if (isUser && !options.user)
            continue;
        Program program;
        program.id = fields[0];
        program.name = fields[2].empty() ? fields[1] : fields[2];
        program.version = fields[3];
        program.estimatedSize = ParseHumanSize(fields[5]);
        const std::string base = isUser ? (home != nullptr ? std::string(home) + "/.local/share/flatpak" : std::string())
                                        : fields[4] == "system" ? std::string("/var/lib/flatpak") : std::string();
        if (!base.empty() && IsFolder(base + "/app/" + fields[1]))
            program.installLocation = base + "/app/" + fields[1];
        if (SafeWord(program.id))
            program.uninstallCommand =
                std::string("flatpak uninstall -y ") + (isUser ? "--user " : "--system ") + program.id;
        program.source = isUser ? "flatpak-user" : "flatpak";
        inventory.programs.push_back(std::move(program));
        ++(isUser ? user : system);
    }
    Report(inventory, options, "flatpak", "ok", system, std::string());
    if (options.user)
        Report(inventory, options, "flatpak-user", "ok", user, std::string());
}

// snap: the installed snaps, without the base, core and snapd snaps the
// system itself runs on. Their size is the size of the snap's image.
void ListSnap(Inventory& inventory, const Options& options) {
    const Captured run = RunCapture({"snap", "list", "--color=never", "--unicode=never"});
    if (!Answered(inventory, options, "snap", "snap", run))
        return;
    std::size_t count = 0;
    bool header = true;
    for (const std::string& line : SplitOn(run.out, '\n')) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;)
            fields.push_back(word);
        if (fields.size() < 5)
            continue;
        // Name  Version  Rev  Tracking  Publisher  Notes
        if (header) {
            header = false;
            if (fields[0] == "Name")
                continue;
        }
        const std::string notes = fields.size() > 5 ? fields[5] : std::string();
        bool systemSnap = false;
        for (const std::string& note : SplitOn(notes, ',')) {
            if (note == "base" || note == "core" || note == "snapd" || note == "gadget" || note == "kernel" ||
                note == "disabled")
                systemSnap = true;
        }
        if (systemSnap)
            continue;
        Program program;
        program.id = fields[0];
        program.name = fields[0];
        program.version = fields[1];
        // "canonical**" / "canonical✓" mark verified publishers; "-" is none.
        std::string publisher = fields[4];
        for (const std::string mark : {"**", "\xE2\x9C\x93", "*"}) {
            if (publisher.size() > mark.size() && publisher.compare(publisher.size() - mark.size(), mark.size(), mark) == 0)
                publisher.erase(publisher.size() - mark.size());
        }
        program.publisher = publisher == "-" ? std::string() : publisher;
        const std::string image = "/var/lib/snapd/snaps/" + fields[0] + "_" + fields[2] + ".snap";
        struct stat st {};
        if (stat(image.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            program.estimatedSize = static_cast<std::int64_t>(st.st_size);
        if (IsFolder("/snap/" + fields[0]))
            program.installLocation = "/snap/" + fields[0];
        if (SafeWord(program.id))
            program.uninstallCommand = "snap remove " + program.id;
        program.source = "snap";
        inventory.programs.push_back(std::move(program));
        ++count;
    }
    Report(inventory, options, "snap", "ok", count, std::string());
}

}  // namespace

Inventory CollectPrograms(const Options& options) {
    Inventory inventory;
    ListDpkg(inventory, options);
    ListFlatpak(inventory, options);
    ListSnap(inventory, options);
    return inventory;
}

std::string SystemName() {
    std::string name;
    std::ifstream release("/etc/os-release");
    for (std::string line; std::getline(release, line);) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            name = line.substr(12);
            if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front())
                name = name.substr(1, name.size() - 2);
            break;
        }
    }
    utsname uts{};
    if (uname(&uts) == 0) {
        if (name.empty())
            name = uts.sysname;
        name += std::string(" ") + uts.machine;
    }
    return name;
}

bool ReplaceFileContents(const std::string& path, const std::string& bytes, std::string& error) {
    // A relative name gets the folder ReplaceFile needs for its hidden twin.
    const std::string target = path.find('/') == std::string::npos ? "./" + path : path;
    const int code = fendrel::posix::ReplaceFile(target, bytes, 0600);
    if (code != 0)
        error = std::strerror(code);
    return code == 0;
}

}  // namespace bcu
