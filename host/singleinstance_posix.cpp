#include "host/singleinstance.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
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
        if (error == EWOULDBLOCK)
            return false;
        Logger_ErrorF("host/singleinstance", __LINE__, "cannot lock %s: %s; running without the lock", path.c_str(),
                      std::strerror(error));
        return true;
    }
    // The lock file is left in place: removing it would let a third process
    // lock a new file while the second still holds the old one.
    m_native = fd;
    return true;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (m_native != kNone)
        close(static_cast<int>(m_native));
}
