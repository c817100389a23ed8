// The rule tree's accounting: bytes climbing from a rule to the groups that
// show its item, finished children counted up to the group list, and the
// resets between scans.
#include "trova/clean/cacheclean.h"
#include "trova/clean/cachecleancbk.h"
#include "trova/clean/dir.h"
#include "trova/clean/directdata.h"
#include "trova/clean/unsresidualrule.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace Trova;

namespace {

// Records what the engine reports, in order.
class RecordingCallback : public CacheCleanCbk {
public:
    void OnTotal(std::uint64_t size, std::uint64_t selected) override {
        Add("total " + std::to_string(size) + "/" + std::to_string(selected));
    }
    void OnGroup(std::string, std::uint64_t, std::uint64_t, std::uint32_t) override {}
    void OnProgram(std::string, std::uint64_t, std::uint64_t, std::uint32_t) override {}
    void OnItem(std::string, std::uint64_t, std::uint32_t, bool) override {}
    void OnItemFiles(const std::map<std::string, std::uint64_t>&) override {}
    void OnRunningSize(std::uint64_t size, std::uint64_t selected) override {
        std::lock_guard<std::mutex> lock(mutex);
        ++runningCalls;
        maxRunning = std::max(maxRunning, size);
        lastRunning = std::to_string(size) + "/" + std::to_string(selected);
    }
    void OnFileFound(const std::string&) override {}
    void OnScanEnd(std::uint8_t) override {}
    void OnProgress(std::uint32_t finished, std::uint32_t total) override {
        Add("progress " + std::to_string(finished) + "/" + std::to_string(total));
    }

    void Add(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(event);
    }

    std::mutex mutex;
    std::vector<std::string> events;
    std::uint64_t runningCalls = 0;
    std::uint64_t maxRunning = 0;
    std::string lastRunning;
};

// Groups 0..5 (cb 3, 3, 7, 10, 11, 3). Program 100 sits in the first five,
// program 200 in the first and the last. Details: the browser (lq set) with
// a block of two items and a leftover rule of one; the editor (no lq); and
// a detail of a program that no group holds. Every item has one record rule.
const char* const kTree = R"(<wu>
  <hz>
    <a cb="3"><gd><p ka="100"/><p ka="200"/></gd></a>
    <b cb="3"><gd><p ka="100"/></gd></b>
    <c cb="7"><gd><p ka="100"/></gd></c>
    <d cb="10"><gd><p ka="100"/></gd></d>
    <e cb="11"><gd><p ka="100"/></gd></e>
    <f cb="3"><gd><p ka="200"/></gd></f>
  </hz>
  <op>
    <browser gp="100" lq="1">
      <dx>
        <fa ar="3" hd="1"><mm/></fa>
        <fa ar="10;11;7" hd="2"><mm/></fa>
      </dx>
      <bp><dx><fa ar="3" hd="3"><mm/></fa></dx></bp>
    </browser>
    <editor gp="200"><dx><fa ar="3;7" hd="4"><mm/></fa></dx></editor>
    <orphan gp="999"><dx><fa ar="3" hd="5"><mm/></fa></dx></orphan>
  </op>
</wu>)";

class Model : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring path = dir / L"tree.xml";
        testutil::WriteBytes(std::filesystem::path(path), kTree);
        ASSERT_TRUE(cache.Load(path, false));
        ASSERT_EQ(cache.groups.groups.size(), 6u);
        ASSERT_EQ(cache.details.size(), 3u);
        g_scanCallback = &callback;
    }
    void TearDown() override { g_scanCallback = nullptr; }

    Execute& Item(std::uint32_t hd) {
        for (const auto& detail : cache.details) {
            for (const auto& block : detail->blocks)
                for (const auto& item : block->items)
                    if (item->hd.Get() == hd) return *item;
            for (const auto& leftover : detail->leftovers)
                for (const auto& block : leftover->blocks)
                    for (const auto& item : block->items)
                        if (item->hd.Get() == hd) return *item;
        }
        throw std::runtime_error("no item " + std::to_string(hd));
    }

    // (group index, program id) -> (size, selected) of every entry with bytes.
    std::map<std::pair<int, std::uint32_t>, std::pair<std::uint64_t, std::uint64_t>> EntrySizes() {
        std::map<std::pair<int, std::uint32_t>, std::pair<std::uint64_t, std::uint64_t>> sizes;
        for (std::size_t g = 0; g < cache.groups.groups.size(); ++g) {
            const Group& group = *cache.groups.groups[g];
            std::uint64_t size = 0, selected = 0;
            for (const auto& [id, entry] : group.entries) {
                size += entry->size;
                selected += entry->selectedSize;
                if (entry->size != 0 || entry->selectedSize != 0)
                    sizes[{static_cast<int>(g), id}] = {entry->size.load(), entry->selectedSize.load()};
            }
            EXPECT_EQ(group.size, size) << "group " << g;
            EXPECT_EQ(group.selectedSize, selected) << "group " << g;
        }
        return sizes;
    }

    // What the walkers do when every rule has been walked: each rule tells its item.
    void EndEveryRule(SoftDetail& detail) {
        auto endBlocks = [](const std::vector<std::unique_ptr<OS>>& blocks) {
            for (const auto& block : blocks)
                for (const auto& item : block->items) {
                    for (const auto& folder : item->folders) item->ChildEnd(folder.get());
                    for (const auto& record : item->records) item->ChildEnd(record.get());
                }
        };
        endBlocks(detail.blocks);
        for (const auto& leftover : detail.leftovers) endBlocks(leftover->blocks);
    }

    testutil::TempDir dir;
    CacheClean cache;
    RecordingCallback callback;
};

TEST_F(Model, BytesReachTheGroupsTheItemNames) {
    using Sizes = std::map<std::pair<int, std::uint32_t>, std::pair<std::uint64_t, std::uint64_t>>;
    struct Case {
        const char* what;
        std::uint32_t item;
        Sizes expected;
    } cases[] = {
        // ar {3}: exactly the cb-3 groups holding the browser, selected by its lq.
        {"ar {3}", 1, {{{0, 100}, {10, 10}}, {{1, 100}, {10, 10}}}},
        // Groups 10 and 11 count the bytes but never as selected.
        {"ar {10, 11, 7}", 2, {{{2, 100}, {10, 10}}, {{3, 100}, {10, 0}}, {{4, 100}, {10, 0}}}},
        // An item under a leftover rule finds its detail one level further up.
        {"leftover item", 3, {{{0, 100}, {10, 10}}, {{1, 100}, {10, 10}}}},
        // lq absent: not selected; group 7 does not hold the editor.
        {"no lq", 4, {{{0, 200}, {10, 0}}, {{5, 200}, {10, 0}}}},
        // A program in no group: the item counts, no group does.
        {"orphan detail", 5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cache.groups.Reset();
        Execute& item = Item(c.item);
        item.Reset();
        callback.runningCalls = 0;

        // The way a walker adds: at the rule, which forwards to its item.
        item.records[0]->AddSize(10, nullptr);

        EXPECT_EQ(item.records[0]->size, 10u);
        EXPECT_EQ(item.size, 10u);
        EXPECT_EQ(EntrySizes(), c.expected);
        std::uint64_t total = 0, selected = 0;
        for (const auto& [key, value] : c.expected) {
            total += value.first;
            selected += value.second;
        }
        EXPECT_EQ(cache.groups.size, total);
        EXPECT_EQ(cache.groups.selectedSize, selected);
        // Every arrival at the group list is reported with the running totals.
        EXPECT_EQ(callback.runningCalls, c.expected.size());
        if (!c.expected.empty()) {
            EXPECT_EQ(callback.lastRunning, std::to_string(total) + "/" + std::to_string(selected));
        }
    }
}

TEST_F(Model, ConcurrentAdditionsAreNotLost) {
    Execute& item = Item(1);  // reaches two entries
    std::vector<std::thread> walkers;
    for (int t = 0; t < 4; ++t) {
        walkers.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) item.records[0]->AddSize(3, nullptr);
        });
    }
    for (auto& walker : walkers) walker.join();
    EXPECT_EQ(item.size, 60000u);
    EXPECT_EQ(cache.groups.groups[0]->entries.at(100)->size, 60000u);
    EXPECT_EQ(cache.groups.groups[1]->selectedSize, 60000u);
    EXPECT_EQ(cache.groups.size, 120000u);
    EXPECT_EQ(callback.runningCalls, 40000u);
    EXPECT_EQ(callback.maxRunning, 120000u);
}

TEST_F(Model, EndsCountUpToTheGroupList) {
    Item(1).records[0]->AddSize(10, nullptr);
    Item(4).records[0]->AddSize(5, nullptr);

    // The browser ends: its four entries end, but group 0 still waits for the editor.
    EndEveryRule(*cache.details[0]);
    EXPECT_EQ(callback.events, (std::vector<std::string>{"progress 1/3"}));
    EXPECT_EQ(cache.groups.ended, 4u);

    // The orphan ends: progress only.
    EndEveryRule(*cache.details[2]);
    // The editor ends last: group 0 and group 5 complete, so the list does.
    EndEveryRule(*cache.details[1]);
    EXPECT_EQ(callback.events,
              (std::vector<std::string>{"progress 1/3", "progress 2/3", "progress 3/3", "total 30/20"}));
    EXPECT_EQ(cache.ended, 3u);
    EXPECT_EQ(cache.groups.ended, 6u);
    for (const auto& detail : cache.details) EXPECT_EQ(detail->ended, 2u - (detail != cache.details[0]));
}

TEST_F(Model, ResetsPrepareTheNextScan) {
    for (std::uint32_t hd : {1u, 2u, 3u, 4u}) Item(hd).records[0]->AddSize(7, nullptr);
    for (const auto& detail : cache.details) EndEveryRule(*detail);
    const std::vector<std::string> firstScan = callback.events;
    ASSERT_EQ(firstScan.back(), "progress 3/3");

    const std::uint64_t total = cache.groups.size;
    EXPECT_EQ(cache.groups.Reset(), total);
    EXPECT_EQ(cache.groups.size, 0u);
    EXPECT_EQ(cache.groups.selectedSize, 0u);
    EXPECT_TRUE(EntrySizes().empty());
    for (std::uint32_t hd : {1u, 2u, 3u, 4u}) {
        EXPECT_EQ(Item(hd).size, 0u) << hd;
        EXPECT_EQ(Item(hd).records[0]->size, 0u) << hd;
        EXPECT_EQ(Item(hd).ended, 0u) << hd;
    }

    cache.ResetCount();
    EXPECT_EQ(cache.ended, 0u);
    EXPECT_EQ(cache.groups.ended, 0u);
    for (const auto& group : cache.groups.groups) {
        EXPECT_EQ(group->ended, 0u);
        for (const auto& [id, entry] : group->entries) EXPECT_EQ(entry->ended, 0u);
    }
    for (const auto& detail : cache.details) {
        EXPECT_EQ(detail->ended, 0u);
        for (const auto& leftover : detail->leftovers) EXPECT_EQ(leftover->ended, 0u);
    }

    // The same scan again reports the same way, leftover rule included.
    callback.events.clear();
    for (std::uint32_t hd : {1u, 2u, 3u, 4u}) Item(hd).records[0]->AddSize(7, nullptr);
    for (const auto& detail : cache.details) EndEveryRule(*detail);
    EXPECT_EQ(callback.events, firstScan);
}

TEST_F(Model, NodesWithoutChildrenNeverEndByCounting) {
    const std::wstring path = dir / L"empty.xml";
    testutil::WriteBytes(std::filesystem::path(path), R"(<wu>
      <hz>
        <bin cb="9"><gd><p ka="61000088"/></gd></bin>
        <g cb="3"><gd><p ka="1"/><p ka="2"/></gd></g>
      </hz>
      <op><d gp="1"><dx><fa ar="3"><mm/></fa><fa ar="3"/></dx></d></op>
    </wu>)");
    ASSERT_TRUE(cache.Load(path, false));
    Group& bin = *cache.groups.groups[0];
    Group& group = *cache.groups.groups[1];

    // The detail's second item holds no rule, so the detail never ends.
    EndEveryRule(*cache.details[0]);
    EXPECT_TRUE(callback.events.empty());
    EXPECT_EQ(cache.details[0]->blocks[0]->ended, 1u);

    // The recycle bin has no detail; every call it gets passes up.
    SoftShort& recycleBin = *bin.entries.at(SoftShort::kRecycleBinId);
    recycleBin.ChildEnd(nullptr);
    EXPECT_EQ(bin.ended, 1u);
    recycleBin.ChildEnd(nullptr);
    EXPECT_EQ(bin.ended, 2u);
    // An ordinary entry without details does not.
    group.entries.at(2)->ChildEnd(nullptr);
    EXPECT_EQ(group.ended, 0u);
    EXPECT_EQ(cache.groups.ended, 1u);
    EXPECT_TRUE(callback.events.empty());
}

TEST_F(Model, TemplateEndsOnceWhenItsLastCopyGoes) {
    const std::wstring path = dir / L"folders.xml";
    testutil::WriteBytes(std::filesystem::path(path),
                         "<wu><hz><g cb='3'><gd><p ka='1'/></gd></g></hz>"
                         "<op><d gp='1'><dx><fa ar='3'><vg uk='x'/></fa></dx></d></op></wu>");
    ASSERT_TRUE(cache.Load(path, false));
    Execute& item = *cache.details[0]->blocks[0]->items[0];
    Dir* folderRule = item.folders[0].get();
    ASSERT_TRUE(folderRule->isTemplate);

    auto first = std::make_unique<Dir>(folderRule, std::string("one"));
    auto second = std::make_unique<Dir>(folderRule, std::string("two"));
    auto third = std::make_unique<Dir>(folderRule, std::string("three"));
    EXPECT_EQ(folderRule->liveCopies, 3u);
    second->AddSize(4, nullptr);  // a copy's bytes go through its template
    EXPECT_EQ(folderRule->size, 4u);
    EXPECT_EQ(cache.groups.size, 4u);

    second.reset();
    first.reset();
    EXPECT_EQ(item.ended, 0u);
    third.reset();
    EXPECT_EQ(folderRule->liveCopies, 0u);
    EXPECT_EQ(item.ended, 1u);
    EXPECT_EQ(callback.events, (std::vector<std::string>{"progress 1/1", "total 4/0"}));
}

}  // namespace
