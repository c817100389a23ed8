// A folder rule ("vg"): a path pattern and the filters that say which files
// under it are junk. A rule read from the database is a template; a copy is
// made for one concrete folder when a walk is split into per-folder tasks.
//
// Properties: a template creates all of them when it is constructed, with
// their defaults, so no pointer is ever null; Read fills them in and each
// one's `present` says whether its attribute was in the file. Absent "od"
// and "ur" admit every file; a present "od" with no pattern admits none.
//
// Safety: walks never enter a directory link (junction, symbolic link, mount
// point), whatever the rule says; a link inside a cache folder must not lead
// a scan or a deletion into the user's documents or into a loop. A link that
// is not a folder is filtered like a file and counts the size the listing
// gives for the link itself, never its target's.
#pragma once

#include "trova/clean/baseobject.h"
#include "trova/property/properties.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace pugi {
class xml_node;
}

namespace Trova {

class Dir : public SizeBase, public IChildEndCount, public ICollectFileInfo {
public:
    // A template read from the database; owns every property.
    explicit Dir(BaseObject* parent);
    // A copy of a template (given a copy, its template is used) for one
    // concrete folder `level` folders below the folder the pattern expanded
    // to: shares every property but "uk" and counts itself in the
    // template's liveCopies.
    Dir(Dir* templateRule, const std::string& folder, std::int32_t level = 0);
    // A copy gives back its count; the last one to go ends the template
    // (exactly once, from whichever thread). A template must outlive its
    // copies.
    ~Dir() override;

    // Reads the "vg" attributes (templates only; a copy ignores it).
    void Read(const pugi::xml_node& node);
    // Adds, then forwards to the parent unless it is an extension rule (31).
    void AddSize(std::uint64_t delta, SizeBase* from) override;
    void ChildEnd(BaseObject* child) override;  // forwards at once
    // A file that passed the filters (reports OnFileFound to the running scan).
    virtual void OnFile(const std::string& path);

    // The three filters in order, on the name only:
    // "od" must match, "ur" must match, "mz" must not.
    bool FileFilter(const std::string& name) const;
    // "ky" and the depth limit at this level: jb -1 => every level,
    // jb >= 0 => levels 0..jb list their subfolders, any other jb => none.
    bool EnterFolder(std::int32_t level) const;

    // The whole walk below folder (at `level`); returns the bytes of the
    // files that passed, reports each through OnFile and, with listFiles,
    // stores it in `files`. Subfolders are entered only when `descend` and
    // EnterFolder agree. A folder that cannot be listed gives 0. Each
    // folder's files are reported before its subfolders are walked; one
    // listing is open at a time, so depth costs neither stack nor handles.
    // Does not call AddSize: the scan driver adds the result.
    std::uint64_t WalkAll(const std::string& folder, bool descend, std::int32_t level);
    // One level of this copy's folder (copies only; a template returns 0):
    // every subfolder but the first becomes a new copy handed to push at
    // once; the first travels with this copy, which is pushed last (it may
    // then run on another thread at once). Returns the bytes of this
    // level's files; `files` is not filled. pushedAny turns true only once
    // this copy itself is back in the queue (the caller must not free it).
    std::uint64_t WalkLevel(const std::function<void(Dir*)>& push, bool& pushedAny);

    // Deletes every file below folder that passes FileFilter (read-only ones
    // too; a file link goes as a link), entering subfolders as WalkAll does.
    // Folders are never removed. A folder that cannot be listed and a file
    // that cannot be deleted are logged as warnings ("clean/dir").
    void WalkDelete(const std::string& folder, bool descend, std::int32_t level);

    Dir* TemplateRule() const { return isTemplate ? nullptr : static_cast<Dir*>(parent); }

    bool listFiles = false;
    std::map<std::string, std::uint64_t> files;
    bool parallel = false;
    std::atomic<std::uint32_t> liveCopies{0};
    bool isTemplate = true;
    // A copy's folder depth below the folder the pattern expanded to, so a
    // split walk honours "jb" as the whole walk does.
    std::int32_t level = 0;

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
