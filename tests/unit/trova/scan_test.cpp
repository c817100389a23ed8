// The junk scan end to end: rules read from a fixture database walk a small
// tree in a temporary folder through the worker queue, and the result report
// comes back through a recording callback.
#include "trova/blockingqueue.h"
#include "trova/clean/cacheclean.h"
#include "trova/clean/cachecleancbk.h"
#include "trova/clean/dir.h"
#include "trova/clean/nametables.h"

#include "fendrel/registry.h"

#include "rule_test_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#endif

using namespace Trova;

namespace {

namespace fs = std::filesystem;
using ruletest::kSep;

struct Reported {
    std::string kind;  // "group", "program", "item"
    std::string name;
    std::uint64_t size;
    std::uint64_t selected;
    std::uint32_t id;
};

class RecordingCallback : public CacheCleanCbk {
public:
    void OnTotal(std::uint64_t size, std::uint64_t selected) override {
        std::lock_guard<std::mutex> lock(mutex);
        totals.push_back({size, selected});
    }
    void OnGroup(std::string name, std::uint64_t size, std::uint64_t selected, std::uint32_t id) override {
        Add({"group", name, size, selected, id});
    }
    void OnProgram(std::string name, std::uint64_t size, std::uint64_t selected, std::uint32_t id) override {
        Add({"program", name, size, selected, id});
    }
    void OnItem(std::string name, std::uint64_t size, std::uint32_t id, bool selected) override {
        Add({"item", name, size, selected ? 1u : 0u, id});
    }
    void OnItemFiles(const std::map<std::string, std::uint64_t>& files) override {
        std::lock_guard<std::mutex> lock(mutex);
        itemFiles.push_back(files);
    }
    void OnRunningSize(std::uint64_t, std::uint64_t) override {}
    void OnFileFound(const std::string&) override {}
    void OnScanEnd(std::uint8_t) override {}
    void OnProgress(std::uint32_t finished, std::uint32_t total) override {
        std::lock_guard<std::mutex> lock(mutex);
        progress.push_back({finished, total});
    }

    void Add(const Reported& entry) {
        std::lock_guard<std::mutex> lock(mutex);
        report.push_back(entry);
    }
    std::vector<Reported> Of(const std::string& kind) const {
        std::vector<Reported> out;
        for (const Reported& entry : report)
            if (entry.kind == kind)
                out.push_back(entry);
        return out;
    }

    std::mutex mutex;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> totals;
    std::vector<Reported> report;
    std::vector<std::map<std::string, std::uint64_t>> itemFiles;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;
};

// XML attribute text.
std::string Attr(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\'' ? std::string("&apos;") : c == '&' ? std::string("&amp;") : std::string(1, c);
    return out;
}

// One HKCU text value for the test's duration: the Linux registry store, or
// a real key under Wine and Windows.
class RegistryValue {
public:
    RegistryValue(const std::string& name, const std::string& data)
        : m_key("Software\\" + ruletest::UniqueName("CleanScanTest")) {
#if defined(_WIN32)
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, Utils::AnsiToUtf16(m_key).c_str(), 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, &key, nullptr));
        const std::wstring wide = Utils::AnsiToUtf16(data);
        RegSetValueExW(key, Utils::AnsiToUtf16(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
#else
        auto quote = [](const std::string& text) {
            std::string out = "\"";
            for (char c : text) {
                if (c == '\\' || c == '"')
                    out += '\\';
                out += c;
            }
            return out + "\"";
        };
        testutil::WriteBytes(m_dir.path() / "store.reg", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" +
                                                             m_key + "]\r\n" + quote(name) + "=" + quote(data) + "\r\n");
        EXPECT_TRUE(Registry::SetStore((m_dir.path() / "store.reg").wstring()));
#endif
    }
    ~RegistryValue() {
#if defined(_WIN32)
        RegDeleteTreeW(HKEY_CURRENT_USER, Utils::AnsiToUtf16(m_key).c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, Utils::AnsiToUtf16(m_key).c_str());
#else
        Registry::SetStore(L"");
#endif
    }
    RegistryValue(const RegistryValue&) = delete;
    RegistryValue& operator=(const RegistryValue&) = delete;

    std::string Key() const { return "HKCU\\" + m_key; }

private:
#if !defined(_WIN32)
    testutil::TempDir m_dir;
#endif
    std::string m_key;
};

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = ruletest::Narrow(dir);
        languageWas = NameTables::Instance().LanguageFeature();
        NameTables::Instance().SetLanguageFeature(false);
        scrambledWas = g_dataScrambled.load();
        g_dataScrambled = false;
    }
    void TearDown() override {
        // A finished scan leaves its workers waiting for the next one; other
        // tests of the process expect the shared queue idle.
        BlockingQueue<Dir*>::Instance().Stop(1, nullptr);
        g_scanCallback = nullptr;
        g_dataScrambled = scrambledWas;
        NameTables::Instance().SetLanguageFeature(languageWas);
    }

    // "a/b" below the test folder, native spelling.
    std::string At(const std::string& relative) const { return root + kSep + ruletest::Native(relative); }

    void File(const std::string& relative, std::size_t bytes) {
        const fs::path path = fs::path(At(relative));
        fs::create_directories(path.parent_path());
        testutil::WriteBytes(path, std::string(bytes, 'x'));
    }

    void Load(const std::string& xml) {
        const std::wstring path = dir / L"rules.xml";
        testutil::WriteBytes(fs::path(path), xml);
        ASSERT_TRUE(cache.Load(path, false));
    }

    testutil::TempDir dir;
    std::string root;
    CacheClean cache;
    RecordingCallback callback;
    bool languageWas = false;
    bool scrambledWas = false;
};

// Groups 3, 7, 11, 13, 24 over four programs: the browser (cache and logs,
// plus a leftover rule of two blocks that does not apply: its program is
// installed), the editor, a chat program's record rule, and an uninstalled
// program whose leftover rule applies.
class FullScan : public ScanTest {
protected:
    void SetUp() override {
        ScanTest::SetUp();
        File("browser/cache/a.tmp", 1000);
        File("browser/cache/b.tmp", 200);
        File("browser/cache/sub/c.tmp", 300);
        File("browser/cache/keep.dat", 5000);  // filtered out
        File("browser/logs/x.log", 50);
        File("editor/cache/e.bin", 700);
        File("left1/l.tmp", 4000);  // leftovers of the installed browser: never counted
        File("left1b/l.tmp", 4000);
        File("left2/old.tmp", 40);
        File("installed/app.exe", 2);
        File("chat/r1.bin", 10);
        File("chat/r2.bin", 20);
        ruletest::MakeDatabase(At("chat/db.sqlite"),
                               "create table files(path text);"
                               "insert into files values(" + ruletest::SqlText(At("chat/r1.bin")) + ");"
                               "insert into files values(" + ruletest::SqlText(At("chat/r2.bin")) + ");"
                               "insert into files values(" + ruletest::SqlText(At("chat/gone.bin")) + ");");
        installed = std::make_unique<RegistryValue>("Path", At("installed/app.exe"));
        const std::string key = Attr(installed->Key());
        Load(R"(<wu><hz>
  <g cb="3" aw="Junk"><gd><p ka="100" sv="Browser"/></gd></g>
  <g cb="7" aw="Editors"><gd><p ka="200" sv="Editor"/></gd></g>
  <g cb="11" aw="Logs"><gd><p ka="100" sv="Browser"/></gd></g>
  <g cb="13" aw="Records"><gd><p ka="300" sv="Chat"/></gd></g>
  <g cb="24" aw="Leftovers"><gd><p ka="100" sv="Browser"/><p ka="400" sv="Old"/></gd></g>
</hz><op>
  <d gp="100" lq="1">
    <dx><fa ar="3" hd="1" sv="Cache"><vg uk=')" + Attr(At("browser/cache")) + R"(' od="*.tmp"/></fa>
        <fa ar="3;11" hd="2" sv="Logs"><vg uk=')" + Attr(At("browser/logs")) + R"('/></fa></dx>
    <bp><hw><es gb=')" + key + R"(' yf="Path"/></hw>
        <dx><fa ar="24" hd="6"><vg uk=')" + Attr(At("left1")) + R"('/></fa></dx>
        <dx><fa ar="24" hd="7"><vg uk=')" + Attr(At("left1b")) + R"('/></fa></dx></bp>
  </d>
  <d gp="200"><dx><fa ar="7" hd="4" sv="Editor cache"><vg uk=')" + Attr(At("editor/cache")) + R"('/></fa></dx></d>
  <d gp="300" lq="1"><dx><fa ar="13" hd="5" sv="History">
    <mm av=')" + Attr(At("chat/db.sqlite")) + R"(' zl="select path from files"/></fa></dx></d>
  <d gp="400" lq="1">
    <bp><hw><es gb=')" + key + R"(' yf="Missing"/></hw>
        <dx><fa ar="24" hd="8" sv="Old files"><vg uk=')" + Attr(At("left2")) + R"('/></fa></dx></bp>
  </d>
</op></wu>)");
    }

    std::unique_ptr<RegistryValue> installed;
};

TEST_F(FullScan, DistributesBytesAndReportsLargestFirst) {
    ASSERT_EQ(1, cache.Scan(true, &callback));

    // Both totals: the one when every group ended and the report's own.
    ASSERT_EQ(2u, callback.totals.size());
    for (const auto& total : callback.totals) {
        EXPECT_EQ(1550u + 700 + 50 + 30 + 40, total.first);
        EXPECT_EQ(1550u + 30 + 40, total.second);  // group 11 is never preselected; the editor has no lq
    }

    const auto groups = callback.Of("group");
    ASSERT_EQ(5u, groups.size());
    const std::uint32_t order[] = {3, 7, 11, 24, 13};
    const std::uint64_t sizes[] = {1550, 700, 50, 40, 30};
    const std::uint64_t selected[] = {1550, 0, 0, 40, 30};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(order[i], groups[i].id);
        EXPECT_EQ(sizes[i], groups[i].size) << order[i];
        EXPECT_EQ(selected[i], groups[i].selected) << order[i];
    }
    EXPECT_EQ("Junk", groups[0].name);

    // Group 3: the browser, its cache before its logs; group 24 only the
    // program whose leftover rule applied.
    std::vector<std::string> flow;
    for (const Reported& entry : callback.report)
        flow.push_back(entry.kind + " " + entry.name + " " + std::to_string(entry.size) + " " +
                       std::to_string(entry.selected) + " " + std::to_string(entry.id));
    const std::vector<std::string> expected = {
        "group Junk 1550 1550 3",      "program Browser 1550 1550 100", "item Cache 1500 1 1",
        "item Logs 50 1 2",            "group Editors 700 0 7",        "program Editor 700 0 200",
        "item Editor cache 700 0 4",   "group Logs 50 0 11",           "program Browser 50 0 100",
        "item Logs 50 0 2",            "group Leftovers 40 40 24",     "program Old 40 40 400",
        "item Old files 40 1 8",       "group Records 30 30 13",       "program Chat 30 30 300",
        "item History 30 1 5",
    };
    EXPECT_EQ(expected, flow);

    // Files of group 11's item (its folder rule) and group 13's (the record
    // rule: the listed file that is gone is left out).
    ASSERT_EQ(2u, callback.itemFiles.size());
    EXPECT_EQ((std::map<std::string, std::uint64_t>{{At("browser/logs/x.log"), 50}}), callback.itemFiles[0]);
    EXPECT_EQ((std::map<std::string, std::uint64_t>{{At("chat/r1.bin"), 10}, {At("chat/r2.bin"), 20}}),
              callback.itemFiles[1]);

    // The count is told before any walk ends; then every detail ended
    // exactly once, the one whose two-block leftover rule did not apply included.
    ASSERT_EQ(5u, callback.progress.size());
    EXPECT_EQ(std::make_pair(0u, 4u), callback.progress.front());
    EXPECT_EQ(std::make_pair(4u, 4u), callback.progress.back());
}

TEST_F(FullScan, NamesFallBackToTheRulesWhereTheTablesHaveNone) {
    NameTables& tables = NameTables::Instance();
    const std::string saved[4] = {tables.GidCsv(), tables.SoftidCsv(), tables.SubsoftidCsv(), tables.BigfileCsv()};
    const bool savedScrambled = tables.Scrambled();
    tables.Load("", "", "", "", false);
    tables.SetLanguageFeature(true);
    ASSERT_EQ(1, cache.Scan(true, &callback));
    tables.Load(saved[0], saved[1], saved[2], saved[3], savedScrambled);
    ASSERT_FALSE(callback.report.empty());
    EXPECT_EQ("Junk", callback.Of("group")[0].name);
    EXPECT_EQ("Browser", callback.Of("program")[0].name);
    EXPECT_EQ("Cache", callback.Of("item")[0].name);
}

TEST_F(FullScan, MasksIdsWhenTheDataIsScrambledAndRescansCleanly) {
    g_dataScrambled = true;
    ASSERT_EQ(1, cache.Scan(true, &callback));
    const auto groups = callback.Of("group");
    ASSERT_FALSE(groups.empty());
    EXPECT_EQ(3u ^ g_idMask, groups[0].id);
    EXPECT_EQ(100u ^ g_idMask, callback.Of("program")[0].id);
    EXPECT_EQ(1u ^ g_idMask, callback.Of("item")[0].id);

    // The second scan of the same tree, after the resets the caller makes,
    // gives the same sizes and ends every detail again.
    RecordingCallback again;
    cache.groups.Reset();
    cache.ResetCount();
    ASSERT_EQ(1, cache.Scan(true, &again));
    ASSERT_EQ(2u, again.totals.size());
    EXPECT_EQ(2370u, again.totals.back().first);
    EXPECT_EQ(std::make_pair(4u, 4u), again.progress.back());
    EXPECT_EQ(2u, again.itemFiles.size());
}

TEST_F(ScanTest, NotStartedAndRecordRulesOnly) {
    File("db/r.bin", 64);
    ruletest::MakeDatabase(At("db/list.sqlite"), "create table files(path text);"
                                                 "insert into files values(" + ruletest::SqlText(At("db/r.bin")) + ");");
    Load(R"(<wu><hz><g cb="3" aw="Junk"><gd><p ka="1" sv="App"/></gd></g></hz><op>
  <d gp="1" lq="1"><dx><fa ar="3" hd="9" sv="Listed">
    <mm av=')" + Attr(At("db/list.sqlite")) + R"(' zl="select path from files"/></fa></dx></d>
</op></wu>)");

    EXPECT_EQ(4, cache.Scan(false, &callback));
    EXPECT_TRUE(callback.report.empty());

    // Nothing reaches the queue: the scan must still finish, with code 1.
    ASSERT_EQ(1, cache.Scan(true, &callback));
    ASSERT_FALSE(callback.totals.empty());
    EXPECT_EQ(64u, callback.totals.back().first);
    ASSERT_EQ(1u, callback.Of("item").size());
    EXPECT_EQ(64u, callback.Of("item")[0].size);
}

TEST_F(ScanTest, SplitWalkCountsWhatTheWholeWalkCounts) {
    // Three levels of three folders, files at every level, one filtered name.
    std::uint64_t bytes = 0;
    for (int a = 0; a < 3; ++a) {
        File("deep/" + std::to_string(a) + "/f.tmp", 10 + a);
        File("deep/" + std::to_string(a) + "/skip.txt", 1000);
        bytes += 10 + a;
        for (int b = 0; b < 3; ++b) {
            File("deep/" + std::to_string(a) + "/" + std::to_string(b) + "/f.tmp", 100 + b);
            bytes += 100 + b;
            for (int c = 0; c < 3; ++c) {
                File("deep/" + std::to_string(a) + "/" + std::to_string(b) + "/" + std::to_string(c) + "/f.tmp", 7);
                bytes += 7;
            }
        }
    }
    File("deep/top.tmp", 3);
    bytes += 3;
    fs::create_directories(fs::path(At("deep/empty/inner")));
    const std::string rule = "<vg uk='" + Attr(At("deep")) + "' od='*.tmp'/>";
    // The 7006 detail's item 21 is split per folder; the same rule under
    // another kind, and another item of the 7006 detail, are walked whole.
    Load(R"(<wu><hz><g cb="3" aw="Junk"><gd><p ka="1"/><p ka="2"/></gd></g></hz><op>
  <d gp="1" ka="7006"><dx><fa ar="3" hd="21">)" + rule + R"(</fa><fa ar="3" hd="22">)" + rule + R"(</fa></dx></d>
  <d gp="2" ka="7000"><dx><fa ar="3" hd="21">)" + rule + R"(</fa></dx></d>
</op></wu>)");

    ASSERT_EQ(1, cache.Scan(true, &callback));
    const Dir& split = *cache.details[0]->blocks[0]->items[0]->folders[0];
    EXPECT_TRUE(split.parallel);
    EXPECT_FALSE(cache.details[0]->blocks[0]->items[1]->folders[0]->parallel);
    EXPECT_FALSE(cache.details[1]->blocks[0]->items[0]->folders[0]->parallel);
    EXPECT_EQ(bytes, split.size.load());
    EXPECT_EQ(bytes, cache.details[0]->blocks[0]->items[1]->size.load());
    EXPECT_EQ(bytes, cache.details[1]->blocks[0]->items[0]->size.load());
    // Every copy is gone and ended the template once: both details ended once.
    EXPECT_EQ(0u, split.liveCopies.load());
    ASSERT_EQ(3u, callback.progress.size());
    EXPECT_EQ(std::make_pair(2u, 2u), callback.progress.back());
}

// Stops the scan from its first found file. The worker that found it keeps
// its rule busy (so the run cannot finish on its own) but waits where the
// queue counts it as idle, so the pause can complete and the stop reach it.
class StoppingCallback : public RecordingCallback {
public:
    void OnFileFound(const std::string&) override {
        if (first.exchange(false)) {
            stopper = std::thread([] { BlockingQueue<Dir*>::Instance().Stop(2, nullptr); });
            for (;;) {
                BlockingQueue<Dir*>::Instance().WaitIfSuspended();  // throws once stopped
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    std::atomic<bool> first{true};
    std::thread stopper;
};

TEST_F(ScanTest, StopEndsWithTwoAndStillReports) {
    std::string rules;
    std::uint64_t all = 0;
    for (int i = 0; i < 8; ++i) {
        for (int f = 0; f < 5; ++f) {
            File("stop/" + std::to_string(i) + "/f" + std::to_string(f), 100);
            all += 100;
        }
        rules += "<vg uk='" + Attr(At("stop/" + std::to_string(i))) + "'/>";
    }
    // A split walk too: copies still queued at the stop must be freed.
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) {
            File("split/" + std::to_string(a) + "/" + std::to_string(b) + "/f", 10);
            all += 10;
        }
    }
    Load(R"(<wu><hz><g cb="3" aw="Junk"><gd><p ka="1"/><p ka="2"/></gd></g></hz><op>
  <d gp="1"><dx><fa ar="3" hd="1">)" + rules + R"(</fa></dx></d>
  <d gp="2" ka="7006"><dx><fa ar="3" hd="21"><vg uk=')" + Attr(At("split")) + R"('/></fa></dx></d></op></wu>)");
    const Dir& split = *cache.details[1]->blocks[0]->items[0]->folders[0];

    StoppingCallback stopping;
    EXPECT_EQ(2, cache.Scan(true, &stopping));
    stopping.stopper.join();
    // The report came, without the bytes of the rule that was interrupted.
    ASSERT_FALSE(stopping.totals.empty());
    EXPECT_LT(stopping.totals.back().first, all);
    EXPECT_EQ(0u, split.liveCopies.load());

    // The queue runs again for the next scan, and every detail ends again.
    cache.groups.Reset();
    cache.ResetCount();
    ASSERT_EQ(1, cache.Scan(true, &callback));
    ASSERT_FALSE(callback.totals.empty());
    EXPECT_EQ(all, callback.totals.back().first);
    ASSERT_FALSE(callback.progress.empty());
    EXPECT_EQ(std::make_pair(2u, 2u), callback.progress.back());
}

}  // namespace
