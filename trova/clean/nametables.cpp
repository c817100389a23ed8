#include "trova/clean/nametables.h"

#include "fendrel/logger.h"

namespace Trova {

NameTables& NameTables::Instance() {
    // Never destroyed: workers may still look names up while the process ends.
    static NameTables* instance = new NameTables();
    return *instance;
}

void NameTables::Load(const std::string& gidCsv, const std::string& softidCsv, const std::string& subsoftidCsv,
                      const std::string& bigfileCsv, bool scrambled) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_gidCsv = gidCsv;
    m_softidCsv = softidCsv;
    m_subsoftidCsv = subsoftidCsv;
    m_bigfileCsv = bigfileCsv;
    m_scrambled = scrambled;
    Logger_InfoF("clean/softs", __LINE__, "name tables: gid=%s softid=%s subsoftid=%s bigfile=%s scrambled=%d",
                 gidCsv.c_str(), softidCsv.c_str(), subsoftidCsv.c_str(), bigfileCsv.c_str(), scrambled ? 1 : 0);
}

void NameTables::SetLanguageFeature(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_languageFeature = on;
}

bool NameTables::LanguageFeature() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_languageFeature;
}

void NameTables::SetLanguageIndex(int index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_languageIndex = (index >= 0 && index < 8) ? index : 1;
}

int NameTables::LanguageIndex() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_languageIndex;
}

std::string NameTables::GidCsv() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_gidCsv;
}

std::string NameTables::SoftidCsv() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_softidCsv;
}

std::string NameTables::SubsoftidCsv() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_subsoftidCsv;
}

std::string NameTables::BigfileCsv() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bigfileCsv;
}

bool NameTables::Scrambled() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_scrambled;
}

std::string NameTables::GroupName(int) const { return {}; }
std::string NameTables::SoftName(int) const { return {}; }
std::string NameTables::ItemName(int, int, int) const { return {}; }
std::string NameTables::BigfileText(int) const { return {}; }

}  // namespace Trova
