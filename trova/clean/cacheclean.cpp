#include "trova/clean/cacheclean.h"

#include "trova/clean/cachecleancbk.h"
#include "trova/clean/dir.h"
#include "trova/clean/directdata.h"
#include "trova/clean/ruledocument.h"
#include "trova/clean/scrambled.h"
#include "trova/clean/softs.h"
#include "trova/clean/unsresidualrule.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/platform.h"
#include "fendrel/utils.h"

#include <pugixml.hpp>

#include <cstring>
#include <iostream>
#include <system_error>
#include <thread>

namespace Trova {

namespace {

// Attribute kinds that identify an attribute in the tree; no behaviour hangs on them.
constexpr std::uint32_t kKindName = 46;    // every "sv"
constexpr std::uint32_t kKindItemId = 56;  // "hd"
constexpr std::uint32_t kKindGroupId = 74; // "cb"

bool IsElement(const pugi::xml_node& node, const char* name) {
    return node.type() == pugi::node_element && std::strcmp(node.name(), name) == 0;
}

void NotifyParent(BaseObject* self) {
    if (IChildEndCount* counter = EndCounterOf(self->parent)) {
        counter->ChildEnd(self);
    }
}

}  // namespace

// ---- SoftShort ------------------------------------------------------------

SoftShort::SoftShort(BaseObject* parent)
    : ShortSizeBase(parent, kKindSoftShort), vc(this, 0, false), ka(this), sv(this, kKindName) {}

void SoftShort::Read(const pugi::xml_node& node) {
    present = true;
    vc.Read(node, "vc");
    ka.Read(node, "ka");
    sv.Read(node, "sv");
}

std::uint64_t SoftShort::Reset() {
    auto resetBlocks = [](const std::vector<std::unique_ptr<OS>>& blocks) {
        for (const auto& block : blocks) {
            for (const auto& item : block->items) {
                item->Reset();
            }
        }
    };
    for (SoftDetail* detail : details) {
        resetBlocks(detail->blocks);
        for (const auto& leftover : detail->leftovers) {
            resetBlocks(leftover->blocks);
        }
    }
    return ShortSizeBase::Reset();
}

void SoftShort::ChildEnd(BaseObject* /*child*/) {
    const std::uint32_t count = ended.fetch_add(1) + 1;
    // The recycle bin has no details of its own; the scan ends it directly,
    // and every such call must reach the group.
    if (ka.Get() == kRecycleBinId || count == details.size()) {
        NotifyParent(this);
    }
}

void SoftShort::ResetCount() { ended = 0; }

// ---- Group ----------------------------------------------------------------

Group::Group(BaseObject* parent)
    : ShortSizeBase(parent, kKindGroup), an(this, 0, false), aw(this), nr(this), cb(this, kKindGroupId) {}

void Group::Read(const pugi::xml_node& node) {
    present = true;
    an.Read(node, "an");
    aw.Read(node, "aw");
    nr.Read(node, "nr");
    cb.Read(node, "cb");
    const pugi::xml_node list = node.child("gd");
    for (const pugi::xml_node& child : list.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        auto entry = std::make_unique<SoftShort>(this);
        entry->Read(child);
        entries[entry->ka.Get()] = entry.get();
        ownedEntries.push_back(std::move(entry));
    }
}

std::uint64_t Group::Reset() {
    for (const auto& [id, entry] : entries) {
        entry->Reset();
    }
    return ShortSizeBase::Reset();
}

void Group::ChildEnd(BaseObject* /*child*/) {
    if (ended.fetch_add(1) + 1 == entries.size()) {
        NotifyParent(this);
    }
}

void Group::ResetCount() {
    ended = 0;
    for (const auto& entry : ownedEntries) {
        entry->ResetCount();
    }
}

// ---- GroupDes -------------------------------------------------------------

void GroupDes::Read(const pugi::xml_node& node) {
    present = true;
    for (const pugi::xml_node& child : node.children()) {
        // Category 12 is not shown as a group in this product.
        if (child.type() != pugi::node_element || child.attribute("cb").as_int(0) == 12) {
            continue;
        }
        auto group = std::make_unique<Group>(this);
        group->Read(child);
        groups.push_back(std::move(group));
    }
}

std::uint64_t GroupDes::Reset() {
    for (const auto& group : groups) {
        group->Reset();
    }
    return ShortSizeBase::Reset();
}

void GroupDes::AddSelectable(std::uint64_t delta, bool selected) {
    const std::uint64_t total = size.fetch_add(delta) + delta;
    const std::uint64_t chosen = selected ? selectedSize.fetch_add(delta) + delta : selectedSize.load();
    if (CacheCleanCbk* callback = g_scanCallback.load()) {
        callback->OnRunningSize(total, chosen);
    }
}

void GroupDes::ChildEnd(BaseObject* /*child*/) {
    if (ended.fetch_add(1) + 1 == groups.size()) {
        if (CacheCleanCbk* callback = g_scanCallback.load()) {
            callback->OnTotal(size.load(), selectedSize.load());
        }
    }
}

void GroupDes::ResetCount() {
    ended = 0;
    for (const auto& group : groups) {
        group->ResetCount();
    }
}

// ---- Execute --------------------------------------------------------------

Execute::Execute(BaseObject* parent)
    : SizeBase(parent, kKindExecute), ar(this), qh(this), tx(this), sv(this, kKindName), hd(this, kKindItemId) {}

Execute::~Execute() = default;

void Execute::Read(const pugi::xml_node& node) {
    present = true;
    ar.Read(node, "ar");
    qh.Read(node, "qh");
    sv.Read(node, "sv");
    tx.Read(node, "tx");
    hd.Read(node, "hd");
    // Items of these categories show their files one by one.
    const bool listFiles = ar.Contains(11) || ar.Contains(13);
    for (const pugi::xml_node& child : node.children()) {
        const char* name = child.name();
        if (IsElement(child, "vg")) {
            auto folder = std::make_unique<Dir>(this);
            folder->Read(child);
            folder->listFiles = listFiles;
            folders.push_back(std::move(folder));
        } else if (IsElement(child, "mm")) {
            auto record = std::make_unique<DirectData>(this);
            record->Read(child);
            record->listFiles = listFiles;
            records.push_back(std::move(record));
        } else if (IsElement(child, "wy")) {
            // Scripts are looked up through the block's detection rules, not here.
        } else if (*name == '\0') {
            std::cout << "name:" << "empty node" << std::endl;
        } else {
            std::cout << "name:" << name << std::flush;
        }
    }
}

std::uint64_t Execute::Reset() {
    for (const auto& folder : folders) {
        folder->Reset();
    }
    for (const auto& record : records) {
        record->Reset();
    }
    ended.exchange(0);
    return size.exchange(0);
}

SoftDetail* Execute::OwningDetail() const {
    // item -> block -> detail, or item -> block -> leftover rule -> detail.
    BaseObject* up = parent ? parent->parent : nullptr;
    if (up && up->kind != kKindSoftDetail) {
        up = up->parent;
    }
    return up && up->kind == kKindSoftDetail ? dynamic_cast<SoftDetail*>(up) : nullptr;
}

void Execute::AddSize(std::uint64_t delta, SizeBase* /*from*/) {
    size.fetch_add(delta);
    SoftDetail* detail = OwningDetail();
    if (!detail) {
        return;
    }
    // The item's bytes count in every group it is shown under ("ar") that
    // holds its program; nothing reaches a group the item does not name.
    for (SoftShort* entry : detail->entries) {
        const std::uint32_t id = static_cast<const Group*>(entry->parent)->cb.Get();
        if (ar.Contains(id)) {
            entry->AddSelectable(delta, detail->lq.Selected(id));
        }
    }
}

void Execute::ChildEnd(BaseObject* /*child*/) {
    if (ended.fetch_add(1) + 1 == folders.size() + records.size()) {
        NotifyParent(this);
    }
}

void Execute::ResetCount() {
    ended = 0;
    for (const auto& folder : folders) {
        folder->ResetCount();
    }
    for (const auto& record : records) {
        record->ResetCount();
    }
}

// ---- OS -------------------------------------------------------------------

OS::OS(BaseObject* parent) : BaseObject(parent, kKindOS), sv(this, kKindName), ar(this), qh(this) {}

OS::~OS() = default;

void OS::Read(const pugi::xml_node& node) {
    present = true;
    sv.Read(node, "sv");
    ar.Read(node, "ar");
    qh.Read(node, "qh");
    for (const pugi::xml_node& child : node.children()) {
        if (IsElement(child, "fa")) {
            auto item = std::make_unique<Execute>(this);
            item->Read(child);
            items.push_back(std::move(item));
        } else if (IsElement(child, "fb")) {
            auto mapping = std::make_unique<Mapping>(this);
            mapping->Read(child);
            mappings.push_back(std::move(mapping));
        }
    }
}

void OS::ChildEnd(BaseObject* /*child*/) {
    if (ended.fetch_add(1) + 1 == items.size()) {
        NotifyParent(this);
    }
}

void OS::ResetCount() {
    ended = 0;
    for (const auto& item : items) {
        item->ResetCount();
    }
}

// ---- SoftDetail -----------------------------------------------------------

SoftDetail::SoftDetail(BaseObject* parent)
    : BaseObject(parent, kKindSoftDetail),
      xn(this, 0, true),
      lq(this, 0, false),
      zi(this),
      ka(this),
      gp(this),
      sv(this, kKindName),
      qm(this, 0, false) {}

SoftDetail::~SoftDetail() = default;

void SoftDetail::Read(const pugi::xml_node& node) {
    present = true;
    xn.Read(node, "xn");
    lq.Read(node, "lq");
    zi.Read(node, "zi");
    ka.Read(node, "ka");
    sv.Read(node, "sv");
    qm.Read(node, "qm");
    gp.Read(node, "gp");
    for (const pugi::xml_node& child : node.children()) {
        if (IsElement(child, "dx")) {
            auto block = std::make_unique<OS>(this);
            block->Read(child);
            blocks.push_back(std::move(block));
        } else if (IsElement(child, "bp")) {
            auto leftover = std::make_unique<UnsResidualRule>(this);
            leftover->Read(child);
            leftovers.push_back(std::move(leftover));
        }
    }
}

void SoftDetail::ChildEnd(BaseObject* /*child*/) {
    if (ended.fetch_add(1) + 1 == blocks.size() + leftovers.size()) {
        NotifyParent(this);
        for (SoftShort* entry : entries) {
            entry->ChildEnd(this);
        }
    }
}

void SoftDetail::ResetCount() {
    ended = 0;
    for (const auto& block : blocks) {
        block->ResetCount();
    }
    // Leftover rules count their blocks too; a stale count would keep them
    // from ever ending in the next scan.
    for (const auto& leftover : leftovers) {
        leftover->ResetCount();
    }
}

// ---- CacheClean -----------------------------------------------------------

CacheClean::CacheClean() : BaseObject(nullptr, kKindCacheClean), groups(this) {}

CacheClean::~CacheClean() {
    std::shared_future<bool> pending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        pending = m_loaded;
    }
    if (pending.valid()) {
        pending.wait();
    }
}

void CacheClean::LoadAsync(const std::wstring& path, bool scrambled) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_loaded.valid() && m_loaded.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return;  // the earlier load is still building this tree
    }
    std::packaged_task<bool()> task([this, path, scrambled] { return Load(path, scrambled); });
    m_loaded = task.get_future().share();
    try {
        std::thread(std::move(task)).detach();
    } catch (const std::system_error& e) {
        // The task is gone unrun: its future reports a broken promise, so
        // WaitLoaded answers false at once.
        Logger_ErrorF("clean/cacheclean", __LINE__, "cannot start the rule database load: %s", e.what());
    }
}

bool CacheClean::WaitLoaded(std::chrono::milliseconds timeout) {
    std::shared_future<bool> pending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        pending = m_loaded;
    }
    if (!pending.valid() || pending.wait_for(timeout) != std::future_status::ready) {
        return false;
    }
    try {
        return pending.get();
    } catch (const std::exception&) {
        return false;
    }
}

void CacheClean::Clear() {
    details.clear();
    groups.groups.clear();
    groups.present = false;
    groups.Reset();
    groups.ended = 0;
    ended = 0;
    present = false;
}

bool CacheClean::Load(const std::wstring& path, bool scrambled) {
    g_dataScrambled = scrambled;
    Clear();

    std::wstring where;
    pugi::xml_document document;
    try {
        if (!LoadRuleDocument(path, scrambled, "rule database", document, &where))
            return false;
        const pugi::xml_node root = document.child("wu");
        if (!root) {
            Logger_WarnF("clean/cacheclean", __LINE__, "rule database %s has no \"wu\" root",
                         Utils::Utf16ToAnsi(where).c_str());
            return false;
        }
        Build(root);
    } catch (const std::exception& e) {
        Logger_ErrorF("clean/cacheclean", __LINE__, "rule database %s not loaded: %s",
                      Utils::Utf16ToAnsi(where).c_str(), e.what());
        Clear();
        return false;
    }
    return true;
}

void CacheClean::Build(const pugi::xml_node& root) {
    present = true;
    if (const pugi::xml_node list = root.child("hz")) {
        groups.Read(list);
    }
    if (const pugi::xml_node list = root.child("op")) {
        for (const pugi::xml_node& child : list.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            auto detail = std::make_unique<SoftDetail>(this);
            detail->Read(child);
            details.push_back(std::move(detail));
        }
    }
    LinkDetails();
}

void CacheClean::LinkDetails() {
    for (const auto& detail : details) {
        for (const auto& group : groups.groups) {
            const auto found = group->entries.find(detail->gp.Get());
            if (found != group->entries.end()) {
                found->second->details.push_back(detail.get());
                detail->entries.push_back(found->second);
            }
        }
    }
}

void CacheClean::ChildEnd(BaseObject* /*child*/) {
    const std::uint32_t finished = ended.fetch_add(1) + 1;
    if (CacheCleanCbk* callback = g_scanCallback.load()) {
        callback->OnProgress(finished, static_cast<std::uint32_t>(details.size()));
    }
}

void CacheClean::ResetCount() {
    ended = 0;
    for (const auto& detail : details) {
        detail->ResetCount();
    }
    groups.ResetCount();
}

}  // namespace Trova
