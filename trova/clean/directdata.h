// A database-record rule ("mm"): an application's SQLite database lists files
// that are junk. The query ("zl") must yield one column of file paths.
#pragma once

#include "trova/clean/baseobject.h"
#include "trova/property/properties.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pugi {
class xml_node;
}

namespace Trova {

// Runs sql on the database, opened read-only (a missing database is not
// created), and appends every non-null value of one-column rows to out; rows
// of another shape are logged ("sql error") and skipped. A database its
// program holds locked (SQLITE_BUSY) is read through a temporary copy, which
// is removed afterwards. Returns the final SQLite result code (or -1 when the
// copy failed).
int QueryPaths(const std::string& database, const std::string& sql, std::vector<std::string>& out);

class DirectData : public SizeBase, public IChildEndCount, public ICollectFileInfo {
public:
    explicit DirectData(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    void ChildEnd(BaseObject* child) override;  // counts, forwards at once

    // Bytes of the listed files that exist now, each distinct path once; with
    // listFiles, they (and only they) are kept in files.
    std::uint64_t Measure();
    // Collects the listed paths of every expanded database (used by deletion).
    std::vector<std::string> ListedPaths() const;
    // Removes every listed file of every expanded database; a file that
    // cannot be removed is logged ("clean/softs") and the rest still go.
    void DeleteFiles();

    bool listFiles = false;
    std::map<std::string, std::uint64_t> files;
    StringProperty dj;
    StringProperty sv;
    StringProperty zl;  // SQL
    Path av;            // database path pattern
};

}  // namespace Trova
