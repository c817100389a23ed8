#include "system.h"

#include "fendrel/logger.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

extern char** environ;

namespace wke::sys {
namespace {

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// The browser's own output would land in the host's terminal; it goes to
// /dev/null. The child is reaped by a detached thread so that no zombie
// stays behind (a browser that is already running hands the page over and
// exits at once).
bool Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        LOG_WARN("webview: cannot start %s: error %d", argv[0], error);
        return false;
    }
    std::thread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace

bool RandomBytes(unsigned char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = getrandom(out + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool HasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

bool OpenBrowser(const std::string& url, const std::string& browserPath) {
    std::string browser = browserPath;
    for (const char* name : {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable"}) {
        if (!browser.empty())
            break;
        browser = FindOnPath(name);
    }
    if (!browser.empty()) {
        LOG_INFO("webview: opening the page with %s in app mode", browser.c_str());
        if (Spawn({browser, "--app=" + url}))
            return true;
    }
    std::string opener = FindOnPath("xdg-open");
    if (opener.empty()) {
        LOG_WARN("webview: no browser found (chromium, google-chrome, xdg-open)");
        return false;
    }
    LOG_INFO("webview: opening the page with the default browser");
    return Spawn({opener, url});
}

}  // namespace wke::sys
