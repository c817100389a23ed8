// Opening a data file of rules, plain or scrambled: a relative path is
// relative to the program's folder, and every failure is logged once.
#pragma once

#include <string>

namespace pugi {
class xml_document;
}

namespace Trova {

// Parses the file into `document`; false (logged with `what`) when it cannot
// be read or parsed. `where` receives the path actually tried.
bool LoadRuleDocument(const std::wstring& path, bool scrambled, const char* what, pugi::xml_document& document,
                      std::wstring* where = nullptr);

}  // namespace Trova
