// The few operating-system services the web view needs: random bytes for
// its secrets and opening a page in a browser.
#pragma once

#include <cstddef>
#include <string>

namespace wke::sys {

// Bytes from the system's cryptographic generator; false when it failed.
bool RandomBytes(unsigned char* out, std::size_t size);

// Whether a browser window could be shown at all (Linux: an X or Wayland
// display is set; Windows: always).
bool HasDisplay();

// Opens url in a Chromium-family browser in app mode (the given program
// when not empty, else one found at its usual place), else in the default
// browser. Does not wait for the browser. False when nothing could be
// started.
bool OpenBrowser(const std::string& url, const std::string& browserPath);

}  // namespace wke::sys
