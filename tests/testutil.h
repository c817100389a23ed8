// Helpers shared by the test programs.
#pragma once

#include "fendrel/file.h"
#include "fendrel/fsops.h"
#include "fendrel/utils.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
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

// ---- the test program itself as a child process ----
// Started with kChildVariable set, a test program does one small job and
// exits with code 3 before any test runs; this works the same on Linux and
// under Wine. Jobs:
//   "flood"               writes kFloodBytes to stdout, then "!" to stderr
//   "print <text>"        writes the text to stdout
//   "marker <ms> <path>"  waits, then creates the file
//   "spawn <ms> <job>"    starts this program again with <job>, waits, and
//                         exits without waiting for that child
//   "oddname <job>"       (Linux) takes a command name with blanks and
//                         parentheses, as /proc shows it, then does <job>
inline constexpr char kChildVariable[] = "FENDREL_TEST_CHILD";
inline constexpr std::size_t kFloodBytes = 1500000;  // far more than any pipe buffer

inline void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value == nullptr ? "" : value);
#else
    value == nullptr ? unsetenv(name) : setenv(name, value, 1);
#endif
}

// This test program, as a command line.
inline std::wstring SelfCommandLine() {
    return L"\"" + File::FullPath() + L"\"";
}

inline void DoChildJob(const std::string& job) {
    const auto rest = [&job](std::size_t words) {
        std::size_t at = 0;
        for (std::size_t i = 0; i < words && at != std::string::npos; ++i)
            at = job.find(' ', at + 1);
        return at == std::string::npos ? std::string() : job.substr(at + 1);
    };
    if (job == "flood") {
        const std::string chunk(4096, 'a');
        for (std::size_t left = kFloodBytes; left > 0;) {
            const std::size_t n = std::min(left, chunk.size());
            std::fwrite(chunk.data(), 1, n, stdout);
            left -= n;
        }
        std::fflush(stdout);
        std::fputs("!", stderr);
    } else if (job.compare(0, 6, "print ") == 0) {
        std::fputs(job.c_str() + 6, stdout);
    } else if (job.compare(0, 7, "marker ") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(job.c_str() + 7)));
        std::ofstream(rest(2)) << "done";
    } else if (job.compare(0, 6, "spawn ") == 0) {
        SetEnv(kChildVariable, rest(2).c_str());
#if defined(_WIN32)
        // CreateProcessW rather than the shell: under Wine the shell's launch
        // keeps this process alive about as long as the jobs it should outlive.
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        std::wstring line = SelfCommandLine();
        if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
#else
        Utils::runApp(File::FullPath(), L"", L"");
#endif
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(job.c_str() + 6)));
#if !defined(_WIN32)
    } else if (job.compare(0, 8, "oddname ") == 0) {
        std::ofstream("/proc/self/comm") << "a) Z 1 1 (b";
        DoChildJob(rest(1));
#endif
    }
}

inline const bool kIsChildJob = [] {
    const char* job = std::getenv(kChildVariable);
    if (job == nullptr || *job == '\0')
        return false;
    DoChildJob(job);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(3);  // a non-zero exit code the callers must not mistake for a start failure
}();

// Sets the child job for the processes started while it lives.
class ChildJob {
public:
    explicit ChildJob(const std::string& job) { SetEnv(kChildVariable, job.c_str()); }
    ~ChildJob() { SetEnv(kChildVariable, nullptr); }
    ChildJob(const ChildJob&) = delete;
    ChildJob& operator=(const ChildJob&) = delete;
};

}  // namespace testutil
