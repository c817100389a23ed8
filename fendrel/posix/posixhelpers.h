// Small owners and loops for POSIX descriptors, shared by Fendrel's Linux files.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace fendrel::posix
