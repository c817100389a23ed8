// Where an installed program lives: registry values ("es"), install checks
// ("hw"), and the detection block ("fb", Mapping) that names locations read
// from the registry, from the program's INI, JSON, XML or SQLite settings, or
// from a rule script. Path expansion asks the block's mappings for a name.
#pragma once

#include "trova/clean/baseobject.h"
#include "trova/property/properties.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pugi {
class xml_node;
}

namespace Trova {

class Script;

// "n levels up": cut at the n-th last path separator of this platform ("\\"
// on Windows, "/" on Linux, where "\\" is an ordinary file-name character and
// does not count); fewer separators keep the text.
//   LevelsUp("C:\\a\\b\\c.exe", 1) => "C:\\a\\b"     LevelsUp("C:\\a\\b", 3) => "C:\\a\\b"
//   LevelsUp("/opt/app/bin/app", 2) => "/opt/app"  (Linux)
std::string LevelsUp(const std::string& text, std::uint32_t levels);

// A registry value condition ("es").
class RegInfo : public BaseObject {
public:
    enum class View { Default, Bit32, Bit64 };
    explicit RegInfo(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    // The raw value text, or empty.
    std::string ReadValue(View view) const;
    // The value cleaned into a path: view order, quotes, DisplayIcon index, levels up.
    std::string Resolve() const;

    StringProperty sv;  // variable name
    StringProperty gb;  // root\subkey
    StringProperty yf;  // value name
    StringProperty yc;
    Uint32Property kv;  // levels up, default 0
};

// Install check ("hw"): installed when any condition resolves to an existing path.
class Install : public BaseObject {
public:
    explicit Install(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    bool IsInstalled() const;

    std::vector<std::unique_ptr<RegInfo>> conditions;
};

class IniConfig : public BaseObject {
public:
    explicit IniConfig(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    // The key's value in the first candidate file that has it, levels up applied.
    std::string Evaluate() const;

    StringProperty ms;  // section
    StringProperty yc;
    Path av;            // file
    StringProperty fv;  // key
    StringProperty sv;  // variable name
    Uint32Property kv;  // levels up
};

class JsonConfig : public BaseObject {
public:
    explicit JsonConfig(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    // The first candidate file whose member path ends at a string, number or
    // boolean, as text. A non-object on the way, an object, array or null at
    // the end, or a file that does not parse gives nothing from that file.
    //   {"a":{"b":"x"}}, "a\b" => "x"      {"a":5}, "a\b" => ""
    std::string Evaluate() const;

    Path av;
    StringProperty sv;
    StringProperty zg;  // member path, "\"-separated
};

class XmlConfig : public BaseObject {
public:
    explicit XmlConfig(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    // Attribute "lc" of the element path (first child element of each name)
    // in the first candidate file that has both, levels up applied; with "ub"
    // false the source never gives a value.
    std::string Evaluate() const;

    StringProperty lc;  // attribute name
    StringProperty yc;
    Path av;
    BooleanValue ub;    // take the attribute (default true)
    StringProperty sv;
    Uint32Property kv;
    StringProperty zg;  // element path
};

class DbConfig : public BaseObject {
public:
    explicit DbConfig(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    // Every one-column value of the query, levels up applied.
    std::vector<std::string> Evaluate() const;

    Path av;            // database (expanded like the other sources' paths)
    StringProperty sv;
    Uint32Property kv;
    StringProperty zl;  // SQL
};

// A detection block ("fb").
class Mapping : public BaseObject {
public:
    explicit Mapping(BaseObject* parent);
    ~Mapping() override;
    void Read(const pugi::xml_node& node);
    // The first non-empty value of a source named `name`, trying registry,
    // INI, JSON, XML, database and script sources in that order. Safe from
    // several threads at once. A source whose own file path needs the name
    // being resolved (directly or through other names) yields nothing for
    // that name instead of recursing without end.
    bool Resolve(const std::string& name, std::string& value) const;

    std::vector<std::unique_ptr<RegInfo>> registry;
    std::vector<std::unique_ptr<IniConfig>> ini;
    std::vector<std::unique_ptr<JsonConfig>> json;
    std::vector<std::unique_ptr<XmlConfig>> xml;
    std::vector<std::unique_ptr<DbConfig>> db;
    std::vector<std::unique_ptr<Script>> scripts;
};

}  // namespace Trova
