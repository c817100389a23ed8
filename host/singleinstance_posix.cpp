#include "host/singleinstance.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/uiqueue.h"
#include "fendrel/utils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// The per-user runtime folder holds the lock; without one, the temporary
// folder with the user id in the name keeps users apart.
std::string LockPath(const std::wstring& name) {
    std::string file = Utils::utf16ToUtf8(name);
    for (char& c : file)
        if (c == '/')
            c = '_';
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/" + file + ".lock";
    return Utils::utf16ToUtf8(File::TempPath()) + file + "-" + std::to_string(getuid()) + ".lock";
}

std::string SocketPath(const std::string& lockPath) {
    return lockPath.substr(0, lockPath.size() - 5) + ".sock";
}

// Asks the instance that holds the lock to show itself; it may be gone.
void AskToShow(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() < sizeof address.sun_path) {
        std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const char request[] = "show";
            if (write(fd, request, sizeof request - 1) < 0)
                Logger_WarnF("host/singleinstance", __LINE__, "cannot ask the running instance: %s",
                             std::strerror(errno));
        }
    }
    close(fd);
}

}  // namespace

std::wstring SingleInstanceLock::NameFor(const std::wstring& productName) {
    return productName + L"-=skbn123";
}

bool SingleInstanceLock::Acquire(const std::wstring& name, const std::wstring& windowClass) {
    std::string path = LockPath(name);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        Logger_ErrorF("host/singleinstance", __LINE__, "cannot open lock file %s: %s; running without the lock",
                      path.c_str(), std::strerror(errno));
        return true;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) {
            AskToShow(SocketPath(path));
            return false;
        }
        Logger_ErrorF("host/singleinstance", __LINE__, "cannot lock %s: %s; running without the lock", path.c_str(),
                      std::strerror(error));
        return true;
    }
    // The lock file is left in place: removing it would let a third process
    // lock a new file while the second still holds the old one.
    m_native = fd;
    m_socketPath = SocketPath(path);
    return true;
}

void SingleInstanceLock::ListenForOthers(HWND window) {
    if (m_native == kNone || m_socketPath.empty())
        return;
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listener < 0 || m_socketPath.size() >= sizeof address.sun_path) {
        Logger_WarnF("host/singleinstance", __LINE__, "no socket for other instances");
        if (listener >= 0)
            close(listener);
        return;
    }
    std::memcpy(address.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
    // A socket left by an instance that ended is stale: this one holds the lock now.
    unlink(m_socketPath.c_str());
    const mode_t oldMask = umask(0077);
    const bool bound = bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    umask(oldMask);
    if (!bound || listen(listener, 4) != 0) {
        Logger_WarnF("host/singleinstance", __LINE__, "cannot listen on %s: %s", m_socketPath.c_str(),
                     std::strerror(errno));
        close(listener);
        return;
    }
    // Lives as long as the process: each connection is one request.
    std::thread([listener, window] {
        for (;;) {
            const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            char request[8] = {};
            const ssize_t got = read(peer, request, sizeof request - 1);
            close(peer);
            if (got == 4 && std::strcmp(request, "show") == 0)
                fendrel::ui::Post(window, 0x469, 0, 0);
        }
    }).detach();
}

SingleInstanceLock::~SingleInstanceLock() {
    if (m_native != kNone) {
        if (!m_socketPath.empty())
            unlink(m_socketPath.c_str());
        close(static_cast<int>(m_native));
    }
}
