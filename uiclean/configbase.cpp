#include "uiclean/configbase.h"

#include "fendrel/utils.h"

#include <cstdlib>
#include <vector>

const wchar_t* const ConfigBase::s_secWindow = L"window";

namespace {

std::int32_t Flag(long value) { return value == 1 ? 1 : 0; }
std::int32_t NonZero(std::int32_t value) { return value != 0 ? 1 : 0; }

// A caption token is a decimal integer; text that is no number reads as 0.
std::int32_t CaptionToken(const std::wstring& token) {
    return static_cast<std::int32_t>(std::wcstol(token.c_str(), nullptr, 10));
}

}  // namespace

ConfigBase::ConfigBase(BaseConfigBase* self) : BaseConfigBase(self) {}

void ConfigBase::DefaultSet(const WindowFlags& flags, const WindowSettings& settings) {
    BaseConfigBase::DefaultSet();
    m_flags = flags;
    m_windowClass = settings.windowClass;
    m_title = settings.title;
    m_host = settings.host;
    m_z = settings.z;
    m_enableHotkey = settings.enableHotkey;
    m_left = settings.left;
    m_top = settings.top;
    m_right = settings.right;
    m_bottom = settings.bottom;
    m_captionLeft = settings.captionLeft;
    m_captionTop = settings.captionTop;
    m_captionRight = settings.captionRight;
    m_captionBottom = settings.captionBottom;
    m_minWidth = settings.minWidth;
    m_minHeight = settings.minHeight;
}

int ConfigBase::Init() {
    if (BaseConfigBase::Init() == 0)
        return 0;

    const wchar_t* w = s_secWindow;
    m_flags.borderlessResize = Flag(GetInt(w, L"borderResize", 1));
    m_flags.borderlessDrag = m_flags.borderlessResize;
    m_flags.borderless = Flag(GetInt(w, L"borderless", 1));
    m_flags.centerWindow = Flag(GetInt(w, L"center", 1));
    m_flags.editVisible = GetInt(w, L"addrBarVisible", 1) > 0 ? 1 : 0;
    m_windowClass = GetString(w, L"windowClass");
    // Without a host the page has no origin to load from: a file that lacks
    // the key keeps the built-in one.
    if (HasKey(w, L"host"))
        m_host = Utils::utf16ToUtf8(GetString(w, L"host"));
    m_z = static_cast<std::int32_t>(GetInt(w, L"z", 0));
    m_enableHotkey = static_cast<std::int32_t>(GetInt(w, L"enableHotkey", 0));
    m_left = static_cast<std::int32_t>(GetInt(w, L"x", 0));
    m_top = static_cast<std::int32_t>(GetInt(w, L"y", 0));
    m_right = m_left + static_cast<std::int32_t>(GetInt(w, L"width", 800));
    m_bottom = m_top + static_cast<std::int32_t>(GetInt(w, L"height", 600));

    if (HasKey(w, L"caption")) {
        std::wstring caption = GetString(w, L"caption").substr(0, 255);
        std::vector<std::wstring> tokens;
        Utils::Split(caption, tokens, L",");
        std::int32_t* targets[] = {&m_captionLeft, &m_captionTop, &m_captionRight};
        for (size_t i = 0; i < tokens.size(); ++i) {
            // The fourth and every later token set the bottom; the last one wins.
            std::int32_t* target = i < 3 ? targets[i] : &m_captionBottom;
            *target = CaptionToken(tokens[i]);
        }
    }

    m_minWidth = static_cast<std::int32_t>(GetInt(w, L"minwidth", 0));
    m_minHeight = static_cast<std::int32_t>(GetInt(w, L"minheight", 0));
    m_url = GetString(w, L"url");
    m_tempLocalStorage = Flag(GetInt(w, L"tempLocalStorage", 0));
    m_tempCookie = Flag(GetInt(w, L"tempCookie", 1));
    m_title = GetFriendlyName();
    return 1;
}

void ConfigBase::Save() {
    const wchar_t* w = s_secWindow;
    SetInt(w, L"x", m_left);
    SetInt(w, L"y", m_top);
    SetInt(w, L"width", m_right - m_left);
    SetInt(w, L"height", m_bottom - m_top);
    SetInt(w, L"minwidth", m_minWidth);
    SetInt(w, L"minheight", m_minHeight);
    SetInt(w, L"center", NonZero(m_flags.centerWindow));
    SetInt(w, L"borderless", NonZero(m_flags.borderless));
    SetInt(w, L"borderResize", (m_flags.borderlessResize != 0 && m_flags.borderlessDrag != 0) ? 1 : 0);
    SetString(w, L"url", m_url);
    SetString(w, L"host", Utils::utf8ToUtf16(m_host));
    SetInt(w, L"addrBarVisible", NonZero(m_flags.editVisible));
    SetInt(w, L"tempLocalStorage", NonZero(m_tempLocalStorage));
    SetInt(w, L"tempCookie", NonZero(m_tempCookie));
    SetString(w, L"caption", std::to_wstring(m_captionLeft) + L"," + std::to_wstring(m_captionTop) + L"," +
                                 std::to_wstring(m_captionRight) + L"," + std::to_wstring(m_captionBottom));
    SetInt(w, L"z", m_z);
    SetInt(w, L"enableHotkey", m_enableHotkey);
    SetString(w, L"windowClass", m_windowClass);
    BaseConfigBase::Save();
}

void ConfigBase::SetWindowRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    m_left = left;
    m_top = top;
    m_right = right;
    m_bottom = bottom;
}
