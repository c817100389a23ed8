#include "uiclean/windowsettings.h"

WindowSettings StartupWindowSettings() {
    WindowSettings s;
    s.windowClass = L"cleanWin";
    s.title = L"SelvarC盘清理";
    s.host = "http://127.0.0.1";
    s.z = 1;
    s.enableHotkey = 0;
    s.left = 0;
    s.top = 0;
    s.right = 980;
    s.bottom = 720;
    s.captionLeft = -1;
    s.captionTop = 0;
    s.captionRight = -1;
    s.captionBottom = 60;
    s.minWidth = 0;
    s.minHeight = 0;
    return s;
}

WindowFlags StartupWindowFlags(bool legacySystem) {
    WindowFlags f;
    f.borderlessResize = 1;
    f.borderlessDrag = 0;
    f.borderless = 1;
    f.borderlessShadow = 1;
    f.legacySystem = legacySystem ? 1 : 0;
    f.closeAsHide = 0;
    f.centerWindow = 1;
    f.closeAsQuit = 1;
    f.dwExStyle = 0;
    f.editVisible = 0;
    f.editHeight = 30;
    return f;
}
