// The one configuration object of the program: the window settings plus the
// data-file paths, the data files' scrambling flag and the language, section
// [other] of "config.inf". Created on first use, never destroyed.
#pragma once

#include "uiclean/configbase.h"

#include <cstdint>
#include <string>

class I18nConfig : public ConfigBase {
public:
    static I18nConfig& Instance();

    // Reads the file over the defaults, resolves the data paths, selects the
    // language and hands the name tables their files. Always returns 1.
    int Init() override;
    void Save() override;

    // Takes a Windows language identifier; the index follows its primary language.
    void SetLanguage(std::uint16_t langId);
    int LanguageIndex() const { return m_languageIndex; }

    bool Encryption() const { return m_encryption != 0; }
    void SetEncryption(bool on) { m_encryption = on ? 1 : 0; }
    const std::wstring& TrashdatPath() const { return m_trashdatPath; }
    const std::wstring& ExtdatPath() const { return m_extdatPath; }

    // A path as given when something exists there, else beside the program
    // when something exists there, else empty.
    static std::wstring ResolvePath(const std::wstring& path);

protected:
    I18nConfig();

private:
    void SelectLanguageIndex();

    std::int32_t m_encryption = 0;
    std::wstring m_trashdatPath;
    std::wstring m_extdatPath;
    int m_languageIndex = 1;
};
