// Helpers for the tests of path expansion, detection sources, record rules
// and scripts: native narrow paths, a log captured to a file, small SQLite
// databases and files placed beside the program for the test's duration.
#pragma once

#include "fendrel/fsops.h"
#include "fendrel/logger.h"
#include "fendrel/platform.h"
#include "fendrel/utils.h"

#include "testutil.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <process.h>
#  define RULE_TEST_PID() static_cast<unsigned long>(_getpid())
#else
#  include <unistd.h>
#  define RULE_TEST_PID() static_cast<unsigned long>(getpid())
#endif

namespace ruletest {

constexpr char kSep = fendrel::kPathSepA;

// "a/b/c" in this platform's spelling.
inline std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '/', kSep);
    return path;
}

// The narrow path of a temporary folder (process code page), no trailing separator.
inline std::string Narrow(const testutil::TempDir& dir) {
    return Utils::Utf16ToAnsi(dir.wstr());
}

// A name no other run of the tests uses at the same time; the extension stays last.
//   UniqueName("a.lua") => "a-4242-0.lua"
inline std::string UniqueName(const std::string& name) {
    static int counter = 0;
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        dot = name.size();
    return name.substr(0, dot) + "-" + std::to_string(RULE_TEST_PID()) + "-" + std::to_string(counter++) +
           name.substr(dot);
}

inline void SetEnv(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void UnsetEnv(const std::string& name) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), "");
#else
    unsetenv(name.c_str());
#endif
}

// Records every log line written while it lives.
class LogCapture {
public:
    LogCapture() : m_file(Utils::Utf16ToAnsi(m_dir / L"capture.log")) {
        Logger_Init(m_file.c_str(), 0, 0, false);
        Logger_SetLevel(0);
    }
    ~LogCapture() { Logger_Shutdown(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string Text() {
        Logger_Flush();
        return testutil::ReadBytes(m_dir.path() / "capture.log");
    }
    // Lines at the level ("debug", "info", "warning", "error") whose message is exactly text.
    int Count(const std::string& level, const std::string& text) {
        const std::string all = Text();
        const std::string levelTag = "[" + level + "] ";
        const std::string tail = "] " + text + "\r\n";
        int count = 0;
        std::size_t start = 0;
        while (start < all.size()) {
            std::size_t end = all.find("\r\n", start);
            if (end == std::string::npos)
                end = all.size();
            const std::string line = all.substr(start, end + 2 - start);
            if (line.find(levelTag) != std::string::npos && line.size() >= tail.size() &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
                ++count;
            start = end + 2;
        }
        return count;
    }

private:
    testutil::TempDir m_dir;
    std::string m_file;
};

// Creates (or extends) a database by running statements; fails the test on an error.
inline void MakeDatabase(const std::string& path, const std::string& statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(Utils::ansiToUtf8(path).c_str(), &db));
    char* error = nullptr;
    const int rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error);
    const std::string message = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(SQLITE_OK, rc) << message;
}

// "'a', 'b'" quoting for SQL literals.
inline std::string SqlText(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'')
            quoted += '\'';
    }
    return quoted + "'";
}

// Holds a database the way its application does: an exclusive transaction
// on a second connection, so that any other reader gets SQLITE_BUSY.
class DatabaseLock {
public:
    explicit DatabaseLock(const std::string& path) {
        sqlite3_open(Utils::ansiToUtf8(path).c_str(), &m_db);
        m_locked = sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~DatabaseLock() {
        if (m_locked)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(m_db);
    }
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;
    bool Locked() const { return m_locked; }

private:
    sqlite3* m_db = nullptr;
    bool m_locked = false;
};

// A plain read of the database on its own connection (SQLITE_BUSY while locked).
inline int ProbeDatabase(const std::string& path) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(Utils::ansiToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc;
}

// Names of the entries of the temporary folder that rule code uses for copies.
inline std::vector<std::string> TempFolderEntries() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(File::TempPath()), ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A file beside the program (where rule scripts live), removed when the object goes.
class ProgramFile {
public:
    ProgramFile(const std::string& name, const std::string& contents) : m_name(UniqueName(name)) {
        m_path = FileSystem::ProgramDirectory() + kSep + m_name;
        testutil::WriteBytes(std::filesystem::path(Utils::AnsiToUtf16(m_path)), contents);
    }
    ~ProgramFile() { FileSystem::RemoveFile(m_path); }
    ProgramFile(const ProgramFile&) = delete;
    ProgramFile& operator=(const ProgramFile&) = delete;

    // The name relative to the program's folder, as a rule writes it.
    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    std::string m_path;
};

}  // namespace ruletest
