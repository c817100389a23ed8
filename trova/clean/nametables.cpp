#include "trova/clean/nametables.h"

#include "trova/clean/languagetable.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"
#include "trova/clean/scrambled.h"

#include <csv.h>

#include <cstdint>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace Trova {

namespace {

constexpr const char* kSource = "clean/softs";

using Texts = NameTables::Texts;
using Bytes = std::vector<std::uint8_t>;

static_assert(NameTables::kLanguageCount == LanguageTable::kCount, "one text per language");

// A fault of the file's contents, phrased for the log.
struct TableError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The reader needs the number of columns at compile time but takes their
// names at run time, so the language columns are built from the language table. Extra
// columns are skipped; blank lines too, since editors leave them at the end.
template <std::size_t N>
using CsvReader = io::CSVReader<N, io::trim_chars<' ', '\t'>, io::double_quote_escape<',', '"'>,
                                io::throw_on_overflow, io::empty_line_comment>;
template <std::size_t N>
using Cells = std::array<std::string, N>;

template <typename Reader, typename Columns, std::size_t... I>
void ReadHeader(Reader& reader, const Columns& columns, std::index_sequence<I...>) {
    reader.read_header(io::ignore_extra_column, columns[I]...);
}

template <typename Reader, typename Columns, std::size_t... I>
bool ReadRow(Reader& reader, Columns& cells, std::index_sequence<I...>) {
    return reader.read_row(cells[I]...);
}

// Calls onRow(cells, line) for each data line, cells in the order of columns.
// The library skips a UTF-8 byte-order mark and takes "\r\n" line ends.
template <std::size_t N, typename OnRow>
void ParseCsv(const std::string& path, const Bytes& bytes, const Cells<N>& columns, OnRow onRow) {
    if (bytes.empty())
        throw TableError("the file is empty");
    const char* begin = reinterpret_cast<const char*>(bytes.data());
    CsvReader<N> reader(path, begin, begin + bytes.size());
    try {
        ReadHeader(reader, columns, std::make_index_sequence<N>());
    } catch (const io::error::missing_column_in_header& e) {
        throw TableError(std::string("column not found: ") + e.column_name);
    }
    Cells<N> cells;
    while (ReadRow(reader, cells, std::make_index_sequence<N>()))
        onRow(cells, reader.get_file_line());
}

// std::stoi rules: leading spaces and a sign are fine, trailing text is ignored.
int Key(const std::string& cell, const std::string& column, unsigned line) {
    const auto where = [&] { return "line " + std::to_string(line) + ": key \"" + cell + "\" in column " + column; };
    try {
        return std::stoi(cell);
    } catch (const std::invalid_argument&) {
        throw TableError(where() + " is not a number");
    } catch (const std::out_of_range&) {
        throw TableError(where() + " is out of range");
    }
}

// The gid table: a description and a detail per language.
void ParseGroups(const std::string& path, const Bytes& bytes, std::map<int, Texts>& groups,
                 std::map<int, Texts>& details) {
    constexpr std::size_t kDesc = 1;
    constexpr std::size_t kDetail = kDesc + NameTables::kLanguageCount;
    constexpr std::size_t kColumns = kDetail + NameTables::kLanguageCount;
    Cells<kColumns> columns;
    columns[0] = "gid";
    for (int i = 0; i < NameTables::kLanguageCount; ++i) {
        columns[kDesc + i] = LanguageTable::Keys(i).descKey;
        columns[kDetail + i] = LanguageTable::Keys(i).detailKey;
    }
    ParseCsv(path, bytes, columns, [&](Cells<kColumns>& cells, unsigned line) {
        const int gid = Key(cells[0], columns[0], line);
        Texts& desc = groups[gid];
        Texts& detail = details[gid];
        for (int i = 0; i < NameTables::kLanguageCount; ++i) {
            desc[i] = std::move(cells[kDesc + i]);
            detail[i] = std::move(cells[kDetail + i]);
        }
    });
}

// The other tables: K key columns, then one text column per language code.
template <std::size_t K, typename Store>
void ParseCoded(const std::string& path, const Bytes& bytes, const std::array<const char*, K>& keyNames,
                Store store) {
    constexpr std::size_t kColumns = K + NameTables::kLanguageCount;
    Cells<kColumns> columns;
    for (std::size_t k = 0; k < K; ++k)
        columns[k] = keyNames[k];
    for (int i = 0; i < NameTables::kLanguageCount; ++i)
        columns[K + i] = LanguageTable::Keys(i).code;
    ParseCsv(path, bytes, columns, [&](Cells<kColumns>& cells, unsigned line) {
        std::array<int, K> keys;
        for (std::size_t k = 0; k < K; ++k)
            keys[k] = Key(cells[k], columns[k], line);
        Texts texts;
        for (int i = 0; i < NameTables::kLanguageCount; ++i)
            texts[i] = std::move(cells[K + i]);
        store(keys, std::move(texts));
    });
}

// The configuration turns a missing name into the program's folder, so a
// folder (something that exists without a file size) means "no table".
bool NamesNoFile(const std::wstring& path) {
    return path.empty() || (File::Exist(path) && File::BytesSize64(path) < 0);
}

bool ReadBytes(const std::wstring& path, bool scrambled, Bytes& bytes) {
    if (scrambled)
        return ReadScrambledFile(path, bytes);
    const std::int64_t size = File::BytesSize64(path);
    if (size < 0)
        return false;
    bytes = File::readFile(path);
    // readFile gives nothing on failure; an empty file is reported by the parser.
    return bytes.size() == static_cast<std::uint64_t>(size);
}

}  // namespace

NameTables& NameTables::Instance() {
    // Never destroyed: workers may still look names up while the process ends.
    static NameTables* instance = new NameTables();
    return *instance;
}

void NameTables::Load(const std::string& gidCsv, const std::string& softidCsv, const std::string& subsoftidCsv,
                      const std::string& bigfileCsv, bool scrambled) {
    {
        std::unique_lock<std::shared_mutex> lock(m_mutex);
        m_gidCsv = gidCsv;
        m_softidCsv = softidCsv;
        m_subsoftidCsv = subsoftidCsv;
        m_bigfileCsv = bigfileCsv;
        m_scrambled = scrambled;
    }

    // Parsed outside the lock, then swapped in whole: readers see the old
    // tables or the new ones, never half of a file.
    Tables fresh;
    struct Source {
        const char* name;
        const std::string& path;
        std::size_t (*parse)(const std::string& path, const Bytes& bytes, Tables& into);
    };
    const Source sources[] = {
        {"gid", gidCsv,
         [](const std::string& path, const Bytes& bytes, Tables& into) {
             ParseGroups(path, bytes, into.groups, into.groupDetails);
             return into.groups.size();
         }},
        {"softid", softidCsv,
         [](const std::string& path, const Bytes& bytes, Tables& into) {
             ParseCoded<1>(path, bytes, {"softid"},
                           [&](const std::array<int, 1>& k, Texts&& t) { into.softs[k[0]] = std::move(t); });
             return into.softs.size();
         }},
        {"subsoftid", subsoftidCsv,
         [](const std::string& path, const Bytes& bytes, Tables& into) {
             ParseCoded<3>(path, bytes, {"id", "subid", "residual"}, [&](const std::array<int, 3>& k, Texts&& t) {
                 into.items[ItemKey(k[0], k[1], k[2])] = std::move(t);
             });
             return into.items.size();
         }},
        {"bigfile", bigfileCsv,
         [](const std::string& path, const Bytes& bytes, Tables& into) {
             ParseCoded<1>(path, bytes, {"id"},
                           [&](const std::array<int, 1>& k, Texts&& t) { into.bigfile[k[0]] = std::move(t); });
             return into.bigfile.size();
         }},
    };

    const Source* failed = nullptr;
    std::string problem;
    std::string summary;
    for (const Source& source : sources) {
        try {
            const std::wstring wide = Utils::AnsiToUtf16(source.path);
            if (NamesNoFile(wide)) {
                summary += std::string(summary.empty() ? "" : ", ") + source.name + " none";
                continue;
            }
            Bytes bytes;
            if (!ReadBytes(wide, scrambled, bytes)) {
                problem = scrambled ? "cannot be read or unscrambled" : "cannot be read";
            } else {
                const std::size_t keys = source.parse(source.path, bytes, fresh);
                summary += std::string(summary.empty() ? "" : ", ") + source.name + " " + std::to_string(keys);
            }
        } catch (const std::exception& e) {
            // Table faults, the CSV library's errors (they name the line) and
            // running out of memory all end up here: start-up must go on.
            problem = e.what();
        } catch (...) {
            problem = "unknown error";
        }
        if (!problem.empty()) {
            failed = &source;
            break;
        }
    }

    if (failed != nullptr) {
        // No partial tables: with the feature off callers use the rule files' own names.
        {
            std::unique_lock<std::shared_mutex> lock(m_mutex);
            m_tables = Tables();
            m_languageFeature = false;
        }
        Logger_ErrorF(kSource, __LINE__, "name table %s (%s): %s; localized names are off", failed->name,
                      failed->path.c_str(), problem.c_str());
        return;
    }
    {
        std::unique_lock<std::shared_mutex> lock(m_mutex);
        m_tables = std::move(fresh);
    }
    Logger_InfoF(kSource, __LINE__, "name tables loaded (keys): %s; scrambled=%d", summary.c_str(), scrambled ? 1 : 0);
}

void NameTables::SetLanguageFeature(bool on) {
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    m_languageFeature = on;
}

bool NameTables::LanguageFeature() const {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    return m_languageFeature;
}

void NameTables::SetLanguageIndex(int index) {
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    m_languageIndex = (index >= 0 && index < kLanguageCount) ? index : 1;
}

int NameTables::LanguageIndex() const {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    return m_languageIndex;
}

std::string NameTables::GidCsv() const {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    return m_gidCsv;
}

std::string NameTables::SoftidCsv() const {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    return m_softidCsv;
}

std::string NameTables::SubsoftidCsv() const {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    return m_subsoftidCsv;
}

std::string NameTables::BigfileCsv() const {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    return m_bigfileCsv;
}

bool NameTables::Scrambled() const {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    return m_scrambled;
}

template <typename Map, typename Key>
std::string NameTables::Lookup(const Map& map, const Key& key) const {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    const auto found = map.find(key);
    return found == map.end() ? std::string() : found->second[m_languageIndex];
}

std::string NameTables::GroupName(int gid) const { return Lookup(m_tables.groups, gid); }
std::string NameTables::GroupDetail(int gid) const { return Lookup(m_tables.groupDetails, gid); }
std::string NameTables::SoftName(int softid) const { return Lookup(m_tables.softs, softid); }
std::string NameTables::ItemName(int id, int subid, int residual) const {
    return Lookup(m_tables.items, ItemKey(id, subid, residual));
}
std::string NameTables::BigfileText(int id) const { return Lookup(m_tables.bigfile, id); }

}  // namespace Trova
