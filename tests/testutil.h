// Helpers shared by the test programs.
#pragma once

#include "fendrel/file.h"
#include "fendrel/fsops.h"

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#if !defined(_WIN32)
#  include <unistd.h>
#endif

namespace testutil {

// A fresh folder under the system temporary folder, removed with everything
// in it when the object goes. Tests never touch the user's home.
class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        std::filesystem::path base(File::TempPath());
        m_path = base / ("clean-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // Native wide path of a name inside the folder.
    std::wstring operator/(const std::wstring& name) const { return (m_path / name).wstring(); }
    std::wstring wstr() const { return m_path.wstring(); }

private:
    std::filesystem::path m_path;
};

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#if !defined(_WIN32)
// Emptying the recycle bin also empties every mount's bin of this user; a
// machine that has one is no place for a test that empties it.
inline bool MountTrashPresent() {
    std::vector<std::string> roots;
    Disks::List(roots);
    const std::string uid = std::to_string(getuid());
    for (const auto& root : roots) {
        std::error_code ec;
        if (std::filesystem::exists(root + "/.Trash-" + uid, ec) || std::filesystem::exists(root + "/.Trash/" + uid, ec))
            return true;
    }
    return false;
}

// Sets (or with nullopt removes) an environment variable for the test's duration.
class EnvOverride {
public:
    EnvOverride(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    ~EnvOverride() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Points $XDG_DATA_HOME at a temporary folder for the test's duration.
class TrashHome {
public:
    std::filesystem::path Trash() const { return m_dir.path() / "Trash"; }

private:
    TempDir m_dir;
    EnvOverride m_data{"XDG_DATA_HOME", m_dir.path().string()};
};
#endif

}  // namespace testutil
