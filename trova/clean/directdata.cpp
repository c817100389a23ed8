// Database-record rules: an application's SQLite database lists the files
// that are junk. The database itself is only read, never changed.
#include "trova/clean/directdata.h"

#include "fendrel/fsops.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <pugixml.hpp>
#include <sqlite3.h>

#include <set>

namespace Trova {

namespace {

constexpr const char* kSource = "clean/softs";

// One-column rows give a path each; any other shape is a broken rule, logged
// per row. The query always goes on.
int CollectRow(void* context, int columns, char** values, char** /*names*/) {
    auto* rows = static_cast<std::vector<std::string>*>(context);
    if (columns != 1) {
        Logger_Info(kSource, __LINE__, "sql error");
        return 0;
    }
    if (values[0] != nullptr) {
        // SQLite speaks UTF-8; the engines speak the process code page.
        std::string path = Utils::utf8ToAnsi(values[0]);
        if (!path.empty())
            rows->push_back(std::move(path));
    }
    return 0;
}

// Runs sql once on database, collecting into rows; the SQLite result code.
int RunQuery(const std::string& database, const std::string& sql, std::vector<std::string>& rows) {
    sqlite3* db = nullptr;
    // Read-only: a cleaner must never create a missing database or change an
    // application's own one.
    int rc = sqlite3_open_v2(Utils::ansiToUtf8(database).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    if (rc == SQLITE_OK) {
        char* error = nullptr;
        rc = sqlite3_exec(db, sql.c_str(), CollectRow, &rows, &error);
        sqlite3_free(error);
    }
    sqlite3_close(db);  // also releases the handle of a failed open
    return rc;
}

}  // namespace

int QueryPaths(const std::string& database, const std::string& sql, std::vector<std::string>& out) {
    std::vector<std::string> rows;
    int rc = RunQuery(database, sql, rows);
    if (rc == SQLITE_BUSY) {
        // The application holds the database: read a copy of it instead.
        // Rows of the interrupted run are dropped so none is counted twice.
        rows.clear();
        const std::string copy = FileSystem::CreateTempFile("tmp");
        if (copy.empty())
            return -1;
        if (!FileSystem::CopyFile(database, copy, true)) {
            FileSystem::RemoveFile(copy);
            return -1;
        }
        rc = RunQuery(copy, sql, rows);
        FileSystem::RemoveFile(copy);
    }
    out.insert(out.end(), rows.begin(), rows.end());
    return rc;
}

DirectData::DirectData(BaseObject* parent)
    : SizeBase(parent, kKindDirectData), dj(this), sv(this, 46), zl(this), av(this) {}

void DirectData::Read(const pugi::xml_node& node) {
    present = true;
    dj.Read(node, "dj");
    av.Read(node, "av");
    sv.Read(node, "sv");
    zl.Read(node, "zl");
}

void DirectData::ChildEnd(BaseObject* /*child*/) {
    ++ended;
    if (IChildEndCount* up = EndCounterOf(parent))
        up->ChildEnd(this);
}

std::uint64_t DirectData::Measure() {
    // The list describes this scan only; files gone since the last one must not linger.
    if (listFiles)
        files.clear();
    std::uint64_t total = 0;
    // A file listed twice (by two rows or two databases) is one file on disk.
    std::set<std::string> seen;
    for (const auto& path : ListedPaths()) {
        if (!seen.insert(path).second)
            continue;
        const std::int64_t size = FileSystem::Size(path);
        if (size < 0)
            continue;
        total += static_cast<std::uint64_t>(size);
        if (listFiles)
            files[path] = static_cast<std::uint64_t>(size);
    }
    return total;
}

std::vector<std::string> DirectData::ListedPaths() const {
    std::vector<std::string> paths;
    for (const auto& database : av.Expand())
        QueryPaths(database, zl.Get(), paths);
    return paths;
}

void DirectData::DeleteFiles() {
    for (const auto& path : ListedPaths()) {
        int error = 0;
        if (!FileSystem::RemoveFile(path, &error)) {
            Logger_WarnF("clean/softs", __LINE__, "LastError: %d, filePath: %s", error, path.c_str());
        }
    }
}

}  // namespace Trova
