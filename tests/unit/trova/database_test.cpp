// Reading the rule database: the scrambled container, attribute kinds and
// their defaults, the element tree, linking details to program entries, and
// what broken files leave behind.
#include "trova/clean/cacheclean.h"
#include "trova/clean/cachecleancbk.h"
#include "trova/clean/dir.h"
#include "trova/clean/directdata.h"
#include "trova/clean/scrambled.h"
#include "trova/clean/softs.h"
#include "trova/clean/unsresidualrule.h"

#include "fendrel/file.h"
#include "fendrel/platform.h"

#include "testutil.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace Trova;

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

void WriteFile(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    testutil::WriteBytes(std::filesystem::path(path), Text(bytes));
}

// A small database touching every element the reader knows.
const char* const kDatabase = R"(<?xml version="1.0"?>
<wu>
  <hz>
    <g1 cb="3" aw="Caches" nr="n1" an="y">
      <gd>
        <p ka="100" sv="Browser" vc="T"/>
        <p ka="200" sv="Editor"/>
      </gd>
      <gd><p ka="300"/></gd>
    </g1>
    <skipped cb="12" aw="not shown"><gd><p ka="100"/></gd></skipped>
    <g2 aw="No category"><gd><p ka="100" sv="Browser again"/></gd></g2>
    <g3 cb="0x7" aw="Logs"><gd><p ka="200"/><p ka="200" sv="Editor, later"/></gd></g3>
  </hz>
  <hz><late cb="5"/></hz>
  <op>
    <d ka="7006" gp="100" sv="Browser cache" zi="4" xn="0" lq="1" qm="yes">
      <dx sv="block" ar="3;x;7" qh="2">
        <fa ar="3" sv="Cache" hd="21" qh="5" tx="6">
          <vg uk="%TEMP%" od="*.tmp;;*.log;"/>
          <mm av="db.sqlite" zl="select path from files"/>
          <wy sv="script"/>
          <zz/>
          stray text
        </fa>
        <fa ar="13;2"><vg uk="a"/><vg uk="b"/><mm av="c"/></fa>
        <es sv="ignored"/>
        <fb/>
      </dx>
      <bp>
        <wz sv="browser.exe"/>
        <hw/>
        <dx><fa ar="3" hd="9"><vg uk="left"/></fa></dx>
        <uy/>
        <odd/>
      </bp>
      <dx/>
    </d>
    <d gp="200"/>
    <d gp="999"><dx><fa ar="3"/></dx></d>
  </op>
  <op><d gp="100"/></op>
</wu>
)";

// Everything the reader stores, as text, so two loads can be compared whole.
std::string Dump(const CacheClean& cache) {
    std::ostringstream out;
    for (const auto& group : cache.groups.groups) {
        out << "group cb=" << group->cb.Get() << " aw=" << group->aw.Get() << " an=" << group->an.Get() << "\n";
        for (const auto& entry : group->ownedEntries) {
            out << "  entry ka=" << entry->ka.Get() << " sv=" << entry->sv.Get() << " details="
                << entry->details.size() << "\n";
        }
    }
    for (const auto& detail : cache.details) {
        out << "detail gp=" << detail->gp.Get() << " ka=" << detail->ka.Get() << " entries=" << detail->entries.size()
            << " leftovers=" << detail->leftovers.size() << "\n";
        for (const auto& block : detail->blocks) {
            for (const auto& item : block->items) {
                std::set<std::uint32_t> ar(item->ar.ids.begin(), item->ar.ids.end());
                out << "  item hd=" << item->hd.Get() << " sv=" << item->sv.Get() << " ar=";
                for (std::uint32_t id : ar) out << id << ",";
                out << " folders=" << item->folders.size() << " records=" << item->records.size() << "\n";
            }
        }
    }
    return out.str();
}

class Database : public ::testing::Test {
protected:
    void TearDown() override { g_dataScrambled = false; }

    // Loads the fixture database, keeping what the reader prints to itself.
    bool LoadDatabase(CacheClean& cache, bool scrambled = false) {
        const std::wstring path =
            scrambled ? WriteScrambled(L"rules.dat", kDatabase) : Write(L"rules.xml", kDatabase);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool loaded = cache.Load(path, scrambled);
        printed = testing::internal::GetCapturedStdout();
        errors = testing::internal::GetCapturedStderr();
        return loaded;
    }

    std::wstring Write(const std::wstring& name, const std::string& text) {
        const std::wstring path = dir / name;
        WriteFile(path, Bytes(text));
        return path;
    }
    std::wstring WriteScrambled(const std::wstring& name, const std::string& text) {
        const std::uint8_t mask[4] = {0x3C, 0x00, 0xE1, 0x7F};
        const std::wstring path = dir / name;
        WriteFile(path, Scramble(Bytes(text), mask, 0xA6));
        return path;
    }

    testutil::TempDir dir;
    std::string printed;
    std::string errors;
};

// ---- scrambled container ---------------------------------------------------

TEST_F(Database, ScrambledFileFollowsTheKeyRule) {
    struct Case {
        std::string body;
        std::uint8_t key[4];
        std::uint8_t keyByte;
    } cases[] = {
        {"<wu><hz/></wu>", {0x12, 0xA5, 0x00, 0xFF}, 0x5C},  // 14 bytes: the key wraps mid-way
        {"<wu/>", {0x01, 0x02, 0x03, 0x04}, 0x00},
        {"abcd", {0xFF, 0xFF, 0xFF, 0xFF}, 0xFF},
        {"", {0x10, 0x20, 0x30, 0x40}, 0x99},                 // a bare trailer reads as empty text
    };
    for (const Case& c : cases) {
        // Built by hand from the rule, independently of Scramble.
        std::vector<std::uint8_t> file;
        for (std::size_t j = 0; j < c.body.size(); ++j) {
            file.push_back(static_cast<std::uint8_t>(c.body[j]) ^ c.key[j % 4]);
        }
        for (std::uint8_t k : c.key) file.push_back(k ^ c.keyByte);
        file.push_back(c.keyByte);
        const std::wstring path = dir / L"rule.dat";
        WriteFile(path, file);

        std::vector<std::uint8_t> plain{'x'};
        ASSERT_TRUE(ReadScrambledFile(path, plain)) << c.body;
        EXPECT_EQ(Text(plain), c.body);
    }
}

TEST_F(Database, AllZeroTrailerGivesTheBodyUnchanged) {
    const std::wstring path = dir / L"zero.dat";
    WriteFile(path, Bytes(std::string("<wu>plain</wu>") + std::string(5, '\0')));
    std::vector<std::uint8_t> plain;
    ASSERT_TRUE(ReadScrambledFile(path, plain));
    EXPECT_EQ(Text(plain), "<wu>plain</wu>");
}

TEST_F(Database, FilesShorterThanTheTrailerAreUnreadable) {
    std::vector<std::uint8_t> plain;
    for (std::size_t size = 0; size < 5; ++size) {
        const std::wstring path = dir / L"short.dat";
        WriteFile(path, std::vector<std::uint8_t>(size, 0x41));
        plain = {1, 2, 3};
        EXPECT_FALSE(ReadScrambledFile(path, plain)) << size;
        EXPECT_TRUE(plain.empty()) << size;
    }
    EXPECT_FALSE(ReadScrambledFile(dir / L"missing.dat", plain));
    EXPECT_FALSE(ReadScrambledFile(L"", plain));
    EXPECT_FALSE(ReadScrambledFile(dir.wstr(), plain));  // a folder
}

TEST_F(Database, ScrambleRoundTrips) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(255 - i);
    const std::uint8_t mask[4] = {0x9D, 0x4E, 0x00, 0xC3};
    for (std::size_t length : {0u, 1u, 3u, 4u, 5u, 7u, 256u}) {
        const std::vector<std::uint8_t> plain(all.begin(), all.begin() + length);
        const std::vector<std::uint8_t> scrambled = Scramble(plain, mask, 0x6B);
        ASSERT_EQ(scrambled.size(), length + 5);
        EXPECT_EQ(scrambled.back(), 0x6B);
        if (length >= 4) {
            EXPECT_FALSE(std::equal(plain.begin(), plain.end(), scrambled.begin())) << length;
        }
        const std::wstring path = dir / L"round.dat";
        WriteFile(path, scrambled);
        std::vector<std::uint8_t> back;
        ASSERT_TRUE(ReadScrambledFile(path, back));
        EXPECT_EQ(back, plain) << length;
    }
}

// ---- attribute kinds -------------------------------------------------------

TEST(Properties, ScalarKindsAndDefaults) {
    struct Case {
        const char* xml;
        bool flag;            // BooleanValue, default true
        std::uint32_t number; // Uint32Property, default -1
        std::int32_t depth;   // Depth
    } cases[] = {
        {"<n/>", true, 0xFFFFFFFFu, -1},
        {"<n a='1'/>", true, 1, 1},
        {"<n a='t'/>", true, 0, 0},
        {"<n a='Yes'/>", true, 0, 0},
        {"<n a='y'/>", true, 0, 0},
        {"<n a='T'/>", true, 0, 0},
        {"<n a='n'/>", false, 0, 0},
        {"<n a='0'/>", false, 0, 0},
        {"<n a=''/>", false, 0, 0},
        {"<n a='false'/>", false, 0, 0},
        {"<n a=' 0x10'/>", false, 16, 16},
        {"<n a='  42'/>", false, 42, 42},
        {"<n a='99999999999'/>", false, 0xFFFFFFFFu, 2147483647},
        {"<n a='-5'/>", false, 0, -5},
        {"<n a='abc'/>", false, 0, 0},
    };
    for (const Case& c : cases) {
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(c.xml));
        const pugi::xml_node node = doc.child("n");
        BooleanValue flag(nullptr, 0, true);
        Uint32Property number(nullptr);
        Depth depth(nullptr);
        StringProperty text(nullptr);
        flag.Read(node, "a");
        number.Read(node, "a");
        depth.Read(node, "a");
        text.Read(node, "a");
        const bool present = static_cast<bool>(node.attribute("a"));
        EXPECT_EQ(flag.present, present) << c.xml;
        EXPECT_EQ(flag.Get(), c.flag) << c.xml;
        EXPECT_EQ(number.Get(), c.number) << c.xml;
        EXPECT_EQ(depth.Get(), c.depth) << c.xml;
        EXPECT_EQ(text.Get(), node.attribute("a").value()) << c.xml;
    }
}

TEST(Properties, DefaultSelectionIsNeverTrueForGroups10And11) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string("<n on='1' off='0'/>"));
    DefSel on(nullptr, 0, false), off(nullptr, 0, true), absent(nullptr, 0, false);
    on.Read(doc.child("n"), "on");
    off.Read(doc.child("n"), "off");
    absent.Read(doc.child("n"), "lq");
    for (std::uint32_t group : {0u, 3u, 9u, 12u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(on.Selected(group)) << group;
        EXPECT_FALSE(off.Selected(group)) << group;
        EXPECT_FALSE(absent.Selected(group)) << group;
    }
    EXPECT_FALSE(on.Selected(10));
    EXPECT_FALSE(on.Selected(11));
}

TEST(Properties, CategoryLists) {
    struct Case {
        const char* value;  // null: attribute absent
        std::set<std::uint32_t> ids;
        std::string errors;
    } cases[] = {
        {nullptr, {}, ""},
        {"", {}, ""},
        {"3", {3}, ""},
        {"3;x;7", {3, 7}, "Invalid number: x\n"},
        {"3;7;", {3, 7}, ""},
        {"3;;7", {3, 7}, "Invalid number: \n"},
        {"7;3;7", {3, 7}, ""},
        {" 4;-1;5abc;0x10", {4, 0xFFFFFFFFu, 5, 0}, ""},
        {"2147483648;1;abc", {1}, "Number out of range: 2147483648\nInvalid number: abc\n"},
        {";", {}, "Invalid number: \n"},
    };
    for (const Case& c : cases) {
        pugi::xml_document doc;
        pugi::xml_node node = doc.append_child("n");
        if (c.value) node.append_attribute("ar") = c.value;
        Category category(nullptr);
        testing::internal::CaptureStderr();
        category.Read(node, "ar");
        const std::string errors = testing::internal::GetCapturedStderr();
        const char* shown = c.value ? c.value : "(absent)";
        EXPECT_EQ(category.present, c.value != nullptr) << shown;
        EXPECT_EQ(std::set<std::uint32_t>(category.ids.begin(), category.ids.end()), c.ids) << shown;
        EXPECT_EQ(errors, c.errors) << shown;
        for (std::uint32_t id : c.ids) EXPECT_TRUE(category.Contains(id));
    }
}

TEST(Properties, PatternListsKeepEmptyPieces) {
    struct Case {
        const char* value;
        std::vector<std::string> patterns;
    } cases[] = {
        {nullptr, {}},
        {"*.log", {"*.log"}},
        {"a;;b;", {"a", "", "b", ""}},
        {";", {"", ""}},
        {"", {""}},
        {"*.tmp; *.bak", {"*.tmp", " *.bak"}},
    };
    for (const Case& c : cases) {
        pugi::xml_document doc;
        pugi::xml_node node = doc.append_child("n");
        if (c.value) node.append_attribute("od") = c.value;
        Wildcard list(nullptr);
        list.Read(node, "od");
        EXPECT_EQ(list.present, c.value != nullptr);
        EXPECT_EQ(list.patterns, c.patterns) << (c.value ? c.value : "(absent)");
        ASSERT_EQ(list.widePatterns.size(), c.patterns.size());
        for (std::size_t i = 0; i < c.patterns.size(); ++i) {
            EXPECT_EQ(list.widePatterns[i], std::wstring(c.patterns[i].begin(), c.patterns[i].end()));
        }
    }
}

TEST(Properties, NameExpressionMatchesWholeNamesIgnoringCase) {
    struct Case {
        const char* value;
        const char* name;
        bool matches;
    } cases[] = {
        {"/^cache_[0-9]+$/", "Cache_12", true},
        {"/^cache_[0-9]+$/", "cache_12.bak", false},
        {"#cache#", "CACHE", true},
        {"#cache#", "mycache", false},        // whole name, not a search
        {"/.*\\.log/", "a.LOG", true},
        {"", "anything", false},              // nothing between the delimiters
        {"/", "/", false},
        {"//", "", false},
        {"/[unclosed/", "[unclosed", false},  // does not compile
        {"/(a/", "a", false},
    };
    for (const Case& c : cases) {
        pugi::xml_document doc;
        pugi::xml_node node = doc.append_child("n");
        node.append_attribute("ur") = c.value;
        NameRegular expression(nullptr);
        expression.Read(node, "ur");
        EXPECT_EQ(expression.Matches(c.name), c.matches) << c.value << " vs " << c.name;
        EXPECT_EQ(expression.Matches(c.name), c.matches) << "second use of " << c.value;
    }
}

TEST(Properties, NameExpressionIsSafeFromSeveralThreads) {
    pugi::xml_document doc;
    pugi::xml_node node = doc.append_child("n");
    node.append_attribute("ur") = "/^tmp[0-9]{2}\\.dat$/";
    NameRegular expression(nullptr);
    expression.Read(node, "ur");
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                const bool expected = (i % 2) == 0;
                const std::string name = expected ? "TMP" + std::to_string(10 + (i + t) % 90) + ".dat" : "tmp1.dat";
                if (expression.Matches(name) != expected) ++wrong;
            }
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(wrong.load(), 0);
}

// ---- element tree ----------------------------------------------------------

TEST_F(Database, ElementTreeAndDefaults) {
    CacheClean cache;
    ASSERT_TRUE(LoadDatabase(cache));
    // "fa" children it does not know are named on standard output; text has no name.
    EXPECT_EQ(printed, "name:zzname:empty node\n");
    EXPECT_EQ(errors, "Invalid number: x\n");

    // Groups: the first "hz" only, "cb" 12 skipped, an absent "cb" is -1.
    const auto& groups = cache.groups.groups;
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0]->cb.Get(), 3u);
    EXPECT_EQ(groups[0]->aw.Get(), "Caches");
    EXPECT_EQ(groups[0]->nr.Get(), "n1");
    EXPECT_TRUE(groups[0]->an.Get());
    EXPECT_EQ(groups[1]->cb.Get(), 0xFFFFFFFFu);
    EXPECT_FALSE(groups[1]->cb.present);
    EXPECT_FALSE(groups[1]->an.Get());
    EXPECT_FALSE(groups[1]->an.present);
    EXPECT_EQ(groups[2]->cb.Get(), 7u);
    for (const auto& group : groups) {
        EXPECT_EQ(group->parent, &cache.groups);
        EXPECT_EQ(group->kind, kKindGroup);
    }
    EXPECT_EQ(cache.groups.parent, &cache);

    // Entries: the first "gd" only; a repeated id replaces the earlier one in the lookup.
    ASSERT_EQ(groups[0]->ownedEntries.size(), 2u);
    EXPECT_EQ(groups[0]->entries.size(), 2u);
    const SoftShort& browser = *groups[0]->entries.at(100);
    EXPECT_EQ(browser.sv.Get(), "Browser");
    EXPECT_TRUE(browser.vc.Get());
    EXPECT_FALSE(groups[0]->entries.at(200)->vc.Get());
    EXPECT_EQ(browser.parent, groups[0].get());
    EXPECT_EQ(browser.kind, kKindSoftShort);
    ASSERT_EQ(groups[2]->ownedEntries.size(), 2u);
    ASSERT_EQ(groups[2]->entries.size(), 1u);
    EXPECT_EQ(groups[2]->entries.at(200)->sv.Get(), "Editor, later");

    // Details: the first "op" only.
    ASSERT_EQ(cache.details.size(), 3u);
    const SoftDetail& detail = *cache.details[0];
    EXPECT_EQ(detail.parent, &cache);
    EXPECT_EQ(detail.ka.Get(), SoftDetail::kParallelKind);
    EXPECT_EQ(detail.gp.Get(), 100u);
    EXPECT_EQ(detail.zi.Get(), 4u);
    EXPECT_EQ(detail.sv.Get(), "Browser cache");
    EXPECT_FALSE(detail.xn.Get());
    EXPECT_TRUE(detail.lq.Get());
    EXPECT_TRUE(detail.qm.Get());
    const SoftDetail& bare = *cache.details[1];
    EXPECT_TRUE(bare.xn.Get());
    EXPECT_FALSE(bare.xn.present);
    EXPECT_FALSE(bare.lq.Get());
    EXPECT_FALSE(bare.qm.Get());
    EXPECT_EQ(bare.zi.Get(), 0xFFFFFFFFu);
    EXPECT_EQ(bare.ka.Get(), 0xFFFFFFFFu);
    EXPECT_TRUE(bare.blocks.empty());

    // Blocks in order, with their items, folder and record rules.
    ASSERT_EQ(detail.blocks.size(), 2u);
    const OS& block = *detail.blocks[0];
    EXPECT_EQ(block.parent, &detail);
    EXPECT_EQ(block.sv.Get(), "block");
    EXPECT_EQ(std::set<std::uint32_t>(block.ar.ids.begin(), block.ar.ids.end()), (std::set<std::uint32_t>{3, 7}));
    EXPECT_EQ(block.qh.Get(), 2u);
    EXPECT_EQ(block.mappings.size(), 1u);
    EXPECT_EQ(block.mappings[0]->parent, &block);
    EXPECT_TRUE(detail.blocks[1]->items.empty());
    ASSERT_EQ(block.items.size(), 2u);

    const Execute& item = *block.items[0];
    EXPECT_EQ(item.parent, &block);
    EXPECT_EQ(item.kind, kKindExecute);
    EXPECT_EQ(item.hd.Get(), 21u);
    EXPECT_EQ(item.qh.Get(), 5u);
    EXPECT_EQ(item.tx.Get(), 6u);
    EXPECT_EQ(item.sv.Get(), "Cache");
    ASSERT_EQ(item.folders.size(), 1u);
    ASSERT_EQ(item.records.size(), 1u);
    EXPECT_EQ(item.folders[0]->parent, &item);
    EXPECT_EQ(item.records[0]->parent, &item);
    EXPECT_FALSE(item.folders[0]->listFiles);
    EXPECT_FALSE(item.records[0]->listFiles);

    // An item shown under 11 or 13 lists the files of every rule it holds.
    const Execute& listed = *block.items[1];
    EXPECT_EQ(listed.hd.Get(), 0xFFFFFFFFu);
    ASSERT_EQ(listed.folders.size(), 2u);
    ASSERT_EQ(listed.records.size(), 1u);
    EXPECT_TRUE(listed.folders[0]->listFiles);
    EXPECT_TRUE(listed.folders[1]->listFiles);
    EXPECT_TRUE(listed.records[0]->listFiles);

    // The leftover rule keeps its four lists and skips what it does not know.
    ASSERT_EQ(detail.leftovers.size(), 1u);
    const UnsResidualRule& leftover = *detail.leftovers[0];
    EXPECT_EQ(leftover.parent, &detail);
    EXPECT_EQ(leftover.kind, kKindUnsResidualRule);
    ASSERT_EQ(leftover.processes.size(), 1u);
    EXPECT_EQ(leftover.processes[0]->sv.Get(), "browser.exe");
    EXPECT_EQ(leftover.installs.size(), 1u);
    EXPECT_EQ(leftover.registryLeftovers.size(), 1u);
    ASSERT_EQ(leftover.blocks.size(), 1u);
    EXPECT_EQ(leftover.blocks[0]->parent, &leftover);
    ASSERT_EQ(leftover.blocks[0]->items.size(), 1u);
    EXPECT_EQ(leftover.blocks[0]->items[0]->OwningDetail(), &detail);
    EXPECT_EQ(item.OwningDetail(), &detail);
}

TEST_F(Database, DetailsLinkToEntriesInEveryGroup) {
    CacheClean cache;
    ASSERT_TRUE(LoadDatabase(cache));
    const auto& groups = cache.groups.groups;
    const SoftDetail* browser = cache.details[0].get();
    const SoftDetail* editor = cache.details[1].get();
    const SoftDetail* orphan = cache.details[2].get();

    // One detail, entries in two groups, in group order.
    EXPECT_EQ(browser->entries, (std::vector<SoftShort*>{groups[0]->entries.at(100), groups[1]->entries.at(100)}));
    EXPECT_EQ(groups[0]->entries.at(100)->details, (std::vector<SoftDetail*>{const_cast<SoftDetail*>(browser)}));
    EXPECT_EQ(groups[1]->entries.at(100)->details, (std::vector<SoftDetail*>{const_cast<SoftDetail*>(browser)}));

    // The replaced entry of group 3 gets nothing; the one in the lookup does.
    EXPECT_EQ(editor->entries, (std::vector<SoftShort*>{groups[0]->entries.at(200), groups[2]->entries.at(200)}));
    EXPECT_TRUE(groups[2]->ownedEntries[0]->details.empty());

    // A detail whose program is in no group is kept, linked to nothing.
    EXPECT_TRUE(orphan->entries.empty());
    ASSERT_EQ(orphan->blocks.size(), 1u);
}

TEST_F(Database, PlainAndScrambledFilesLoadTheSame) {
    CacheClean plain, scrambled;
    ASSERT_TRUE(LoadDatabase(plain, false));
    EXPECT_FALSE(g_dataScrambled);
    ASSERT_TRUE(LoadDatabase(scrambled, true));
    EXPECT_TRUE(g_dataScrambled);
    EXPECT_FALSE(Dump(plain).empty());
    EXPECT_EQ(Dump(plain), Dump(scrambled));
}

TEST_F(Database, ReloadingReplacesTheTree) {
    CacheClean cache;
    ASSERT_TRUE(LoadDatabase(cache));
    const std::string first = Dump(cache);
    ASSERT_TRUE(LoadDatabase(cache));
    EXPECT_EQ(Dump(cache), first);
}

TEST_F(Database, BrokenFilesLeaveAnEmptyTree) {
    const std::string good = "<wu><hz><g cb='3'><gd><p ka='1'/></gd></g></hz><op><d gp='1'/></op></wu>";
    std::string wrongKey;
    {
        // The right container with another key byte: every byte decodes
        // with its top bit flipped, so no markup survives.
        const std::uint8_t mask[4] = {1, 2, 3, 4};
        std::vector<std::uint8_t> bytes = Scramble(Bytes(good), mask, 0x10);
        bytes.back() ^= 0x80;
        wrongKey = Text(bytes);
    }
    struct Case {
        const char* what;
        std::string bytes;  // "" with missing: no file at all
        bool scrambled;
        bool missing;
    } cases[] = {
        {"missing", "", false, true},
        {"missing scrambled", "", true, true},
        {"empty", "", false, false},
        {"truncated", good.substr(0, good.size() / 2), false, false},
        {"not XML", "just some text", false, false},
        {"binary", std::string("\x00\xFF\x13\x37<\x01", 6), false, false},
        {"another root", "<other><hz><g cb='3'/></hz></other>", false, false},
        {"scrambled, too short", "<wu", true, false},
        {"scrambled, wrong key", wrongKey, true, false},
        {"plain text read as scrambled", good, true, false},
    };
    for (const Case& c : cases) {
        CacheClean cache;
        ASSERT_TRUE(cache.Load(Write(L"good.xml", good), false));
        ASSERT_EQ(cache.details.size(), 1u);
        const std::wstring path = dir / L"broken.dat";
        std::filesystem::remove(std::filesystem::path(path));
        if (!c.missing) WriteFile(path, Bytes(c.bytes));
        EXPECT_FALSE(cache.Load(path, c.scrambled)) << c.what;
        EXPECT_TRUE(cache.groups.groups.empty()) << c.what;
        EXPECT_TRUE(cache.details.empty()) << c.what;
    }
}

TEST_F(Database, MissingPartsAndUnknownElementsAreNotErrors) {
    struct Case {
        const char* xml;
        std::size_t groups;
        std::size_t details;
    } cases[] = {
        {"<wu/>", 0, 0},
        {"<wu><hz/></wu>", 0, 0},
        {"<wu><op><d/></op></wu>", 0, 1},
        {"<wu><xx/><hz><g/><g cb='12'/></hz><yy><d/></yy></wu>", 1, 0},
        {"<?xml version='1.0'?><!-- c --><wu><hz><g cb='abc'/></hz></wu>", 1, 0},
    };
    for (const Case& c : cases) {
        CacheClean cache;
        EXPECT_TRUE(cache.Load(Write(L"rules.xml", c.xml), false)) << c.xml;
        EXPECT_EQ(cache.groups.groups.size(), c.groups) << c.xml;
        EXPECT_EQ(cache.details.size(), c.details) << c.xml;
    }
}

TEST_F(Database, RelativePathIsFoundBesideTheProgram) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::wstring name = L"clean-rules-" + std::to_wstring(stamp) + L".xml";
    const std::wstring beside = File::Directory(L"") + fendrel::kPathSep + name;
    WriteFile(beside, Bytes("<wu><op><d gp='5'/></op></wu>"));
    CacheClean cache;
    const bool loaded = cache.Load(name, false);
    std::filesystem::remove(std::filesystem::path(beside));
    ASSERT_TRUE(loaded);
    ASSERT_EQ(cache.details.size(), 1u);
    EXPECT_EQ(cache.details[0]->gp.Get(), 5u);
}

TEST_F(Database, LoadAsyncThenWait) {
    CacheClean cache;
    EXPECT_FALSE(cache.WaitLoaded(std::chrono::milliseconds(0)));  // never started

    const std::string good = "<wu><hz><g cb='3'><gd><p ka='1'/></gd></g></hz><op><d gp='1'/><d/></op></wu>";
    cache.LoadAsync(Write(L"rules.xml", good), false);
    EXPECT_TRUE(cache.WaitLoaded(std::chrono::milliseconds(5000)));
    ASSERT_EQ(cache.details.size(), 2u);
    EXPECT_EQ(cache.details[0]->entries.size(), 1u);

    // A finished load makes room for the next one.
    cache.LoadAsync(dir / L"missing.xml", false);
    EXPECT_FALSE(cache.WaitLoaded(std::chrono::milliseconds(5000)));
    EXPECT_TRUE(cache.details.empty());
}

TEST_F(Database, OneLoadAtATime) {
    std::string big = "<wu><op>";
    for (int i = 0; i < 20000; ++i) big += "<d gp='" + std::to_string(i) + "'><dx><fa ar='3'/></dx></d>";
    big += "</op></wu>";
    const std::wstring bigPath = Write(L"big.xml", big);
    const std::wstring smallPath = Write(L"small.xml", "<wu><op><d/></op></wu>");
    {
        CacheClean cache;
        cache.LoadAsync(bigPath, false);
        cache.LoadAsync(smallPath, false);  // the first still builds the tree: ignored
        ASSERT_TRUE(cache.WaitLoaded(std::chrono::milliseconds(20000)));
        EXPECT_EQ(cache.details.size(), 20000u);
    }
    // Going away while a load runs waits for it rather than pulling the tree
    // from under it.
    CacheClean cache;
    cache.LoadAsync(bigPath, false);
}

}  // namespace
