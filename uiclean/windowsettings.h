// Built-in window defaults that the start-up hands to the configuration
// before the file is read over them.
#pragma once

#include <cstdint>
#include <string>

struct WindowSettings {
    std::wstring windowClass;
    std::wstring title;
    std::string host;  // UTF-8 page origin
    std::int32_t z = 0;
    std::int32_t enableHotkey = 0;
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::int32_t captionLeft = 0, captionTop = 0, captionRight = 0, captionBottom = 0;
    std::int32_t minWidth = 0, minHeight = 0;
};

// The eleven window options, in the order the host defines them.
struct WindowFlags {
    std::int32_t borderlessResize = 0;
    std::int32_t borderlessDrag = 0;
    std::int32_t borderless = 0;
    std::int32_t borderlessShadow = 0;
    std::int32_t legacySystem = 0;  // 1 on systems older than Windows 8
    std::int32_t closeAsHide = 0;
    std::int32_t centerWindow = 0;
    std::int32_t closeAsQuit = 0;
    std::int32_t dwExStyle = 0;
    std::int32_t editVisible = 0;
    std::int32_t editHeight = 0;
};

// The values the program starts from.
WindowSettings StartupWindowSettings();
WindowFlags StartupWindowFlags(bool legacySystem);
