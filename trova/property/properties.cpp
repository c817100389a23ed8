#include "trova/property/properties.h"

#include "fendrel/fsops.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <pugixml.hpp>

#include <iostream>
#include <regex>
#include <stdexcept>

namespace Trova {

namespace {

// Splits at every ";" and keeps every piece, empty ones included:
//   "a;;b;" => {"a", "", "b", ""}      "" => {""}
std::vector<std::string> SplitKeepingEmpty(const std::string& text) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(';', start);
        if (end == std::string::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace

void BooleanValue::Read(const pugi::xml_node& node, const char* attribute) {
    const pugi::xml_attribute attr = node.attribute(attribute);
    present = static_cast<bool>(attr);
    if (present) {
        value = attr.as_bool(false);
    }
}

void Uint32Property::Read(const pugi::xml_node& node, const char* attribute) {
    const pugi::xml_attribute attr = node.attribute(attribute);
    present = static_cast<bool>(attr);
    if (present) {
        value = attr.as_uint(value);
    }
}

void StringProperty::Read(const pugi::xml_node& node, const char* attribute) {
    const pugi::xml_attribute attr = node.attribute(attribute);
    present = static_cast<bool>(attr);
    if (present) {
        value = attr.as_string();
    }
}

void Path::Read(const pugi::xml_node& node, const char* attribute) {
    const pugi::xml_attribute attr = node.attribute(attribute);
    present = static_cast<bool>(attr);
    if (present) {
        value = attr.as_string();
    }
}

void Depth::Read(const pugi::xml_node& node, const char* attribute) {
    const pugi::xml_attribute attr = node.attribute(attribute);
    present = static_cast<bool>(attr);
    if (present) {
        value = attr.as_int(-1);
    }
}

void Category::Read(const pugi::xml_node& node, const char* attribute) {
    const pugi::xml_attribute attr = node.attribute(attribute);
    present = static_cast<bool>(attr);
    if (!present) {
        return;
    }
    ids.clear();
    std::vector<std::string> pieces = SplitKeepingEmpty(attr.as_string());
    // A list ends at its last ";": "3;7;" is {3, 7} and "" is the empty set,
    // without a complaint about the empty tail. Empty pieces inside the list
    // ("3;;7") are still reported as invalid numbers.
    if (pieces.back().empty()) {
        pieces.pop_back();
    }
    for (const std::string& piece : pieces) {
        try {
            ids.insert(static_cast<std::uint32_t>(std::stoi(piece)));
        } catch (const std::invalid_argument&) {
            std::cerr << "Invalid number: " << piece << '\n';
        } catch (const std::out_of_range&) {
            std::cerr << "Number out of range: " << piece << '\n';
        }
    }
}

void PatternList::Read(const pugi::xml_node& node, const char* attribute) {
    const pugi::xml_attribute attr = node.attribute(attribute);
    present = static_cast<bool>(attr);
    if (!present) {
        return;
    }
    patterns = SplitKeepingEmpty(attr.as_string());
    widePatterns.clear();
    widePatterns.reserve(patterns.size());
    for (const std::string& pattern : patterns) {
        widePatterns.push_back(Utils::AnsiToUtf16(pattern));
    }
}

bool PatternList::AnyMatches(const std::string& name) const {
    for (const std::string& pattern : patterns) {
        if (Wildcards::MatchSpec(name, pattern)) {
            return true;
        }
    }
    return false;
}

struct NameRegular::Compiled {
    std::wregex expression;
};

NameRegular::NameRegular(BaseObject* parent) : BaseObject(parent, kKindNameRegular) {}

NameRegular::~NameRegular() = default;

void NameRegular::Read(const pugi::xml_node& node, const char* attribute) {
    const pugi::xml_attribute attr = node.attribute(attribute);
    present = static_cast<bool>(attr);
    if (present) {
        value = attr.as_string();
        wideValue = Utils::AnsiToUtf16(value);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_compiled.reset();
    m_state.store(kUnknown, std::memory_order_release);
}

const NameRegular::Compiled* NameRegular::Expression() const {
    // Compiled once per rule rather than per file: a walk tests every file
    // name of a cache folder against it, from several workers at once.
    int state = m_state.load(std::memory_order_acquire);
    if (state == kUnknown) {
        std::lock_guard<std::mutex> lock(m_mutex);
        state = m_state.load(std::memory_order_relaxed);
        if (state == kUnknown) {
            // The text is the expression between two delimiter characters.
            if (wideValue.size() <= 2) {
                Logger_WarnF("property/properties", __LINE__, "empty file-name expression \"%s\" matches no file",
                             value.c_str());
                state = kBroken;
            } else {
                try {
                    auto compiled = std::make_unique<Compiled>();
                    compiled->expression.assign(wideValue.substr(1, wideValue.size() - 2),
                                                std::regex_constants::ECMAScript | std::regex_constants::icase);
                    m_compiled = std::move(compiled);
                    state = kReady;
                } catch (const std::exception& e) {
                    Logger_WarnF("property/properties", __LINE__,
                                 "file-name expression \"%s\" does not compile (%s); it matches no file",
                                 value.c_str(), e.what());
                    state = kBroken;
                }
            }
            m_state.store(state, std::memory_order_release);
        }
    }
    return state == kReady ? m_compiled.get() : nullptr;
}

bool NameRegular::Matches(const std::string& name) const {
    const Compiled* compiled = Expression();
    if (!compiled) {
        return false;
    }
    try {
        return std::regex_match(Utils::AnsiToUtf16(name), compiled->expression);
    } catch (const std::exception&) {
        // Too complex for this name (error_complexity / error_stack): not junk.
        return false;
    }
}

}  // namespace Trova
