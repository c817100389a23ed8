// Registry values, install checks and the detection block's sources. Every
// evaluation reads files and the registry only; the rule objects are never
// changed, so a mapping may be resolved from several scan workers at once.
#include "trova/clean/softs.h"

#include "trova/clean/directdata.h"
#include "trova/clean/script.h"

#include "fendrel/fsops.h"
#include "fendrel/logger.h"
#include "fendrel/platform.h"
#include "fendrel/registry.h"
#include "fendrel/utils.h"

#include <json/json.h>
#include <pugixml.hpp>

#include <algorithm>
#include <fstream>
#include <utility>

namespace Trova {

namespace {

constexpr const char* kSource = "clean/softs";
constexpr std::uint32_t kNameKind = 46;  // every "sv" name

// Splits at every "\"; empty pieces are kept ("a\\\\b" => "a", "", "b").
std::vector<std::string> SplitPath(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\\', start);
        pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return pieces;
        start = end + 1;
    }
}

struct RootName {
    const char* name;
    HKEY root;
};

// Compared exactly: rule files spell their roots one way.
const RootName kRoots[] = {
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCU", HKEY_CURRENT_USER},                {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_USERS", HKEY_USERS},                 {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

HKEY RootKey(const std::string& name) {
    for (const auto& entry : kRoots) {
        if (name == entry.name)
            return entry.root;
    }
    Logger_Error(kSource, __LINE__, "Invalid root key");
    return HKEY_LOCAL_MACHINE;
}

RegistryView ToRegistryView(RegInfo::View view) {
    switch (view) {
    case RegInfo::View::Bit32:
        return RegistryView::Bit32;
    case RegInfo::View::Bit64:
        return RegistryView::Bit64;
    case RegInfo::View::Default:
        break;
    }
    return RegistryView::Default;
}

// The text of the value at the end of a member path, or empty. jsoncpp
// asserts (throws) when a non-object is searched for a member or when an
// object or array is read as text, so both are checked first.
std::string JsonText(const Json::Value& root, const std::vector<std::string>& names) {
    const Json::Value* current = &root;
    for (const auto& name : names) {
        if (!current->isObject() || !current->isMember(name))
            return {};
        current = &(*current)[name];
    }
    if (current->isNull() || !current->isConvertibleTo(Json::stringValue))
        return {};
    return current->asString();
}

// Names being resolved on this thread, so that a source whose file path
// refers (directly or through other names) to the name it defines ends
// instead of recursing until the stack runs out. The guards on the stack
// form the list; the thread keeps only a plain pointer to the innermost,
// since a thread-local object with a destructor is not safe at thread exit
// with every runtime (mingw's crashed there).
class ResolvingGuard;
thread_local const ResolvingGuard* t_innermost = nullptr;

class ResolvingGuard {
public:
    ResolvingGuard(const Mapping* mapping, const std::string& name)
        : m_mapping(mapping), m_name(name), m_outer(t_innermost) {
        for (const ResolvingGuard* guard = m_outer; guard != nullptr; guard = guard->m_outer) {
            if (guard->m_mapping == mapping && guard->m_name == name) {
                m_reentered = true;
                return;
            }
        }
// The guard unlinks itself before its frame goes; gcc cannot see that.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
        t_innermost = this;
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#  pragma GCC diagnostic pop
#endif
    }
    ~ResolvingGuard() {
        if (!m_reentered)
            t_innermost = m_outer;
    }
    ResolvingGuard(const ResolvingGuard&) = delete;
    ResolvingGuard& operator=(const ResolvingGuard&) = delete;
    bool Reentered() const { return m_reentered; }

private:
    const Mapping* m_mapping;
    const std::string& m_name;
    const ResolvingGuard* m_outer;
    bool m_reentered = false;
};

}  // namespace

std::string LevelsUp(const std::string& text, std::uint32_t levels) {
    std::size_t end = text.size();
    std::size_t cut = std::string::npos;
    for (std::uint32_t i = 0; i < levels; ++i) {
        if (end == 0)
            return text;
        cut = text.rfind(fendrel::kPathSepA, end - 1);
        if (cut == std::string::npos)
            return text;
        end = cut;
    }
    return cut == std::string::npos ? text : text.substr(0, cut);
}

// ---------------------------------------------------------------- RegInfo

RegInfo::RegInfo(BaseObject* parent)
    : BaseObject(parent, kKindNone), sv(this, kNameKind), gb(this), yf(this), yc(this), kv(this, 0, 0) {}

void RegInfo::Read(const pugi::xml_node& node) {
    present = true;
    sv.Read(node, "sv");
    gb.Read(node, "gb");
    yf.Read(node, "yf");
    yc.Read(node, "yc");
    kv.Read(node, "kv");
}

std::string RegInfo::ReadValue(View view) const {
    const std::string& keyPath = gb.Get();
    const std::size_t split = keyPath.find('\\');
    const std::string rootName = keyPath.substr(0, split);
    const std::string subkey = split == std::string::npos ? std::string() : keyPath.substr(split + 1);
    const HKEY root = RootKey(rootName);
    std::wstring value;
    if (!Registry::ReadString(root, Utils::AnsiToUtf16(subkey), Utils::AnsiToUtf16(yf.Get()), ToRegistryView(view),
                              value))
        return {};
    return Utils::Utf16ToAnsi(value);
}

std::string RegInfo::Resolve() const {
    std::string text;
    // A key path that names the 32-bit branch itself is read as written;
    // otherwise a 32-bit installation is preferred, as the program it
    // describes usually is one.
    if (gb.Get().find("WOW6432Node") != std::string::npos) {
        text = ReadValue(View::Default);
    } else {
        text = ReadValue(View::Bit32);
        if (text.empty())
            text = ReadValue(View::Bit64);
    }
    if (text.empty())
        return text;
    if (text.front() == '"' && text.back() == '"')
        text = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
    if (yf.Get() == "DisplayIcon") {
        const std::size_t comma = text.rfind(',');
        if (comma != std::string::npos)
            text.erase(comma);
    }
    return LevelsUp(text, kv.Get());
}

// ---------------------------------------------------------------- Install

Install::Install(BaseObject* parent) : BaseObject(parent, kKindNone) {}

void Install::Read(const pugi::xml_node& node) {
    present = true;
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_element)
            continue;
        const std::string name = child.name();
        if (name == "xi" || name == "es") {
            auto condition = std::make_unique<RegInfo>(this);
            condition->Read(child);
            conditions.push_back(std::move(condition));
        } else {
            Logger_Info(kSource, __LINE__, "unexpected");
        }
    }
}

bool Install::IsInstalled() const {
    for (const auto& condition : conditions) {
        const std::string path = condition->Resolve();
        if (!path.empty() && FileSystem::Exists(path))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------- IniConfig

IniConfig::IniConfig(BaseObject* parent)
    : BaseObject(parent, kKindNone), ms(this), yc(this), av(this), fv(this), sv(this, kNameKind), kv(this, 0, 0) {}

void IniConfig::Read(const pugi::xml_node& node) {
    present = true;
    ms.Read(node, "ms");
    yc.Read(node, "yc");
    av.Read(node, "av");
    fv.Read(node, "fv");
    sv.Read(node, "sv");
    kv.Read(node, "kv");
}

std::string IniConfig::Evaluate() const {
    for (const auto& file : av.Expand()) {
        const std::string value = Profile::ReadString(file, ms.Get(), fv.Get());
        if (!value.empty())
            return LevelsUp(value, kv.Get());
    }
    return {};
}

// ---------------------------------------------------------------- JsonConfig

JsonConfig::JsonConfig(BaseObject* parent) : BaseObject(parent, kKindNone), av(this), sv(this, kNameKind), zg(this) {}

void JsonConfig::Read(const pugi::xml_node& node) {
    present = true;
    av.Read(node, "av");
    sv.Read(node, "sv");
    zg.Read(node, "zg");
}

std::string JsonConfig::Evaluate() const {
    const std::vector<std::string> names = SplitPath(zg.Get());
    for (const auto& file : av.Expand()) {
        try {
            std::ifstream in(file, std::ios::binary);
            if (!in)
                continue;
            Json::CharReaderBuilder builder;
            Json::Value root;
            std::string errors;
            if (!Json::parseFromStream(builder, in, &root, &errors))
                continue;
            std::string text = JsonText(root, names);
            if (!text.empty())
                return text;
        } catch (const std::exception&) {
            // A settings file too deep or too odd for the parser is skipped like one that does not parse.
        }
    }
    return {};
}

// ---------------------------------------------------------------- XmlConfig

XmlConfig::XmlConfig(BaseObject* parent)
    : BaseObject(parent, kKindNone),
      lc(this),
      yc(this),
      av(this),
      ub(this, 0, true),
      sv(this, kNameKind),
      kv(this, 0, 0),
      zg(this) {}

void XmlConfig::Read(const pugi::xml_node& node) {
    present = true;
    lc.Read(node, "lc");
    yc.Read(node, "yc");
    av.Read(node, "av");
    ub.Read(node, "ub");
    sv.Read(node, "sv");
    kv.Read(node, "kv");
    zg.Read(node, "zg");
}

std::string XmlConfig::Evaluate() const {
    const std::vector<std::string> names = SplitPath(zg.Get());
    for (const auto& file : av.Expand()) {
        pugi::xml_document document;
        if (!document.load_file(file.c_str()))
            continue;
        pugi::xml_node node = document;
        for (const auto& name : names) {
            node = node.child(name.c_str());
            if (!node)
                break;
        }
        if (!node)
            continue;
        if (!ub.Get())
            return {};
        const std::string value = node.attribute(lc.Get().c_str()).value();
        if (!value.empty())
            return LevelsUp(value, kv.Get());
    }
    return {};
}

// ---------------------------------------------------------------- DbConfig

DbConfig::DbConfig(BaseObject* parent)
    : BaseObject(parent, kKindNone), av(this), sv(this, kNameKind), kv(this, 0, 0), zl(this) {}

void DbConfig::Read(const pugi::xml_node& node) {
    present = true;
    av.Read(node, "av");
    sv.Read(node, "sv");
    kv.Read(node, "kv");
    zl.Read(node, "zl");
}

std::vector<std::string> DbConfig::Evaluate() const {
    std::vector<std::string> values;
    for (const auto& database : av.Expand()) {
        std::vector<std::string> rows;
        QueryPaths(database, zl.Get(), rows);
        for (const auto& row : rows)
            values.push_back(LevelsUp(row, kv.Get()));
    }
    return values;
}

// ---------------------------------------------------------------- Mapping

Mapping::Mapping(BaseObject* parent) : BaseObject(parent, kKindMapping) {}

Mapping::~Mapping() = default;

void Mapping::Read(const pugi::xml_node& node) {
    present = true;
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_element)
            continue;
        const std::string name = child.name();
        if (name == "es") {
            registry.push_back(std::make_unique<RegInfo>(this));
            registry.back()->Read(child);
        } else if (name == "fw") {
            ini.push_back(std::make_unique<IniConfig>(this));
            ini.back()->Read(child);
        } else if (name == "pf") {
            json.push_back(std::make_unique<JsonConfig>(this));
            json.back()->Read(child);
        } else if (name == "fx") {
            xml.push_back(std::make_unique<XmlConfig>(this));
            xml.back()->Read(child);
        } else if (name == "zp") {
            db.push_back(std::make_unique<DbConfig>(this));
            db.back()->Read(child);
        } else if (name == "wy") {
            scripts.push_back(std::make_unique<Script>(this));
            scripts.back()->Read(child);
        }
    }
}

bool Mapping::Resolve(const std::string& name, std::string& value) const {
    ResolvingGuard guard(this, name);
    if (guard.Reentered())
        return false;

    auto take = [&value](std::string text) {
        if (text.empty())
            return false;
        value = std::move(text);
        return true;
    };
    for (const auto& source : registry) {
        if (source->sv.Get() == name && take(source->Resolve()))
            return true;
    }
    for (const auto& source : ini) {
        if (source->sv.Get() == name && take(source->Evaluate()))
            return true;
    }
    for (const auto& source : json) {
        if (source->sv.Get() == name && take(source->Evaluate()))
            return true;
    }
    for (const auto& source : xml) {
        if (source->sv.Get() == name && take(source->Evaluate()))
            return true;
    }
    for (const auto& source : db) {
        if (source->sv.Get() != name)
            continue;
        for (auto& text : source->Evaluate()) {
            if (take(std::move(text)))
                return true;
        }
    }
    for (const auto& source : scripts) {
        if (source->sv.Get() == name && take(source->Run()))
            return true;
    }
    return false;
}

}  // namespace Trova
