// The process-wide store of the four localized name tables (groups, programs,
// items, extension categories and numbered interface texts). The
// configuration hands it the table paths and the language at start-up.
//
// For now the store records the paths and the language; the tables' contents
// are read by the scan engine's table loader. Until then every lookup yields
// the empty text, which callers treat as "no localized name".
#pragma once

#include <mutex>
#include <string>

namespace Trova {

class NameTables {
public:
    static NameTables& Instance();

    // Paths in the order gid, softid, subsoftid, bigfile; narrow, in the
    // process code page. scrambled tells how the files are stored.
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
    std::string GroupName(int gid) const;
    std::string SoftName(int softid) const;
    std::string ItemName(int id, int subid, int residual) const;
    std::string BigfileText(int id) const;

private:
    NameTables() = default;

    mutable std::mutex m_mutex;
    std::string m_gidCsv;
    std::string m_softidCsv;
    std::string m_subsoftidCsv;
    std::string m_bigfileCsv;
    bool m_scrambled = false;
    bool m_languageFeature = false;
    int m_languageIndex = 1;
};

}  // namespace Trova
