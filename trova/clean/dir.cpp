#include "trova/clean/dir.h"

#include "fendrel/direnum.h"
#include "fendrel/fsops.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"
#include "trova/clean/cachecleancbk.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace Trova {

namespace {

// Attribute codes of the folder-rule properties; they only identify the
// attribute.
enum : std::uint32_t {
    kKindDescend = 45,
    kKindJd = 48,
    kKindAj = 49,
    kKindPt = 50,
    kKindYq = 51,
    kKindCu = 52,
    kKindOe = 53,
};

Dir* TemplateOf(Dir* rule) {
    return rule->isTemplate ? rule : rule->TemplateRule();
}

// The folder with one separator at the end, ready for a name: a root that
// already ends with it gets none, and "" (the Linux root as the disk list
// gives it) becomes "/".
std::string FolderPrefix(const std::string& folder) {
    std::string prefix = folder;
    if (prefix.empty() || prefix.back() != fendrel::kPathSepA) {
        prefix += fendrel::kPathSepA;
    }
    return prefix;
}

}  // namespace

Dir::Dir(BaseObject* parent) : SizeBase(parent, kKindDir) {
    jd = new Uint32Property(this, kKindJd);
    aj = new Uint32Property(this, kKindAj);
    jb = new Depth(this);
    pt = new Uint32Property(this, kKindPt);
    yq = new Uint32Property(this, kKindYq);
    mz = new Filtration(this);
    ur = new NameRegular(this);
    cu = new Uint32Property(this, kKindCu);
    uk = new Path(this);
    oe = new Uint32Property(this, kKindOe);
    od = new Wildcard(this);
    ky = new BooleanValue(this, kKindDescend, true);
    ka = new Uint32Property(this);
    bselect = new BooleanValue(this, kKindNone, false);
}

Dir::Dir(Dir* templateRule, const std::string& folder, std::int32_t copyLevel)
    : SizeBase(TemplateOf(templateRule), kKindDir),
      parallel(templateRule->parallel),
      isTemplate(false),
      level(copyLevel) {
    const Dir* from = TemplateRule();
    present = from->present;
    jd = from->jd;
    aj = from->aj;
    jb = from->jb;
    pt = from->pt;
    yq = from->yq;
    mz = from->mz;
    ur = from->ur;
    cu = from->cu;
    uk = new Path(this, folder);
    oe = from->oe;
    od = from->od;
    ky = from->ky;
    ka = from->ka;
    bselect = from->bselect;
    TemplateRule()->liveCopies.fetch_add(1, std::memory_order_relaxed);
}

Dir::~Dir() {
    if (isTemplate) {
        DestroyProperties();
        return;
    }
    delete uk;
    // Only the fetch_sub result tells which copy was the last one: reading
    // the count again afterwards would let two copies (or none) end it.
    Dir* templateRule = TemplateRule();
    if (templateRule->liveCopies.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        templateRule->ChildEnd(this);
    }
}

void Dir::DestroyProperties() {
    delete jd;
    delete aj;
    delete jb;
    delete pt;
    delete yq;
    delete mz;
    delete ur;
    delete cu;
    delete uk;
    delete oe;
    delete od;
    delete ky;
    delete ka;
    delete bselect;
}

void Dir::Read(const pugi::xml_node& node) {
    if (!isTemplate) {
        return;
    }
    present = true;
    uk->Read(node, "uk");
    ky->Read(node, "ky");
    jb->Read(node, "jb");
    od->Read(node, "od");
    ur->Read(node, "ur");
    mz->Read(node, "mz");
    jd->Read(node, "jd");
    aj->Read(node, "aj");
    pt->Read(node, "pt");
    yq->Read(node, "yq");
    cu->Read(node, "cu");
    oe->Read(node, "oe");
    ka->Read(node, "ka");
    bselect->Read(node, "bselect");
}

void Dir::AddSize(std::uint64_t delta, SizeBase* from) {
    size.fetch_add(delta, std::memory_order_relaxed);
    if (!parent || parent->kind == kKindExtensionRule) {
        return;
    }
    if (auto* up = dynamic_cast<SizeBase*>(parent)) {
        up->AddSize(delta, this);
    }
}

void Dir::ChildEnd(BaseObject* child) {
    if (IChildEndCount* up = EndCounterOf(parent)) {
        up->ChildEnd(this);
    }
}

void Dir::OnFile(const std::string& path) {
    if (CacheCleanCbk* callback = g_scanCallback.load(std::memory_order_acquire)) {
        callback->OnFileFound(path);
    }
}

bool Dir::FileFilter(const std::string& name) const {
    if (od->present && !od->AnyMatches(name)) {
        return false;
    }
    if (ur->present && !ur->Matches(name)) {
        return false;
    }
    return !mz->AnyMatches(name);
}

bool Dir::EnterFolder(std::int32_t folderLevel) const {
    if (!ky->Get()) {
        return false;
    }
    const std::int32_t depth = jb->Get();
    return depth == -1 || folderLevel <= depth;
}

std::uint64_t Dir::WalkAll(const std::string& folder, bool descend, std::int32_t folderLevel) {
    struct Pending {
        std::string path;
        std::int32_t level;
    };
    // Folders still to list, last one next. An explicit stack instead of
    // recursion: a deep tree (or one built to be deep) cannot overflow a
    // worker's stack, and since each listing is closed before its subfolders
    // are entered, it cannot use up the process's handles either.
    std::vector<Pending> pending;
    pending.push_back({folder, folderLevel});
    std::uint64_t total = 0;
    DirEnum listing;
    DirEntry entry;
    std::string path;
    while (!pending.empty()) {
        Pending current = std::move(pending.back());
        pending.pop_back();
        // A folder that cannot be listed (gone, denied, not a folder) adds nothing.
        if (!listing.Open(current.path)) {
            continue;
        }
        const bool enter = descend && EnterFolder(current.level);
        const std::size_t firstChild = pending.size();
        path = FolderPrefix(current.path);
        const std::size_t base = path.size();
        while (listing.Next(entry)) {
            if (entry.isDirectory) {
                // Safety rule: a directory link is never entered, even though
                // the rule format says every folder is; it could lead out of
                // the rule's folder (into user data) or back into a loop.
                if (entry.isLink || !enter) {
                    continue;
                }
                path.resize(base);
                path += entry.name;
                pending.push_back({path, current.level + 1});
                continue;
            }
            if (!FileFilter(entry.name)) {
                continue;
            }
            path.resize(base);
            path += entry.name;
            OnFile(path);
            total += entry.size;
            if (listFiles) {
                files.insert_or_assign(path, entry.size);
            }
        }
        listing.Close();
        // Subfolders are walked in listing order.
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstChild), pending.end());
    }
    return total;
}

std::uint64_t Dir::WalkLevel(const std::function<void(Dir*)>& push, bool& pushedAny) {
    pushedAny = false;
    Dir* templateRule = TemplateRule();
    if (!templateRule) {
        return 0;
    }
    DirEnum listing;
    if (!listing.Open(uk->Get())) {
        return 0;
    }
    const bool enter = EnterFolder(level);
    std::string path = FolderPrefix(uk->Get());
    const std::size_t base = path.size();
    std::string first;
    bool goesOn = false;
    std::uint64_t total = 0;
    DirEntry entry;
    while (listing.Next(entry)) {
        if (entry.isDirectory) {
            // Safety rule: directory links are never entered (see WalkAll).
            if (entry.isLink || !enter) {
                continue;
            }
            path.resize(base);
            path += entry.name;
            if (!goesOn) {
                first = path;
                goesOn = true;
            } else {
                push(new Dir(templateRule, path, level + 1));
            }
            continue;
        }
        if (!FileFilter(entry.name)) {
            continue;
        }
        path.resize(base);
        path += entry.name;
        OnFile(path);
        total += entry.size;
    }
    listing.Close();
    if (goesOn) {
        uk->value = std::move(first);
        ++level;
        // Another worker may take this copy the moment it is pushed: nothing
        // of it is touched afterwards.
        pushedAny = true;
        push(this);
    }
    return total;
}

void Dir::WalkDelete(const std::string& folder, bool descend, std::int32_t folderLevel) {
    DirEnum listing;
    if (!listing.Open(folder)) {
        Logger_WarnF("clean/dir", __LINE__, "DelError LastError: %d, filePath: %s", listing.Error(), folder.c_str());
        return;
    }
    const bool enter = descend && EnterFolder(folderLevel);
    std::string path = FolderPrefix(folder);
    const std::size_t base = path.size();
    std::vector<std::string> subfolders;
    DirEntry entry;
    while (listing.Next(entry)) {
        path.resize(base);
        path += entry.name;
        if (entry.isDirectory) {
            // Safety rule: a directory link is never entered, so a deletion
            // cannot reach past the folders the rule's pattern expanded to.
            if (!entry.isLink && enter) {
                subfolders.push_back(path);
            }
            continue;
        }
        if (!FileFilter(entry.name)) {
            continue;
        }
        if (!FileSystem::ForceDeleteFile(Utils::AnsiToUtf16(path))) {
            Logger_WarnF("clean/dir", __LINE__, "%d", FileSystem::LastError());
        }
    }
    // Closed before descending: depth costs no open listings.
    listing.Close();
    for (const auto& subfolder : subfolders) {
        WalkDelete(subfolder, descend, folderLevel + 1);
    }
}

}  // namespace Trova
