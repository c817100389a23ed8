#include "host/basewindow.h"

#include "host/nativewindow.h"

#include "fendrel/file.h"
#include "fendrel/utils.h"
#include "uiclean/configbase.h"

HWND BaseBlkWinow::CreateFromConfig(const ConfigBase& config, int showCommand) {
    // An empty class name (a file without one) keeps the window's own.
    if (!config.WindowClass().empty())
        className = config.WindowClass();
    title = config.Title();
    host = config.Host();
    // An empty url keeps the page the window was made with.
    if (!config.Url().empty())
        url = Utils::utf16ToUtf8(config.Url());
    developer = config.Z();
    enableHotkey = config.EnableHotkey();
    minWidth = config.MinWidth();
    minHeight = config.MinHeight();
    outer = {config.Left(), config.Top(), config.Right(), config.Bottom()};
    caption = {config.CaptionLeft(), config.CaptionTop(), config.CaptionRight(), config.CaptionBottom()};
    const WindowFlags& flags = config.Flags();
    borderlessResize = flags.borderlessResize;
    borderlessDrag = flags.borderlessDrag;
    borderless = flags.borderless;
    borderlessShadow = flags.borderlessShadow;
    inset = flags.legacySystem != 0 ? 1 : 0;
    closeAsHide = flags.closeAsHide;
    centerWindow = flags.centerWindow;
    closeAsQuit = flags.closeAsQuit;
    dwExStyle = flags.dwExStyle;
    editVisible = flags.editVisible;
    editHeight = flags.editHeight;
    if (config.TempLocalStorage() != 0)
        localStoragePath = File::TempPath() + L"LocalStorage";
    if (config.TempCookie() != 0)
        cookieJarPath = File::TempPath() + L"cookie.datee";
    return CreateWebViewWindow(nativewin::ProgramInstance(), showCommand) ? window : nullptr;
}
