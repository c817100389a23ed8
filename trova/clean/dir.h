// A folder rule ("vg"): a path pattern and the filters that say which files
// under it are junk. A rule read from the database is a template; a copy is
// made for one concrete folder when a walk is split into per-folder tasks.
//
// Safety: walks never enter a directory link (junction, symbolic link, mount
// point), whatever the rule says; a link inside a cache folder must not lead
// a scan or a deletion into the user's documents or into a loop.
#pragma once

#include "trova/clean/baseobject.h"
#include "trova/property/properties.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace pugi {
class xml_node;
}

namespace Trova {

class Dir : public SizeBase, public IChildEndCount, public ICollectFileInfo {
public:
    // A template read from the database.
    explicit Dir(BaseObject* parent);
    // A copy of a template for one concrete folder: shares every property
    // but "uk" and counts itself in the template's liveCopies.
    Dir(Dir* templateRule, const std::string& folder);
    ~Dir() override;

    void Read(const pugi::xml_node& node);
    void AddSize(std::uint64_t delta, SizeBase* from) override;
    void ChildEnd(BaseObject* child) override;  // forwards at once
    // A file that passed the filters (reports OnFileFound to the running scan).
    virtual void OnFile(const std::string& path);

    // The three filters in order: "od" must match, "ur" must match, "mz" must not.
    bool FileFilter(const std::string& name) const;
    // "ky" and the depth limit at this level (links are never entered anyway).
    bool EnterFolder(std::int32_t level) const;

    // The whole walk below folder; returns the bytes of the files that passed.
    std::uint64_t WalkAll(const std::string& folder, bool descend, std::int32_t level);
    // One level of this copy's folder: every subfolder but the first becomes
    // a new copy handed to push at once; the first travels with this copy,
    // which is pushed last. Returns the bytes of this level's files.
    std::uint64_t WalkLevel(const std::function<void(Dir*)>& push, bool& pushedAny);

    Dir* TemplateRule() const { return isTemplate ? nullptr : static_cast<Dir*>(parent); }

    bool listFiles = false;
    std::map<std::string, std::uint64_t> files;
    bool parallel = false;
    std::atomic<std::uint32_t> liveCopies{0};
    bool isTemplate = true;

    // Owned by a template, shared by its copies (uk excepted).
    Uint32Property* jd = nullptr;
    Uint32Property* aj = nullptr;
    Depth* jb = nullptr;
    Uint32Property* pt = nullptr;
    Uint32Property* yq = nullptr;
    Filtration* mz = nullptr;
    NameRegular* ur = nullptr;
    Uint32Property* cu = nullptr;
    Path* uk = nullptr;  // owned by templates and copies alike
    Uint32Property* oe = nullptr;
    Wildcard* od = nullptr;
    BooleanValue* ky = nullptr;
    Uint32Property* ka = nullptr;
    BooleanValue* bselect = nullptr;

private:
    void DestroyProperties();
};

}  // namespace Trova
