// The junk rule tree: CacheClean (root) -> GroupDes -> Group -> SoftShort
// (program entry, linked to its details) and CacheClean -> SoftDetail ->
// OS (rule block) -> Execute (item) -> Dir / DirectData. Sizes climb from
// the rules to the groups; finished children are counted up to GroupDes.
#pragma once

#include "trova/clean/baseobject.h"
#include "trova/property/properties.h"

#include "fendrel/platform.h"

#include <chrono>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pugi {
class xml_node;
}

namespace Trova {

class Dir;
class DirectData;
class Mapping;
class UnsResidualRule;
class SoftDetail;
class GroupDes;
class CacheCleanCbk;

// Program entry of a group ("gd" child).
class SoftShort : public ShortSizeBase, public IChildEndCount {
public:
    static constexpr std::uint32_t kRecycleBinId = 61000088;
    explicit SoftShort(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    std::uint64_t Reset() override;
    void ChildEnd(BaseObject* child) override;
    void ResetCount() override;

    BooleanValue vc;
    Uint32Property ka;  // program id
    StringProperty sv;  // display name
    std::vector<SoftDetail*> details;  // not owned
};

class Group : public ShortSizeBase, public IChildEndCount {
public:
    explicit Group(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    std::uint64_t Reset() override;
    void ChildEnd(BaseObject* child) override;
    void ResetCount() override;

    BooleanValue an;
    StringProperty aw;  // display name
    StringProperty nr;
    Uint32Property cb;  // group category id
    // Program id -> entry; a later entry with the same id replaces the earlier one here.
    std::map<std::uint32_t, SoftShort*> entries;
    std::vector<std::unique_ptr<SoftShort>> ownedEntries;  // document order
};

class GroupDes : public ShortSizeBase, public IChildEndCount {
public:
    GroupDes() : ShortSizeBase(nullptr, 0) {}
    explicit GroupDes(BaseObject* parent) : ShortSizeBase(parent, 0) {}
    void Read(const pugi::xml_node& node);
    std::uint64_t Reset() override;
    void AddSelectable(std::uint64_t delta, bool selected) override;  // reports OnRunningSize
    void ChildEnd(BaseObject* child) override;                         // all groups => OnTotal
    void ResetCount() override;

    std::vector<std::unique_ptr<Group>> groups;
};

// One cleaning item shown to the user ("fa").
class Execute : public SizeBase, public IChildEndCount {
public:
    explicit Execute(BaseObject* parent);
    ~Execute() override;
    void Read(const pugi::xml_node& node);
    std::uint64_t Reset() override;
    // Adds to the groups of the owning detail's entries named in "ar".
    void AddSize(std::uint64_t delta, SizeBase* from) override;
    void ChildEnd(BaseObject* child) override;
    void ResetCount() override;
    // The program detail this item belongs to (one level further up under a leftover rule).
    SoftDetail* OwningDetail() const;

    std::vector<std::unique_ptr<Dir>> folders;
    std::vector<std::unique_ptr<DirectData>> records;
    Category ar;
    Uint32Property qh;
    Uint32Property tx;
    StringProperty sv;  // display name
    Uint32Property hd;  // item id
};

// A rule block ("dx").
class OS : public BaseObject, public IChildEndCount {
public:
    explicit OS(BaseObject* parent);
    ~OS() override;
    void Read(const pugi::xml_node& node);
    void ChildEnd(BaseObject* child) override;
    void ResetCount() override;

    StringProperty sv;
    Category ar;
    Uint32Property qh;
    std::vector<std::unique_ptr<Execute>> items;
    std::vector<std::unique_ptr<Mapping>> mappings;
};

// Program detail ("op" child): the junk of one program.
class SoftDetail : public BaseObject, public IChildEndCount {
public:
    static constexpr std::uint32_t kParallelKind = 7006;
    explicit SoftDetail(BaseObject* parent);
    ~SoftDetail() override;
    void Read(const pugi::xml_node& node);
    void ChildEnd(BaseObject* child) override;
    void ResetCount() override;

    BooleanValue xn;
    DefSel lq;  // default selection
    Uint32Property zi;
    Uint32Property ka;  // detail kind
    Uint32Property gp;  // program id it belongs to
    StringProperty sv;
    BooleanValue qm;
    std::vector<std::unique_ptr<OS>> blocks;
    std::vector<std::unique_ptr<UnsResidualRule>> leftovers;
    std::vector<SoftShort*> entries;  // not owned
};

class CacheClean : public BaseObject, public IChildEndCount {
public:
    CacheClean();
    // Waits for a load still running on its own thread: it builds into this object.
    ~CacheClean() override;

    // Starts Load on a detached thread; does nothing while an earlier load runs.
    void LoadAsync(const std::wstring& path, bool scrambled);
    // Reads and builds the tree, replacing any earlier one; false (and an
    // empty tree) when the file is missing, unreadable, not XML or has no
    // "wu" root.
    bool Load(const std::wstring& path, bool scrambled);
    // Waits for the load at most timeout; true when it finished and succeeded.
    bool WaitLoaded(std::chrono::milliseconds timeout);

    // The whole scan on the calling thread: starts the folder-rule queue,
    // queues every rule, waits for the walkers and reports through callback.
    // 1 finished, 2 stopped, 4 not started (go false).
    std::uint8_t Scan(bool go, CacheCleanCbk* callback);
    // Ends a running scan with `code` (2: stopped by the user); its Scan
    // still reports what was counted. With a window, that window's thread
    // keeps pumping its messages while the walkers are joined.
    void Stop(std::uint8_t code, HWND window = nullptr);
    void QueueAll();
    void Report();
    // One cleaning request with unmasked ids: 0 done (single file failures
    // are only logged), 3 the recycle bin could not be emptied, 4 no program
    // detail has this program id. Waits while a scan is running.
    int Delete(std::uint32_t groupId, std::uint32_t programId, const std::vector<std::uint32_t>& itemIds);

    void ChildEnd(BaseObject* child) override;  // reports OnProgress
    void ResetCount() override;

    GroupDes groups;
    std::vector<std::unique_ptr<SoftDetail>> details;

private:
    void Clear();
    void Build(const pugi::xml_node& root);
    void LinkDetails();

    std::mutex m_mutex;
    std::shared_future<bool> m_loaded;
    // Scans and deletions never overlap: a deletion walks the same rules.
    std::mutex m_busy;
};

}  // namespace Trova
