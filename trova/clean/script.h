// A rule script ("wy"): a Lua 5.1 file beside the program whose return value
// names a location. Each run has a fresh interpreter, so runs on several
// threads share nothing; a failing script yields the empty text and a warning.
#pragma once

#include "trova/clean/baseobject.h"
#include "trova/property/properties.h"

#include <string>

namespace pugi {
class xml_node;
}

namespace Trova {

class Script : public BaseObject {
public:
    explicit Script(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    // The script's string result in the process code page; empty on failure
    // or when it returns nil (its message is logged).
    std::string Run() const;

    StringProperty sv;  // detector name
    StringProperty uk;  // script file, relative to the program's folder
};

}  // namespace Trova
