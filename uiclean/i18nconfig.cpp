#include "uiclean/i18nconfig.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/registry.h"
#include "fendrel/utils.h"
#include "trova/clean/nametables.h"
#include "trova/clean/languagetable.h"

#include <mutex>

I18nConfig::I18nConfig() : ConfigBase(this) {}

I18nConfig& I18nConfig::Instance() {
    static std::once_flag once;
    static I18nConfig* instance = nullptr;
    std::call_once(once, [] { instance = new I18nConfig(); });
    return *instance;
}

std::wstring I18nConfig::ResolvePath(const std::wstring& path) {
    if (!path.empty() && File::Exist(path))
        return path;
    std::wstring besideProgram = File::Directory(L"") + fendrel::kPathSep + path;
    if (File::Exist(besideProgram))
        return besideProgram;
    return L"";
}

int I18nConfig::Init() {
    ConfigBase::Init();

    const wchar_t* o = s_secOther;
    m_encryption = static_cast<std::int32_t>(GetInt(o, L"encryption", 0));
    m_trashdatPath = GetString(o, L"trashdatPath");
    m_extdatPath = ResolvePath(GetString(o, L"extdatPath"));
    // Rules read the registry; on Linux that is a .reg file store (a no-op on Windows).
    std::wstring registryStore = GetString(o, L"registryStore", L"registry.reg");
    if (!registryStore.empty()) {
        std::wstring resolved = ResolvePath(registryStore);
        if (!resolved.empty())
            Registry::SetStore(resolved);
    }

    // The interface is always multilingual; a 0 in the file is rewritten as 1.
    SetI18n(1);
    Trova::NameTables& tables = Trova::NameTables::Instance();
    tables.SetLanguageFeature(true);

    std::string tablePaths[4];
    const wchar_t* tableKeys[4] = {L"gidcsv", L"softidCsv", L"subsoftidCsv", L"bigfileCsv"};
    for (int i = 0; i < 4; ++i)
        tablePaths[i] = Utils::Utf16ToAnsi(ResolvePath(GetString(o, tableKeys[i])));

    if (GetLangId() == 0)
        SetLangId(static_cast<std::uint16_t>(Utils::UserDefaultLangId() & 0x3FF));
    SelectLanguageIndex();

    tables.Load(tablePaths[0], tablePaths[1], tablePaths[2], tablePaths[3], Encryption());
    Logger_InfoF("uiclean/i18nconfig", __LINE__, "configuration: langid=%u language index=%d encryption=%d",
                 static_cast<unsigned>(GetLangId()), m_languageIndex, m_encryption);
    return 1;
}

void I18nConfig::Save() {
    ConfigBase::Save();
}

void I18nConfig::SetLanguage(std::uint16_t langId) {
    SetLangId(langId);
    SelectLanguageIndex();
}

void I18nConfig::SelectLanguageIndex() {
    m_languageIndex = LanguageTable::IndexOf(GetLangId());
    Trova::NameTables::Instance().SetLanguageIndex(m_languageIndex);
}
