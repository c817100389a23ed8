// The main window's settings, section [window] of "config.inf", on top of the
// shared product fields. Keys read here override the start-up defaults; a
// file that exists but lacks a key gives that key's own default (an 800 x 600
// window at 0,0), not the start-up's.
#pragma once

#include "fendrel/baseconfigbase.h"
#include "uiclean/windowsettings.h"

#include <cstdint>
#include <string>

class ConfigBase : public BaseConfigBase {
public:
    explicit ConfigBase(BaseConfigBase* self);

    int Init() override;
    void Save() override;
    using BaseConfigBase::DefaultSet;
    // Sets infPath and copies the built-in window defaults.
    void DefaultSet(const WindowFlags& flags, const WindowSettings& settings);

    const WindowFlags& Flags() const { return m_flags; }
    const std::wstring& WindowClass() const { return m_windowClass; }
    const std::wstring& Title() const { return m_title; }
    const std::string& Host() const { return m_host; }
    std::int32_t Z() const { return m_z; }
    std::int32_t EnableHotkey() const { return m_enableHotkey; }
    std::int32_t Left() const { return m_left; }
    std::int32_t Top() const { return m_top; }
    std::int32_t Right() const { return m_right; }
    std::int32_t Bottom() const { return m_bottom; }
    std::int32_t CaptionLeft() const { return m_captionLeft; }
    std::int32_t CaptionTop() const { return m_captionTop; }
    std::int32_t CaptionRight() const { return m_captionRight; }
    std::int32_t CaptionBottom() const { return m_captionBottom; }
    std::int32_t MinWidth() const { return m_minWidth; }
    std::int32_t MinHeight() const { return m_minHeight; }
    const std::wstring& Url() const { return m_url; }
    std::int32_t TempLocalStorage() const { return m_tempLocalStorage; }
    std::int32_t TempCookie() const { return m_tempCookie; }

    // The window's place as the user left it; saved at exit.
    void SetWindowRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);

    static const wchar_t* const s_secWindow;

private:
    WindowFlags m_flags;
    std::wstring m_windowClass;
    std::wstring m_title;
    std::string m_host;
    std::int32_t m_z = 0;
    std::int32_t m_enableHotkey = 0;
    std::int32_t m_left = 0, m_top = 0, m_right = 0, m_bottom = 0;
    std::int32_t m_captionLeft = 0, m_captionTop = 0, m_captionRight = 0, m_captionBottom = 0;
    std::int32_t m_minWidth = 0, m_minHeight = 0;
    std::wstring m_url;
    std::int32_t m_tempLocalStorage = 0;
    std::int32_t m_tempCookie = 0;
};
