// The junk scan: folder rules go to the shared work queue and are walked by
// its workers; record rules and the recycle bin are measured on the scan
// thread; the result report then walks the groups, largest first.
#include "trova/clean/cacheclean.h"

#include "trova/blockingqueue.h"
#include "trova/clean/cachecleancbk.h"
#include "trova/clean/dir.h"
#include "trova/clean/directdata.h"
#include "trova/clean/nametables.h"
#include "trova/clean/softs.h"
#include "trova/clean/unsresidualrule.h"

#include "fendrel/logger.h"
#include "fendrel/recyclebin.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Trova {

namespace {

constexpr std::uint32_t kParallelItem = 21;
constexpr std::uint32_t kRecycleBinGroup = 6;
constexpr std::uint32_t kLeftoverGroup = 24;

using DirQueue = BlockingQueue<Dir*>;

void EndIn(BaseObject* parent, BaseObject* child) {
    if (IChildEndCount* counter = EndCounterOf(parent)) {
        counter->ChildEnd(child);
    }
}

void WalkWhole(Dir* rule) {
    // The file list describes this scan only.
    rule->files.clear();
    std::uint64_t total = 0;
    for (const std::string& folder : rule->uk->Expand()) {
        total += rule->WalkAll(folder, rule->ky->Get(), 0);
    }
    rule->AddSize(total, nullptr);
    rule->ChildEnd(rule);
}

void SplitTemplate(Dir* rule) {
    const std::vector<std::string> folders = rule->uk->Expand();
    if (folders.empty()) {
        rule->ChildEnd(rule);
        return;
    }
    // Every copy exists before the first is pushed: a copy that finished
    // while its siblings were still being made would end the template early.
    std::vector<Dir*> copies;
    copies.reserve(folders.size());
    for (const std::string& folder : folders) {
        copies.push_back(new Dir(rule, folder, 0));
    }
    for (Dir* copy : copies) {
        DirQueue::Instance().Push(copy);
    }
}

void WalkCopy(Dir* copy) {
    Dir* templateRule = copy->TemplateRule();
    bool pushedAny = false;
    std::uint64_t bytes = 0;
    try {
        bytes = copy->WalkLevel([](Dir* next) { DirQueue::Instance().Push(next); }, pushedAny);
    } catch (...) {
        // A walk cut short (a stop reaching a callback) still frees its copy.
        if (!pushedAny) {
            delete copy;
        }
        throw;
    }
    if (bytes != 0) {
        templateRule->AddSize(bytes, copy);
    }
    // A copy that went on with a subfolder belongs to the queue again.
    if (!pushedAny) {
        delete copy;
    }
}

void WorkerLoop() {
    DirQueue& queue = DirQueue::Instance();
    for (;;) {
        Dir* rule = queue.Pop();
        if (rule == nullptr) {
            return;
        }
        if (!rule->parallel) {
            WalkWhole(rule);
        } else if (rule->isTemplate) {
            SplitTemplate(rule);
        } else {
            WalkCopy(rule);
        }
    }
}

// A split-walk copy that a stop left in the queue is freed; freeing the last
// one ends its template, so the next scan's copies count from zero again.
void DiscardRule(Dir*& rule) {
    if (!rule->isTemplate) {
        delete rule;
    }
}

std::uint32_t MaskId(std::uint32_t id) { return g_dataScrambled.load() ? id ^ g_idMask : id; }

// The table's text in the current language; the rule's own name where the
// table has none, so nothing is ever shown without a name.
std::string NameOf(bool localized, std::string tableText, const std::string& ruleText) {
    return localized && !tableText.empty() ? tableText : ruleText;
}

template <typename T>
void SortBySize(std::vector<T*>& list) {
    std::stable_sort(list.begin(), list.end(), [](const T* a, const T* b) { return a->size.load() > b->size.load(); });
}

void CollectItems(const std::vector<std::unique_ptr<OS>>& blocks, std::vector<Execute*>& items) {
    for (const auto& block : blocks) {
        for (const auto& item : block->items) {
            items.push_back(item.get());
        }
    }
}

// One program's items shown in group cb, largest first; groups 11 and 13
// also list each rule's files.
void ReportItems(CacheCleanCbk* callback, std::vector<Execute*> items, std::uint32_t cb, int residual) {
    SortBySize(items);
    NameTables& names = NameTables::Instance();
    const bool localized = names.LanguageFeature();
    for (Execute* item : items) {
        const std::uint64_t size = item->size.load();
        if (!item->ar.Contains(cb) || size == 0) {
            continue;
        }
        const std::uint32_t hd = item->hd.Get();
        const SoftDetail* detail = item->OwningDetail();
        callback->OnItem(NameOf(localized,
                                localized ? names.ItemName(static_cast<int>(cb), static_cast<int>(hd), residual) : "",
                                item->sv.Get()),
                         size, MaskId(hd), detail != nullptr && detail->lq.Selected(cb));
        if (cb == 11 || cb == 13) {
            for (const auto& folder : item->folders) {
                callback->OnItemFiles(folder->files);
            }
            for (const auto& record : item->records) {
                callback->OnItemFiles(record->files);
            }
        }
    }
}

}  // namespace

std::uint8_t CacheClean::Scan(bool go, CacheCleanCbk* callback) {
    std::lock_guard<std::mutex> busy(m_busy);
    DirQueue& queue = DirQueue::Instance();
    queue.Start(WorkerLoop, DiscardRule);
    g_scanCallback = callback;
    if (!go) {
        return 4;
    }
    QueueAll();
    const std::uint8_t result = queue.WaitDone();
    Report();
    return result;
}

void CacheClean::Stop(std::uint8_t code, HWND window) {
    DirQueue::Instance().Stop(code, window);
}

void CacheClean::QueueAll() {
    if (!WaitLoaded(std::chrono::milliseconds(5000))) {
        std::shared_future<bool> pending;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            pending = m_loaded;
        }
        // A load still running builds this very tree: walking it now would
        // read half-made lists. Waiting longer is the only safe choice.
        if (pending.valid() && pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            Logger_WarnF("clean/scan", __LINE__, "the rule database is still loading; the scan waits for it");
            pending.wait();
        }
    }

    // The count of programs is known before any walk ends: report it at
    // once rather than leave the first finished program to tell it.
    if (CacheCleanCbk* callback = g_scanCallback.load()) {
        callback->OnProgress(0, static_cast<std::uint32_t>(details.size()));
    }

    DirQueue& queue = DirQueue::Instance();
    std::vector<DirectData*> records;

    auto queueBlocks = [&](const std::vector<std::unique_ptr<OS>>& blocks, const SoftDetail* parallelDetail) {
        for (const auto& block : blocks) {
            // An empty block or item would never be ended by a walk.
            if (block->items.empty()) {
                EndIn(block->parent, block.get());
                continue;
            }
            for (const auto& item : block->items) {
                if (item->folders.empty() && item->records.empty()) {
                    block->ChildEnd(item.get());
                    continue;
                }
                const bool parallel = parallelDetail != nullptr && item->hd.Get() == kParallelItem;
                for (const auto& folder : item->folders) {
                    folder->parallel = parallel;
                    queue.Push(folder.get());
                }
                for (const auto& record : item->records) {
                    records.push_back(record.get());
                }
            }
        }
    };

    for (const auto& detail : details) {
        const bool split = detail->ka.Get() == SoftDetail::kParallelKind;
        queueBlocks(detail->blocks, split ? detail.get() : nullptr);
        for (const auto& leftover : detail->leftovers) {
            // The rule's own count completes only through its blocks, so a
            // rule with none, or one that does not apply, ends directly at
            // its detail: exactly once, whatever its number of blocks.
            if (leftover->blocks.empty() || leftover->IsInstalled()) {
                EndIn(leftover->parent, leftover.get());
            } else {
                queueBlocks(leftover->blocks, nullptr);
            }
        }
    }

    for (DirectData* record : records) {
        const std::uint64_t size = record->Measure();
        record->AddSize(size, nullptr);
        record->ChildEnd(record);
    }

    std::uint64_t binBytes = 0;
    if (!RecycleBin::QuerySize(binBytes)) {
        binBytes = 0;
    }
    for (const auto& group : groups.groups) {
        if (group->cb.Get() != kRecycleBinGroup) {
            continue;
        }
        const auto found = group->entries.find(SoftShort::kRecycleBinId);
        if (found != group->entries.end()) {
            found->second->AddSelectable(binBytes, true);
            found->second->ChildEnd(found->second);
        }
        break;
    }
}

void CacheClean::Report() {
    CacheCleanCbk* callback = g_scanCallback.load();
    if (callback == nullptr) {
        return;
    }
    callback->OnTotal(groups.size.load(), groups.selectedSize.load());

    std::vector<Group*> sorted;
    for (const auto& group : groups.groups) {
        sorted.push_back(group.get());
    }
    SortBySize(sorted);
    NameTables& names = NameTables::Instance();
    const bool localized = names.LanguageFeature();

    for (Group* group : sorted) {
        const std::uint64_t size = group->size.load();
        if (size == 0) {
            continue;
        }
        const std::uint32_t cb = group->cb.Get();
        callback->OnGroup(NameOf(localized, localized ? names.GroupName(static_cast<int>(cb)) : "", group->aw.Get()),
                          size, group->selectedSize.load(), MaskId(cb));

        std::vector<SoftShort*> entries;
        for (const auto& [id, entry] : group->entries) {
            entries.push_back(entry);
        }
        SortBySize(entries);
        for (SoftShort* entry : entries) {
            const std::uint64_t entrySize = entry->size.load();
            if (entrySize == 0) {
                continue;
            }
            const std::uint32_t ka = entry->ka.Get();
            callback->OnProgram(NameOf(localized, localized ? names.SoftName(static_cast<int>(ka)) : "",
                                       entry->sv.Get()),
                                entrySize, entry->selectedSize.load(), MaskId(ka));
            std::vector<Execute*> items;
            for (SoftDetail* detail : entry->details) {
                if (cb == kLeftoverGroup) {
                    for (const auto& leftover : detail->leftovers) {
                        CollectItems(leftover->blocks, items);
                    }
                } else {
                    CollectItems(detail->blocks, items);
                }
            }
            ReportItems(callback, std::move(items), cb, cb == kLeftoverGroup ? 1 : 0);
        }
    }
}

}  // namespace Trova
