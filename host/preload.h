// The page's files, read once from the "html" folder beside the program on
// a thread of their own and served from memory afterwards. Keys are paths
// relative to that folder with "/" separators ("js/app.js").
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace preload {

// Starts the reading thread once per process (later calls do nothing).
void StartPreload();
// The bytes of a key, waiting for the reading to finish; empty when the
// key is unknown. Starts the reading when nobody has yet.
std::vector<std::uint8_t> Lookup(const std::string& key);

// For tests: reads `folder` now and replaces the map.
void LoadFrom(const std::wstring& folder);

}  // namespace preload
