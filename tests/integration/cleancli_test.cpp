// The command-line tool over real fixture trees: whole scans with their
// reports, cleaning requests as the page sends them, the recycle bin, and
// the command-line faults.
#include "trova/clean/cachecleancbk.h"
#include "trova/clean/scrambled.h"

#include "toolrun.h"
#include "unit/trova/rule_test_helpers.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using ruletest::kSep;

const char* const kCodes[] = {"zh", "en", "de", "fr", "es", "pt", "ru", "it"};

class CleanCli : public ::testing::Test {
protected:
    void SetUp() override {
        root = ruletest::Narrow(dir);
        File("browser/cache/a.tmp", 1000);
        File("browser/cache/b.tmp", 200);
        File("browser/cache/sub/c.tmp", 300);
        File("browser/cache/keep.dat", 5000);  // filtered out
        File("browser/logs/x.log", 50);
        File("editor/cache/e.bin", 700);
        File("chat/r1.bin", 10);
        File("chat/r2.bin", 20);
        ruletest::MakeDatabase(At("chat/db.sqlite"),
                               "create table files(path text);"
                               "insert into files values(" + ruletest::SqlText(At("chat/r1.bin")) + ");"
                               "insert into files values(" + ruletest::SqlText(At("chat/r2.bin")) + ");"
                               "insert into files values(" + ruletest::SqlText(At("chat/gone.bin")) + ");");
        rules = R"(<wu><hz>
  <g cb="3" aw="Junk"><gd><p ka="100" sv="Browser"/></gd></g>
  <g cb="6" aw="Recycle bin"><gd><p ka="61000088" sv="Recycle bin"/></gd></g>
  <g cb="7" aw="Editors"><gd><p ka="200" sv="Editor"/></gd></g>
  <g cb="11" aw="Logs"><gd><p ka="100" sv="Browser"/></gd></g>
  <g cb="13" aw="Records"><gd><p ka="300" sv="Chat"/></gd></g>
</hz><op>
  <d gp="100" lq="1"><dx>
    <fa ar="3" hd="1" sv="Cache"><vg uk=')" + At("browser/cache") + R"(' od="*.tmp"/></fa>
    <fa ar="3;11" hd="2" sv="Logs"><vg uk=')" + At("browser/logs") + R"('/></fa></dx></d>
  <d gp="200"><dx><fa ar="7" hd="4" sv="Editor cache"><vg uk=')" + At("editor/cache") + R"('/></fa></dx></d>
  <d gp="300" lq="1"><dx><fa ar="13" hd="5" sv="History">
    <mm av=')" + At("chat/db.sqlite") + R"(' zl="select path from files"/></fa></dx></d>
</op></wu>)";
        rulesPath = dir / L"rules.xml";
        testutil::WriteBytes(rulesPath, rules);
    }

    std::string At(const std::string& relative) const { return root + kSep + ruletest::Native(relative); }

    void File(const std::string& relative, std::size_t bytes) {
        const fs::path path = fs::path(At(relative));
        fs::create_directories(path.parent_path());
        testutil::WriteBytes(path, std::string(bytes, 'x'));
    }

    static Json::Value ParseReport(const toolrun::Result& run) {
        Json::Value report;
        Json::CharReaderBuilder builder;
        std::string errors;
        std::istringstream in(run.out);
        EXPECT_TRUE(Json::parseFromStream(builder, in, &report, &errors)) << errors << "\n" << run.out << run.err;
        return report;
    }

    // "id size selected" of every group, program and item, in report order.
    static std::vector<std::string> Flow(const Json::Value& report) {
        std::vector<std::string> flow;
        auto line = [&](const char* kind, const Json::Value& node) {
            flow.push_back(std::string(kind) + " " + node["name"].asString() + " " + node["id"].asString() + " " +
                           node["size"].asString() + " " + node["selected"].asString());
        };
        for (const Json::Value& group : report["groups"]) {
            line("group", group);
            for (const Json::Value& program : group["programs"]) {
                line("program", program);
                for (const Json::Value& item : program["items"])
                    line("item", item);
            }
        }
        return flow;
    }

    testutil::TempDir dir;
    std::string root;
    std::string rules;
    std::wstring rulesPath;
};

TEST_F(CleanCli, ScanPrintsTheWholeReportAsJson) {
    const toolrun::Result run = toolrun::Run("clean-cli", {L"scan", L"--rules", rulesPath, L"--json"});
    ASSERT_EQ(0, run.code) << run.err;
    const Json::Value report = ParseReport(run);

    EXPECT_EQ(1, report["result"].asInt());
    EXPECT_EQ(1550u + 700 + 50 + 30, report["total"].asUInt64());  // the sum of the groups
    EXPECT_EQ(1550u + 30, report["selected"].asUInt64());
    const std::vector<std::string> expected = {
        "group Junk 3 1550 1550",        "program Browser 100 1550 1550", "item Cache 1 1500 true",
        "item Logs 2 50 true",           "group Editors 7 700 0",         "program Editor 200 700 0",
        "item Editor cache 4 700 false", "group Logs 11 50 0",            "program Browser 100 50 0",
        "item Logs 2 50 false",          "group Records 13 30 30",        "program Chat 300 30 30",
        "item History 5 30 true",
    };
    EXPECT_EQ(expected, Flow(report));

    // Files only where the engine lists them: groups 11 and 13 (the listed
    // record that is gone is left out).
    const Json::Value& logs = report["groups"][2]["programs"][0]["items"][0]["files"];
    ASSERT_EQ(1u, logs.size());
    EXPECT_EQ(At("browser/logs/x.log"), Utils::utf8ToAnsi(logs[0]["path"].asString()));
    EXPECT_EQ(50u, logs[0]["size"].asUInt64());
    const Json::Value& records = report["groups"][3]["programs"][0]["items"][0]["files"];
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(At("chat/r1.bin"), Utils::utf8ToAnsi(records[0]["path"].asString()));
    EXPECT_EQ(20u, records[1]["size"].asUInt64());
    EXPECT_FALSE(report["groups"][0]["programs"][0]["items"][0].isMember("files"));

    EXPECT_NE(std::string::npos, run.err.find("scan finished")) << run.err;
}

TEST_F(CleanCli, TextReportWithoutJson) {
    const toolrun::Result run = toolrun::Run("clean-cli", {L"scan", L"--rules", rulesPath});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("result 1: ")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("[x] Cache [1]")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("[ ] Editor cache [4]")) << run.out;
}

TEST_F(CleanCli, CleaningDeletesTheSelectedItemsOnly) {
#if !defined(_WIN32)
    // A folder link inside the cache leads to files the rule also matches.
    testutil::TempDir outside;
    testutil::WriteBytes(outside.path() / "canary.tmp", "keep");
    fs::create_directory_symlink(outside.path(), fs::path(At("browser/cache/link")));
#endif
    toolrun::Result run =
        toolrun::Run("clean-cli", {L"clean", L"--rules", rulesPath, L"--group", L"3", L"--program", L"100",
                                   L"--items", L"1"});
    ASSERT_EQ(0, run.code) << run.err;
    for (const char* gone : {"browser/cache/a.tmp", "browser/cache/b.tmp", "browser/cache/sub/c.tmp"})
        EXPECT_FALSE(fs::exists(fs::path(At(gone)))) << gone;
    for (const char* kept : {"browser/cache/keep.dat", "browser/logs/x.log", "editor/cache/e.bin", "chat/r1.bin"})
        EXPECT_TRUE(fs::exists(fs::path(At(kept)))) << kept;
    EXPECT_TRUE(fs::is_directory(fs::path(At("browser/cache/sub"))));  // folders stay
#if !defined(_WIN32)
    EXPECT_EQ("keep", testutil::ReadBytes(outside.path() / "canary.tmp"));
#endif

    // The record rule deletes what its database lists, not the database.
    run = toolrun::Run("clean-cli", {L"clean", L"--rules", rulesPath, L"--group", L"13", L"--program", L"300",
                                     L"--items", L"5"});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_FALSE(fs::exists(fs::path(At("chat/r1.bin"))));
    EXPECT_FALSE(fs::exists(fs::path(At("chat/r2.bin"))));
    EXPECT_TRUE(fs::exists(fs::path(At("chat/db.sqlite"))));

    // What is left, seen by the next scan.
    run = toolrun::Run("clean-cli", {L"scan", L"--rules", rulesPath, L"--json"});
    ASSERT_EQ(0, run.code) << run.err;
    const Json::Value report = ParseReport(run);
    EXPECT_EQ(50u + 700 + 50, report["total"].asUInt64());  // the logs count in groups 3 and 11

    // A program that no rule describes.
    run = toolrun::Run("clean-cli", {L"clean", L"--rules", rulesPath, L"--group", L"3", L"--program", L"999",
                                     L"--items", L""});
    EXPECT_EQ(4, run.code) << run.err;
}

// Scrambled data: the ids are masked on the way out and expected masked on
// the way in; names come from the tables in the language asked for, plain
// or scrambled.
TEST_F(CleanCli, NamesFromTablesAndMaskedIds) {
    const std::uint8_t mask[4] = {0x5A, 0x13, 0xC4, 0x7E};
    auto write = [&](const std::wstring& name, const std::string& text, bool scrambled) {
        const std::wstring path = dir / name;
        testutil::WriteBytes(fs::path(path),
                             scrambled ? [&] {
                                 const std::vector<std::uint8_t> plain(text.begin(), text.end());
                                 const std::vector<std::uint8_t> bytes = Trova::Scramble(plain, mask, 0x3C);
                                 return std::string(bytes.begin(), bytes.end());
                             }()
                                       : text);
        return path;
    };
    // Texts are "<key>-<language>", except the German name of group 3.
    auto texts = [](const std::string& key) {
        std::string cells;
        for (const char* code : kCodes)
            cells += "," + (key == "g3" && std::string(code) == "de" ? std::string("Müll") : key + "-" + code);
        return cells;
    };
    std::string gid = "gid", softid = "softid", subsoftid = "id,subid,residual", bigfile = "id";
    for (const char* code : kCodes) {
        gid += std::string(",desc_") + code;
        softid += std::string(",") + code;
        subsoftid += std::string(",") + code;
        bigfile += std::string(",") + code;
    }
    for (const char* code : kCodes)
        gid += std::string(",det_") + code;
    gid += "\n";
    for (int cb : {3, 6, 7, 11, 13})
        gid += std::to_string(cb) + texts("g" + std::to_string(cb)) + texts("d" + std::to_string(cb)) + "\n";
    softid += "\n100" + texts("s100") + "\n200" + texts("s200") + "\n300" + texts("s300") + "\n";
    subsoftid += "\n3,1,0" + texts("i1") + "\n3,2,0" + texts("i2") + "\n7,4,0" + texts("i4") + "\n11,2,0" +
                 texts("i2l") + "\n13,5,0" + texts("i5") + "\n";
    bigfile += "\n207" + texts("t207") + "\n";

    for (bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled ? "scrambled" : "plain");
        const std::wstring suffix = scrambled ? L".dat" : L".csv";
        const std::wstring tables = write(L"gid" + suffix, gid, scrambled) + L"," +
                                    write(L"softid" + suffix, softid, scrambled) + L"," +
                                    write(L"subsoftid" + suffix, subsoftid, scrambled) + L"," +
                                    write(L"bigfile" + suffix, bigfile, scrambled);
        const std::wstring rulesFile = scrambled ? write(L"rules.dat", rules, true) : rulesPath;
        std::vector<std::wstring> args = {L"scan", L"--rules", rulesFile, L"--tables", tables, L"--lang",
                                          scrambled ? L"de" : L"fr", L"--json"};
        if (scrambled)
            args.push_back(L"--scrambled");
        const toolrun::Result run = toolrun::Run("clean-cli", args);
        ASSERT_EQ(0, run.code) << run.err;
        const Json::Value report = ParseReport(run);
        const std::uint32_t m = scrambled ? Trova::g_idMask : 0;
        const std::string lang = scrambled ? "de" : "fr";
        auto id = [&](std::uint32_t value) { return std::to_string(value ^ m); };
        const std::vector<std::string> expected = {
            "group " + (scrambled ? std::string("Müll") : "g3-fr") + " " + id(3) + " 1550 1550",
            "program s100-" + lang + " " + id(100) + " 1550 1550",
            "item i1-" + lang + " " + id(1) + " 1500 true",
            "item i2-" + lang + " " + id(2) + " 50 true",
            "group g7-" + lang + " " + id(7) + " 700 0",
            "program s200-" + lang + " " + id(200) + " 700 0",
            "item i4-" + lang + " " + id(4) + " 700 false",
            "group g11-" + lang + " " + id(11) + " 50 0",
            "program s100-" + lang + " " + id(100) + " 50 0",
            "item i2l-" + lang + " " + id(2) + " 50 false",
            "group g13-" + lang + " " + id(13) + " 30 30",
            "program s300-" + lang + " " + id(300) + " 30 30",
            "item i5-" + lang + " " + id(5) + " 30 true",
        };
        EXPECT_EQ(expected, Flow(report));
    }

    // The page's masked ids clean the right item of the scrambled database.
    const auto masked = [](std::uint32_t value) { return std::to_wstring(value ^ Trova::g_idMask); };
    const toolrun::Result run =
        toolrun::Run("clean-cli", {L"clean", L"--rules", dir / L"rules.dat", L"--scrambled", L"--group", masked(3),
                                   L"--program", masked(100), L"--items", masked(1)});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_FALSE(fs::exists(fs::path(At("browser/cache/a.tmp"))));
    EXPECT_TRUE(fs::exists(fs::path(At("browser/logs/x.log"))));
}

// Without --rules the tool reads config.inf beside itself, as the program
// does: the rule database and the tables it names, in its language.
TEST_F(CleanCli, WithoutRulesTheDefaultConfigurationIsUsed) {
    testutil::TempDir install;
    const fs::path bin(File::Directory(L""));
#if defined(_WIN32)
    for (const char* name : {"clean-cli.exe", "Fendrel.dll"})
#else
    for (const char* name : {"clean-cli", "libFendrel.so"})
#endif
        fs::copy_file(bin / name, install.path() / name);
    testutil::WriteBytes(install.path() / "rules.xml", rules);
    std::string gid = "gid";
    for (const char* prefix : {"desc_", "det_"})
        for (const char* code : kCodes)
            gid += std::string(",") + prefix + code;
    gid += "\n3";
    for (const char* prefix : {"G", "D"})
        for (const char* code : kCodes)
            gid += std::string(",") + prefix + "-" + code;
    testutil::WriteBytes(install.path() / "gid.csv", gid + "\n");
    testutil::WriteBytes(install.path() / "config.inf",
                         "[other]\r\ntrashdatPath = rules.xml\r\ngidcsv = gid.csv\r\nlangid = 1031\r\n");

    const toolrun::Result run = toolrun::RunAt(install.path() / "clean-cli", {L"scan", L"--json"});
    ASSERT_EQ(0, run.code) << run.err;
    const Json::Value report = ParseReport(run);
    ASSERT_GE(report["groups"].size(), 1u);
    EXPECT_EQ("G-de", report["groups"][0]["name"].asString());
    // Names the tables lack come from the rules.
    EXPECT_EQ("Browser", report["groups"][0]["programs"][0]["name"].asString());
    EXPECT_EQ(1550u, report["groups"][0]["size"].asUInt64());
}

TEST_F(CleanCli, WrongCommandLinesEndWithTwo) {
    const std::wstring missing = dir / L"missing.xml";
    const std::vector<std::vector<std::wstring>> cases = {
        {},
        {L"shred"},
        {L"scan", L"--rules", missing},
        {L"scan", L"--rules"},
        {L"scan", L"--rules", rulesPath, L"--group", L"3"},
        {L"scan", L"--rules", rulesPath, L"--lang", L"xx"},
        {L"scan", L"--rules", rulesPath, L"--tables", L"a.csv,b.csv"},
        {L"clean", L"--rules", rulesPath, L"--group", L"3", L"--program", L"100"},
        {L"clean", L"--rules", rulesPath, L"--group", L"x3", L"--program", L"100", L"--items", L"1"},
        {L"clean", L"--rules", rulesPath, L"--group", L"3", L"--program", L"4294967296", L"--items", L"1"},
        {L"clean", L"--rules", rulesPath, L"--group", L"3", L"--program", L"100", L"--items", L"1,,2"},
    };
    for (const auto& args : cases) {
        std::wstring shown;
        for (const std::wstring& arg : args)
            shown += arg + L" ";
        SCOPED_TRACE(Utils::utf16ToUtf8(shown));
        const toolrun::Result run = toolrun::Run("clean-cli", args);
        EXPECT_EQ(2, run.code);
        EXPECT_EQ(0u, run.err.find("clean-cli: ")) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    // Nothing of the fixture was touched by any of them.
    EXPECT_TRUE(fs::exists(fs::path(At("browser/cache/a.tmp"))));

    const toolrun::Result help = toolrun::Run("clean-cli", {L"--help"});
    EXPECT_EQ(0, help.code);
    for (const char* option : {"--rules", "--scrambled", "--tables", "--lang", "--json", "--group", "--program",
                               "--items", "--registry", "--log"})
        EXPECT_NE(std::string::npos, help.out.find(option)) << option;
}

#if !defined(_WIN32)
TEST_F(CleanCli, RecycleBinIsMeasuredLastAndEmptied) {
    if (testutil::MountTrashPresent())
        GTEST_SKIP() << "this machine has a mount-level Trash of this user";
    testutil::TrashHome home;
    fs::create_directories(home.Trash() / "files" / "folder");
    fs::create_directories(home.Trash() / "info");
    testutil::WriteBytes(home.Trash() / "files" / "old.txt", std::string(4000, 'o'));
    testutil::WriteBytes(home.Trash() / "files" / "folder" / "inner.txt", std::string(96, 'i'));
    testutil::WriteBytes(home.Trash() / "info" / "old.txt.trashinfo", "[Trash Info]\n");
    testutil::WriteBytes(home.Trash() / "info" / "folder.trashinfo", "[Trash Info]\n");

    toolrun::Result run = toolrun::Run("clean-cli", {L"scan", L"--rules", rulesPath, L"--json"});
    ASSERT_EQ(0, run.code) << run.err;
    Json::Value report = ParseReport(run);
    // The bin is the largest group now, and always selected.
    ASSERT_GE(report["groups"].size(), 1u);
    const Json::Value& bin = report["groups"][0];
    EXPECT_EQ(6u, bin["id"].asUInt());
    EXPECT_EQ(4096u, bin["size"].asUInt64());
    EXPECT_EQ(4096u, bin["selected"].asUInt64());
    EXPECT_EQ(61000088u, bin["programs"][0]["id"].asUInt());
    EXPECT_EQ(1550u + 30 + 4096, report["selected"].asUInt64());

    run = toolrun::Run("clean-cli", {L"clean", L"--rules", rulesPath, L"--group", L"6", L"--program", L"61000088",
                                     L"--items", L""});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_TRUE(fs::is_empty(home.Trash() / "files"));
    EXPECT_TRUE(fs::is_empty(home.Trash() / "info"));
    EXPECT_TRUE(fs::exists(fs::path(At("browser/cache/a.tmp"))));  // nothing else went
}
#endif

}  // namespace
