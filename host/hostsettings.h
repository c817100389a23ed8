// What the host functions read from and write to the program's
// configuration; the program hands its configuration object in at start-up.
#pragma once

#include <cstdint>
#include <string>

class HostSettings {
public:
    virtual ~HostSettings() = default;
    virtual bool Developer() const = 0;  // "z"
    virtual bool I18n() const = 0;
    virtual std::wstring ProductName() const = 0;
    virtual std::wstring PackageName() const = 0;
    virtual std::wstring Channel() const = 0;
    virtual std::wstring WindowTitle() const = 0;
    virtual std::string FileVersion() const = 0;  // "1.2.3.4"
    virtual void SetWindowRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) = 0;
};

// Null until the program sets it; functions that need it then answer their
// failure value.
void SetHostSettings(HostSettings* settings);
HostSettings* GetHostSettings();
