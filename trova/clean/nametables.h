// The process-wide store of the four localized name tables (groups, programs,
// items, extension categories and numbered interface texts). The
// configuration hands it the table paths and the language at start-up.
//
// Each table is a CSV file whose first line names the columns (any order,
// extra columns ignored); every key and text column must be there. Each key
// holds eight texts, one per language index:
//   0 zh, 1 en, 2 de, 3 fr, 4 es, 5 pt, 6 ru, 7 it
//   gid table:       gid, desc_zh..desc_it (GroupName), det_zh..det_it (GroupDetail)
//   softid table:    softid, zh..it (SoftName)
//   subsoftid table: id, subid, residual, zh..it (ItemName)
//   bigfile table:   id, zh..it (BigfileText)
// Cells follow the usual CSV quoting ("a, ""b""" => a, "b"); unquoted cells
// lose surrounding spaces and tabs; a cell cannot span lines. A UTF-8
// byte-order mark and blank lines are skipped. Keys are read by std::stoi
// rules (" 12" => 12, "12abc" => 12, "abc" => error); a key given twice
// keeps its last row.
//
// Lookups may run on any thread while another thread loads.
#pragma once

#include <array>
#include <map>
#include <shared_mutex>
#include <string>
#include <tuple>

namespace Trova {

class NameTables {
public:
    static NameTables& Instance();

    // Paths in the order gid, softid, subsoftid, bigfile; narrow, in the
    // process code page. scrambled tells how the files are stored. Replaces
    // every table loaded before.
    //   an empty path or a folder   => that table stays empty (one info line)
    //   any file that cannot be read or parsed => no table at all, the
    //     language feature is switched off, one error line names the table
    // Never throws.
    void Load(const std::string& gidCsv, const std::string& softidCsv, const std::string& subsoftidCsv,
              const std::string& bigfileCsv, bool scrambled);

    void SetLanguageFeature(bool on);
    bool LanguageFeature() const;
    // 0..7, the index into the language table; anything else selects 1 (English).
    void SetLanguageIndex(int index);
    int LanguageIndex() const;

    std::string GidCsv() const;
    std::string SoftidCsv() const;
    std::string SubsoftidCsv() const;
    std::string BigfileCsv() const;
    bool Scrambled() const;

    // Localized texts of the current language; empty when the key is unknown.
    // They answer whether or not the language feature is on: callers check it.
    std::string GroupName(int gid) const;
    std::string GroupDetail(int gid) const;
    std::string SoftName(int softid) const;
    std::string ItemName(int id, int subid, int residual) const;
    std::string BigfileText(int id) const;

    static constexpr int kLanguageCount = 8;
    using Texts = std::array<std::string, kLanguageCount>;
    using ItemKey = std::tuple<int, int, int>;  // id, subid, residual

private:
    // The contents of the four files, replaced as a whole by Load.
    struct Tables {
        std::map<int, Texts> groups;
        std::map<int, Texts> groupDetails;
        std::map<int, Texts> softs;
        std::map<ItemKey, Texts> items;
        std::map<int, Texts> bigfile;
    };

    NameTables() = default;

    template <typename Map, typename Key>
    std::string Lookup(const Map& map, const Key& key) const;

    // Shared for lookups (scan workers and the UI thread), exclusive for writes.
    mutable std::shared_mutex m_mutex;
    std::string m_gidCsv;
    std::string m_softidCsv;
    std::string m_subsoftidCsv;
    std::string m_bigfileCsv;
    bool m_scrambled = false;
    bool m_languageFeature = false;
    int m_languageIndex = 1;
    Tables m_tables;
};

}  // namespace Trova
