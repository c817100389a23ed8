// Registry conditions, install checks, the configuration-file sources and
// the resolution order of a detection block. The registry is the Linux
// store written by the test, or the real registry on Windows (keys made by
// the test under a unique name and removed afterwards).
#include "trova/clean/cacheclean.h"
#include "trova/clean/softs.h"

#include "fendrel/registry.h"

#include "rule_test_helpers.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#endif

namespace {

using ruletest::Native;
using ruletest::kSep;
namespace fs = std::filesystem;

template <typename T>
std::unique_ptr<T> ReadXml(const std::string& xml, Trova::BaseObject* parent = nullptr) {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_string(xml.c_str())) << xml;
    auto object = std::make_unique<T>(parent);
    object->Read(document.first_child());
    return object;
}

// "'" inside rule attributes written by the tests.
std::string Attr(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\'' ? std::string("&apos;") : c == '&' ? std::string("&amp;") : std::string(1, c);
    return out;
}

// Registry keys for one test under HKEY_xxx\Software\<unique name>.
class RegistryFixture {
public:
    RegistryFixture() : m_top("Software\\" + ruletest::UniqueName("CleanSoftsTest")) {}
    ~RegistryFixture() {
#if defined(_WIN32)
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
                const std::wstring top = Utils::AnsiToUtf16(m_top);
                HKEY key = nullptr;
                if (RegOpenKeyExW(root, top.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
                    RegDeleteTreeW(key, nullptr);
                    RegCloseKey(key);
                    RegDeleteKeyExW(root, top.c_str(), view, 0);
                }
            }
        }
#else
        Registry::SetStore(L"");
#endif
    }
    RegistryFixture(const RegistryFixture&) = delete;
    RegistryFixture& operator=(const RegistryFixture&) = delete;

    // "Software\<unique>" + "\" + relative.
    std::string Key(const std::string& relative) const { return m_top + "\\" + relative; }

    // A text value in one view; Bit32 under HKLM\Software is its WOW6432Node branch.
    void Set(HKEY root, const std::string& relative, const std::string& name, const std::string& data,
             RegistryView view = RegistryView::Default) {
#if defined(_WIN32)
        const REGSAM flag = view == RegistryView::Bit32 ? KEY_WOW64_32KEY
                            : view == RegistryView::Bit64 ? KEY_WOW64_64KEY
                                                          : 0;
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, Utils::AnsiToUtf16(Key(relative)).c_str(), 0, nullptr, 0,
                                                 KEY_WRITE | flag, nullptr, &key, nullptr));
        const std::wstring wide = Utils::AnsiToUtf16(data);
        RegSetValueExW(key, Utils::AnsiToUtf16(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
#else
        std::string path = Key(relative);
        if (root == HKEY_LOCAL_MACHINE && view == RegistryView::Bit32)
            path.insert(std::string("Software\\").size(), "WOW6432Node\\");
        m_text += "\r\n[" + std::string(root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER") +
                  "\\" + path + "]\r\n" + Quote(name) + "=" + Quote(data) + "\r\n";
#endif
    }

    // Makes the values visible to registry reads.
    void Commit() {
#if !defined(_WIN32)
        testutil::WriteBytes(m_dir.path() / "store.reg", "Windows Registry Editor Version 5.00\r\n" + m_text);
        ASSERT_TRUE(Registry::SetStore((m_dir.path() / "store.reg").wstring()));
#endif
    }

private:
#if !defined(_WIN32)
    static std::string Quote(const std::string& text) {
        std::string out = "\"";
        for (char c : text) {
            if (c == '\\' || c == '"')
                out += '\\';
            out += c;
        }
        return out + "\"";
    }
    testutil::TempDir m_dir;
    std::string m_text;
#endif
    std::string m_top;
};

TEST(LevelsUpTest, CutsAtThePlatformSeparator) {
    const char other = kSep == '/' ? '\\' : '/';
    const struct {
        std::string text;
        std::uint32_t levels;
        std::string expected;
    } cases[] = {
        {Native("C:/a/b/c.exe"), 0, Native("C:/a/b/c.exe")},
        {Native("C:/a/b/c.exe"), 1, Native("C:/a/b")},
        {Native("C:/a/b/c.exe"), 2, Native("C:/a")},
        {Native("C:/a/b"), 3, Native("C:/a/b")},  // only two separators: kept
        {Native("/opt/app"), 2, ""},              // cut at the leading separator
        {Native("/opt/app"), 3, Native("/opt/app")},
        {Native("C:/a/"), 1, Native("C:/a")},
        {"name", 1, "name"},
        {"", 1, ""},
        {std::string("a") + other + "b" + other + "c", 1, std::string("a") + other + "b" + other + "c"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Trova::LevelsUp(c.text, c.levels)) << c.text << " up " << c.levels;
}

class RegInfoTest : public ::testing::Test {
protected:
    std::string Resolve(const std::string& keyPath, const std::string& value, std::uint32_t levels = 0) {
        auto info = ReadXml<Trova::RegInfo>("<es sv='X' gb='" + Attr(keyPath) + "' yf='" + Attr(value) + "' kv='" +
                                            std::to_string(levels) + "'/>");
        return info->Resolve();
    }
    RegistryFixture reg;
};

TEST_F(RegInfoTest, CleansValuesIntoPaths) {
    const std::string exe = Native("C:/Program Files/App/app.exe");
    const std::string longValue = Native("C:/") + std::string(600, 'L');
    reg.Set(HKEY_CURRENT_USER, "Quoted", "DisplayIcon", "\"" + exe + "\",0");
    reg.Set(HKEY_CURRENT_USER, "Plain", "DisplayIcon", exe + ",0");
    reg.Set(HKEY_CURRENT_USER, "Plain", "InstallLocation", "\"" + Native("C:/Program Files/App") + "\"");
    reg.Set(HKEY_CURRENT_USER, "Plain", "Other", Native("C:/a,b"));
    reg.Set(HKEY_CURRENT_USER, "Plain", "Shallow", Native("C:/a/b"));
    reg.Set(HKEY_CURRENT_USER, "Plain", "Long", longValue);
    reg.Set(HKEY_CURRENT_USER, "Plain", "Quote", "\"");
    reg.Commit();

    const std::string hkcu = "HKCU\\" + reg.Key("");
    const struct {
        std::string key;
        std::string value;
        std::uint32_t levels;
        std::string expected;
    } cases[] = {
        // First and last characters differ: the quotes stay, the icon index goes.
        {"Quoted", "DisplayIcon", 0, "\"" + exe + "\""},
        {"Plain", "DisplayIcon", 0, exe},
        {"Plain", "DisplayIcon", 1, Native("C:/Program Files/App")},
        {"Plain", "InstallLocation", 0, Native("C:/Program Files/App")},
        {"Plain", "Other", 0, Native("C:/a,b")},  // the comma cut is for DisplayIcon only
        {"Plain", "Shallow", 3, Native("C:/a/b")},
        {"Plain", "Long", 0, longValue},
        {"Plain", "Quote", 0, ""},
        {"Plain", "Missing", 0, ""},
        {"NoSuchKey", "DisplayIcon", 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Resolve(hkcu + c.key, c.value, c.levels)) << c.key << " " << c.value;
}

TEST_F(RegInfoTest, RootNamesAreExactAndUnknownOnesMeanLocalMachine) {
    reg.Set(HKEY_CURRENT_USER, "App", "Where", "user");
    reg.Set(HKEY_LOCAL_MACHINE, "App", "Where", "machine", RegistryView::Bit64);
    reg.Commit();
    const std::string subkey = reg.Key("App");
    ruletest::LogCapture log;
    EXPECT_EQ("user", Resolve("HKCU\\" + subkey, "Where"));
    EXPECT_EQ("user", Resolve("HKEY_CURRENT_USER\\" + subkey, "Where"));
    EXPECT_EQ("machine", Resolve("HKEY_LOCAL_MACHINE\\" + subkey, "Where"));
    EXPECT_EQ(0, log.Count("error", "Invalid root key"));
    // Each unknown root is logged on each read (two views here) and read from HKLM.
    EXPECT_EQ("machine", Resolve("hkcu\\" + subkey, "Where"));
    EXPECT_EQ("machine", Resolve("HKEY_CURRENT_USEr\\" + subkey, "Where"));
    EXPECT_EQ(4, log.Count("error", "Invalid root key"));
}

// HKLM\Software has a 32-bit branch (WOW6432Node); the 32-bit view is read
// first, the 64-bit one only when it gives nothing, and a key path naming
// the branch itself is read as written.
TEST_F(RegInfoTest, ViewOrder) {
    reg.Set(HKEY_LOCAL_MACHINE, "Both", "Dir", "from32", RegistryView::Bit32);
    reg.Set(HKEY_LOCAL_MACHINE, "Both", "Dir", "from64", RegistryView::Bit64);
    reg.Set(HKEY_LOCAL_MACHINE, "Only64", "Dir", "only64", RegistryView::Bit64);
    reg.Set(HKEY_LOCAL_MACHINE, "Only32", "Dir", "only32", RegistryView::Bit32);
    reg.Commit();
    const std::string machine = "HKEY_LOCAL_MACHINE\\";
    const std::string branch = machine + "Software\\WOW6432Node\\" + reg.Key("").substr(std::string("Software\\").size());
    EXPECT_EQ("from32", Resolve(machine + reg.Key("Both"), "Dir"));
    EXPECT_EQ("only64", Resolve(machine + reg.Key("Only64"), "Dir"));
    EXPECT_EQ("only32", Resolve(machine + reg.Key("Only32"), "Dir"));
    EXPECT_EQ("from32", Resolve(branch + "Both", "Dir"));
    EXPECT_EQ("", Resolve(branch + "Only64", "Dir"));
}

TEST_F(RegInfoTest, InstallCheckNeedsAnExistingPath) {
    testutil::TempDir dir;
    const std::string present = ruletest::Narrow(dir);
    reg.Set(HKEY_CURRENT_USER, "App", "Gone", present + kSep + "uninstalled");
    reg.Set(HKEY_CURRENT_USER, "App", "Here", present);
    reg.Set(HKEY_CURRENT_USER, "App", "DisplayIcon", present + kSep + "app.exe,0");
    reg.Commit();
    testutil::WriteBytes(dir.path() / "app.exe", "MZ");
    const std::string key = Attr("HKCU\\" + reg.Key("App"));

    ruletest::LogCapture log;
    auto install = ReadXml<Trova::Install>("<hw><es gb='" + key + "' yf='Gone'/><zz/><xi gb='" + key +
                                           "' yf='Here'/></hw>");
    EXPECT_EQ(2u, install->conditions.size());
    EXPECT_EQ(1, log.Count("info", "unexpected"));
    EXPECT_TRUE(install->IsInstalled());

    EXPECT_FALSE(ReadXml<Trova::Install>("<hw><es gb='" + key + "' yf='Gone'/><es gb='" + key +
                                         "' yf='Missing'/></hw>")
                     ->IsInstalled());
    EXPECT_TRUE(ReadXml<Trova::Install>("<hw><xi gb='" + key + "' yf='DisplayIcon'/></hw>")->IsInstalled());
    EXPECT_FALSE(ReadXml<Trova::Install>("<hw/>")->IsInstalled());
}

// The configuration-file sources, each over its own small files.
class SourceTest : public ::testing::Test {
protected:
    void SetUp() override { root = ruletest::Narrow(dir); }
    std::string In(const std::string& relative) const { return root + kSep + Native(relative); }
    void Write(const std::string& relative, const std::string& text) {
        const fs::path path(Utils::AnsiToUtf16(In(relative)));
        fs::create_directories(path.parent_path());
        testutil::WriteBytes(path, text);
    }

    testutil::TempDir dir;
    std::string root;
};

TEST_F(SourceTest, IniTakesTheFirstFileWithTheKey) {
    Write("one/cfg.ini", "[Paths]\r\nOther=1\r\n");
    Write("two/cfg.ini", "[Paths]\r\nData=" + In("x/y/z") + "\r\n");
    Write("three/cfg.ini", "[Other]\r\nData=wrong section\r\n");
    auto ini = ReadXml<Trova::IniConfig>("<fw sv='D' ms='Paths' fv='Data' kv='1' av='" + Attr(In("%enum%/cfg.ini")) +
                                         "'/>");
    EXPECT_EQ(In("x/y"), ini->Evaluate());
    auto missing = ReadXml<Trova::IniConfig>("<fw sv='D' ms='Paths' fv='Nope' av='" + Attr(In("%enum%/cfg.ini")) +
                                             "'/>");
    EXPECT_EQ("", missing->Evaluate());
}

TEST_F(SourceTest, JsonWalksObjectsOnly) {
    const struct {
        const char* document;
        const char* path;
        const char* expected;
    } cases[] = {
        {R"({"a":{"b":"text"}})", "a\\b", "text"},
        {R"({"a":5})", "a\\b", ""},  // a number on the way: nothing, no exception
        {R"({"a":"s"})", "a\\b", ""},
        {R"({"a":{"b":7}})", "a\\b", "7"},
        {R"({"a":{"b":true}})", "a\\b", "true"},
        {R"({"a":{"b":{"c":1}}})", "a\\b", ""},  // objects and arrays are no text
        {R"({"a":{"b":[1,2]}})", "a\\b", ""},
        {R"({"a":{"b":null}})", "a\\b", ""},
        {R"({"a":{"B":"case"}})", "a\\b", ""},
        {R"([{"a":1}])", "a", ""},
        {R"({"a":{"b":"x"})", "a\\b", ""},  // does not parse
        {R"({"a":{"":{"b":"empty name"}}})", "a\\\\b", "empty name"},
    };
    for (const auto& c : cases) {
        Write("settings.json", c.document);
        auto json = ReadXml<Trova::JsonConfig>("<pf sv='J' zg='" + Attr(c.path) + "' av='" +
                                               Attr(In("settings.json")) + "'/>");
        EXPECT_EQ(c.expected, json->Evaluate()) << c.document;
    }
    // A candidate that does not parse is skipped for the next one.
    Write("p/one/s.json", "{broken");
    Write("p/two/s.json", R"({"dir":"found"})");
    EXPECT_EQ("found", ReadXml<Trova::JsonConfig>("<pf sv='J' zg='dir' av='" + Attr(In("p/%enum%/s.json")) + "'/>")
                           ->Evaluate());
}

TEST_F(SourceTest, XmlTakesAnAttributeOfTheFirstElements) {
    const struct {
        std::string document;
        const char* path;
        const char* attribute;
        const char* extra;  // more rule attributes
        std::string expected;
    } cases[] = {
        {"<r><s v='one'/><s v='two'/></r>", "r\\s", "v", "", "one"},
        {"<r><t/><s><u v='deep'/></s></r>", "r\\s\\u", "v", "", "deep"},
        {"<r><s v='one'/></r>", "r\\s", "w", "", ""},
        {"<r><s v='one'/></r>", "r\\x", "v", "", ""},
        {"<r><s v='one'/></r>", "r\\s", "v", "ub='0'", ""},  // the element is there, its value is not wanted
        {"<r><s v='one'/></r>", "r\\s", "v", "ub='1'", "one"},
        {"<r><s v='" + Native("C:/a/b") + "'/></r>", "r\\s", "v", "kv='1'", Native("C:/a")},
        {"<r><s v='one'/>", "r\\s", "v", "", ""},  // does not parse
    };
    for (const auto& c : cases) {
        Write("settings.xml", c.document);
        auto xml = ReadXml<Trova::XmlConfig>("<fx sv='X' zg='" + Attr(c.path) + "' lc='" + c.attribute + "' " +
                                             c.extra + " av='" + Attr(In("settings.xml")) + "'/>");
        EXPECT_EQ(c.expected, xml->Evaluate()) << c.document << " " << c.extra;
    }
}

TEST_F(SourceTest, DatabaseValuesWithLevelsUp) {
    ruletest::MakeDatabase(In("app.db"), "CREATE TABLE t(p TEXT, q TEXT);"
                                         "INSERT INTO t VALUES(NULL, 'a');"
                                         "INSERT INTO t VALUES(" + ruletest::SqlText(In("data/cache/x")) + ", 'b');"
                                         "INSERT INTO t VALUES(" + ruletest::SqlText(In("second/y")) + ", 'c');");
    const std::string av = " av='" + Attr(In("app.db")) + "'";
    auto one = ReadXml<Trova::DbConfig>("<zp sv='D' kv='1' zl='SELECT p FROM t'" + av + "/>");
    EXPECT_EQ((std::vector<std::string>{In("data/cache"), In("second")}), one->Evaluate());

    ruletest::LogCapture log;
    auto two = ReadXml<Trova::DbConfig>("<zp sv='D' zl='SELECT p, q FROM t'" + av + "/>");
    EXPECT_TRUE(two->Evaluate().empty());
    EXPECT_EQ(3, log.Count("info", "sql error"));  // once per row
    EXPECT_TRUE(ReadXml<Trova::DbConfig>("<zp sv='D' zl='SELECT nothing FROM nowhere'" + av + "/>")->Evaluate().empty());

    // The database path is expanded like the other sources' paths.
    auto expanded = ReadXml<Trova::DbConfig>("<zp sv='D' zl='SELECT q FROM t' av='" + Attr(In("<APP\\.DB>")) + "'/>");
    EXPECT_TRUE(expanded->Evaluate().empty());  // folder patterns name folders, not files
    fs::create_directories(dir.path() / "profile");
    fs::copy_file(dir.path() / "app.db", dir.path() / "profile" / "app.db");
    expanded = ReadXml<Trova::DbConfig>("<zp sv='D' zl='SELECT q FROM t' av='" + Attr(In("%enum%/app.db")) + "'/>");
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), expanded->Evaluate());
}

// Resolution order: registry, INI, JSON, XML, database, script, whatever the
// order in the rule file. Each row silences the kinds before one.
class MappingTest : public SourceTest {
protected:
    void SetUp() override {
        SourceTest::SetUp();
        reg.Set(HKEY_CURRENT_USER, "App", "Dir", "from registry");
        reg.Commit();
        Write("cfg.ini", "[s]\r\nk=from ini\r\n");
        Write("cfg.json", R"({"k":"from json"})");
        Write("cfg.xml", "<s k='from xml'/>");
        ruletest::MakeDatabase(In("cfg.db"), "CREATE TABLE t(v TEXT); INSERT INTO t VALUES('from db');");
    }

    // A block whose sources all define name; those before `first` point at nothing.
    std::string Block(const std::string& name, int first) {
        auto file = [&](int kind, const char* existing) { return Attr(In(kind < first ? "missing" : existing)); };
        return "<fb>"
               "<wy sv='" + name + "' uk='" + (first <= 5 ? script.Name() : std::string("missing.lua")) + "'/>"
               "<zp sv='" + name + "' zl='SELECT v FROM t' av='" + file(4, "cfg.db") + "'/>"
               "<fx sv='" + name + "' zg='s' lc='k' av='" + file(3, "cfg.xml") + "'/>"
               "<pf sv='" + name + "' zg='k' av='" + file(2, "cfg.json") + "'/>"
               "<fw sv='" + name + "' ms='s' fv='k' av='" + file(1, "cfg.ini") + "'/>"
               "<es sv='" + name + "' gb='" + Attr("HKCU\\" + reg.Key("App")) + "' yf='" +
               (first == 0 ? "Dir" : "NoValue") + "'/>"
               "</fb>";
    }

    RegistryFixture reg;
    ruletest::ProgramFile script{"mapping-test.lua", "return 'from script'"};
};

TEST_F(MappingTest, FirstNonEmptySourceInKindOrder) {
    const char* expected[] = {"from registry", "from ini", "from json", "from xml", "from db", "from script"};
    for (int first = 0; first <= 6; ++first) {
        auto mapping = ReadXml<Trova::Mapping>(Block("Loc", first));
        std::string value = "untouched";
        if (first < 6) {
            EXPECT_TRUE(mapping->Resolve("Loc", value)) << first;
            EXPECT_EQ(expected[first], value);
        } else {
            EXPECT_FALSE(mapping->Resolve("Loc", value));
            EXPECT_EQ("untouched", value);
        }
        EXPECT_FALSE(mapping->Resolve("loc", value));  // names are exact
    }
}

TEST_F(MappingTest, SourcesThatNeedTheirOwnNameYieldNothing) {
    Trova::OS block(nullptr);
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(("<fb>"
                                      "<fw sv='Self' ms='s' fv='k' av='%Self%" + std::string(1, kSep) + "cfg.ini'/>"
                                      "<fx sv='A' zg='s' lc='k' av='%B%" + std::string(1, kSep) + "cfg.xml'/>"
                                      "<pf sv='B' zg='k' av='%A%" + std::string(1, kSep) + "cfg.json'/>"
                                      "<pf sv='Root' zg='k' av='%Dir%" + std::string(1, kSep) + "cfg.json'/>"
                                      "<fx sv='Dir' zg='s' lc='d' av='" + Attr(In("dir.xml")) + "'/>"
                                      "</fb>").c_str()));
    Write("dir.xml", "<s d='" + root + "'/>");
    block.mappings.push_back(std::make_unique<Trova::Mapping>(&block));
    block.mappings.back()->Read(document.child("fb"));
    std::string value;
    EXPECT_FALSE(block.mappings[0]->Resolve("Self", value));
    EXPECT_FALSE(block.mappings[0]->Resolve("A", value));
    // A path built from another name of the same block is fine.
    EXPECT_TRUE(block.mappings[0]->Resolve("Root", value));
    EXPECT_EQ("from json", value);
}

TEST_F(MappingTest, ResolvesFromSeveralThreadsAtOnce) {
    ruletest::DatabaseLock lock(In("cfg.db"));
    ASSERT_TRUE(lock.Locked());
    auto mapping = ReadXml<Trova::Mapping>(Block("Loc", 4));  // the locked database answers
    std::vector<std::string> values(4);
    std::vector<std::thread> threads;
    for (auto& value : values)
        threads.emplace_back([&mapping, &value] { mapping->Resolve("Loc", value); });
    for (auto& thread : threads)
        thread.join();
    for (const auto& value : values)
        EXPECT_EQ("from db", value);
}

}  // namespace
