// Attribute values of the rule files. Every property remembers whether its
// attribute was present; an absent one answers with its default.
//
// Reading rules (pugixml's conversions):
//   flag:        "1", "t", "T", "y", "Y" as first character => true
//   number:      unsigned 32-bit, "0x" for hex, absent => 0xFFFFFFFF unless stated
//   category:    "3;x;7" => {3, 7} and "Invalid number: x" on standard error
//                "3;7;" => {3, 7}      "" => {}      "3;;7" => {3, 7} and "Invalid number: "
//   pattern list "a;;b;" => {"a", "", "b", ""}
#pragma once

#include "trova/clean/baseobject.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace pugi {
class xml_node;
}

namespace Trova {

class BooleanValue : public BaseObject {
public:
    BooleanValue(BaseObject* parent, std::uint32_t kind, bool defaultValue)
        : BaseObject(parent, kind), defaultValue(defaultValue) {}
    void Read(const pugi::xml_node& node, const char* attribute);
    bool Get() const { return present ? value : defaultValue; }

    bool value = false;
    bool defaultValue;
};

// The default-selection flag of a program detail: never selected under the
// groups 10 and 11.
class DefSel : public BooleanValue {
public:
    using BooleanValue::BooleanValue;
    bool Selected(std::uint32_t groupId) const { return groupId == 10 || groupId == 11 ? false : Get(); }
};

class Uint32Property : public BaseObject {
public:
    explicit Uint32Property(BaseObject* parent, std::uint32_t kind = 0, std::uint32_t defaultValue = 0xFFFFFFFFu)
        : BaseObject(parent, kind), value(defaultValue) {}
    void Read(const pugi::xml_node& node, const char* attribute);
    std::uint32_t Get() const { return value; }

    std::uint32_t value;
};

class StringProperty : public BaseObject {
public:
    explicit StringProperty(BaseObject* parent, std::uint32_t kind = 0) : BaseObject(parent, kind) {}
    void Read(const pugi::xml_node& node, const char* attribute);
    const std::string& Get() const { return value; }

    std::string value;
};

// A path pattern ("uk", "av") expanded into the concrete paths that exist now.
class Path : public BaseObject {
public:
    explicit Path(BaseObject* parent, std::string pattern = {})
        : BaseObject(parent, kKindPath), value(std::move(pattern)) {}
    void Read(const pugi::xml_node& node, const char* attribute);
    const std::string& Get() const { return value; }
    // Environment variables, %AllDisk%, %enum%, <regex> folder patterns and
    // mapping names of the enclosing block, multiplied out; only paths that
    // exist are kept. Safe from several threads at once.
    std::vector<std::string> Expand() const;

    std::string value;
};

// Depth limit; -1 means unlimited.
class Depth : public BaseObject {
public:
    explicit Depth(BaseObject* parent) : BaseObject(parent, kKindDepth) {}
    void Read(const pugi::xml_node& node, const char* attribute);
    std::int32_t Get() const { return value; }

    std::int32_t value = -1;
};

// Group category ids ("ar"); a set, order does not matter.
class Category : public BaseObject {
public:
    explicit Category(BaseObject* parent) : BaseObject(parent, kKindCategory) {}
    void Read(const pugi::xml_node& node, const char* attribute);
    bool Contains(std::uint32_t id) const { return ids.count(id) != 0; }

    std::unordered_set<std::uint32_t> ids;
};

class VecIntProperty : public BaseObject {
public:
    explicit VecIntProperty(BaseObject* parent, std::uint32_t kind = 0) : BaseObject(parent, kind) {}
    std::vector<std::uint32_t> values;
};

// A ";"-separated pattern list, kept narrow and widened.
class PatternList : public BaseObject {
public:
    PatternList(BaseObject* parent, std::uint32_t kind) : BaseObject(parent, kind) {}
    void Read(const pugi::xml_node& node, const char* attribute);
    // True when any pattern matches the name (wildcards, case-insensitive).
    bool AnyMatches(const std::string& name) const;

    std::vector<std::string> patterns;
    std::vector<std::wstring> widePatterns;
};

// "od": file-name patterns a file must match.
class Wildcard : public PatternList {
public:
    explicit Wildcard(BaseObject* parent) : PatternList(parent, kKindWildcard) {}
};

// "mz": file-name patterns that exclude a file.
class Filtration : public PatternList {
public:
    explicit Filtration(BaseObject* parent) : PatternList(parent, kKindFiltration) {}
};

// "ur": a file-name regular expression between two delimiter characters.
//   "/^cache_[0-9]+$/" => matches "Cache_12", not "cache_12.bak"
class NameRegular : public BaseObject {
public:
    explicit NameRegular(BaseObject* parent);
    ~NameRegular() override;
    void Read(const pugi::xml_node& node, const char* attribute);
    // Whole-name, case-insensitive ECMAScript match. An empty attribute or an
    // expression that does not compile matches nothing (and is logged once).
    // Safe from several threads at once; the expression is compiled on first use.
    bool Matches(const std::string& name) const;

    std::string value;
    std::wstring wideValue;

private:
    struct Compiled;
    enum State : int { kUnknown, kReady, kBroken };
    const Compiled* Expression() const;

    mutable std::mutex m_mutex;
    mutable std::unique_ptr<Compiled> m_compiled;
    mutable std::atomic<int> m_state{kUnknown};
};

}  // namespace Trova
