// The installed-software export tool as the main window runs it: the
// inventory checked against the documented format and against what the
// system itself says is installed (dpkg on Linux; Uninstall keys written by
// the test under Windows), stand-in package tools for the cases a machine
// does not have, and the command-line faults.
#include "toolrun.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

const char* const kTool = "bcu/BCU-console";

struct Export {
    toolrun::Result run;
    Json::Value root;
    // (source, id) → program
    std::map<std::pair<std::string, std::string>, Json::Value> programs;
};

bool TextOrNull(const Json::Value& value) {
    return value.isNull() || (value.isString() && !value.asString().empty());
}

// Everything docs/installed-software.md promises about the file.
void CheckFormat(const Json::Value& root) {
    ASSERT_TRUE(root.isObject());
    EXPECT_EQ(root["format"].asString(), "installed-software");
    EXPECT_EQ(root["formatVersion"].asInt(), 1);
    EXPECT_TRUE(std::regex_match(root["exportedAt"].asString(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
        << root["exportedAt"];
#if defined(_WIN32)
    EXPECT_EQ(root["system"]["os"].asString(), "windows");
#else
    EXPECT_EQ(root["system"]["os"].asString(), "linux");
#endif
    EXPECT_TRUE(TextOrNull(root["system"]["name"]));
    EXPECT_TRUE(root["userScope"].isBool());
    ASSERT_TRUE(root["sources"].isArray());
    for (const Json::Value& source : root["sources"]) {
        EXPECT_TRUE(source["name"].isString());
        const std::string status = source["status"].asString();
        EXPECT_TRUE(status == "ok" || status == "missing" || status == "failed") << status;
        EXPECT_TRUE(source["count"].isUInt64());
        EXPECT_EQ(source["detail"].isNull(), status == "ok") << source;
    }
    ASSERT_TRUE(root["programs"].isArray());
    std::set<std::pair<std::string, std::string>> seen;
    for (const Json::Value& program : root["programs"]) {
        EXPECT_TRUE(program["name"].isString() && !program["name"].asString().empty()) << program;
        for (const char* field : {"version", "publisher", "installLocation", "uninstallCommand"})
            EXPECT_TRUE(TextOrNull(program[field])) << field << " of " << program;
        EXPECT_TRUE(program["uninstallInTerminal"].isBool()) << program;
        const Json::Value& size = program["estimatedSize"];
        EXPECT_TRUE(size.isNull() || (size.isInt64() && size.asInt64() >= 0)) << program;
        EXPECT_TRUE(program["source"].isString()) << program;
        EXPECT_FALSE(program["id"].asString().empty()) << program;
        EXPECT_TRUE(seen.insert({program["source"].asString(), program["id"].asString()}).second)
            << "twice: " << program;
    }
}

// Runs "export FILE switches..." into a fresh folder and reads the file.
Export RunExport(const std::vector<std::wstring>& switches) {
    testutil::TempDir dir;
    const fs::path file = dir.path() / "inventory.json";
    // The window hands over a file it has created; the tool replaces it.
    testutil::WriteBytes(file, "");
    std::vector<std::wstring> args{L"export", file.wstring()};
    args.insert(args.end(), switches.begin(), switches.end());
    Export result;
    result.run = toolrun::Run(kTool, args);
    EXPECT_EQ(result.run.code, 0) << result.run.err;
    // Only the file: no temporary twin is left beside it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"inventory.json"});
    const std::string text = testutil::ReadBytes(file);
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    builder["rejectDupKeys"] = true;
    std::string errors;
    std::istringstream in(text);
    EXPECT_TRUE(Json::parseFromStream(builder, in, &result.root, &errors)) << errors << "\n" << text.substr(0, 500);
    CheckFormat(result.root);
    for (const Json::Value& program : result.root["programs"])
        result.programs[{program["source"].asString(), program["id"].asString()}] = program;
    return result;
}

const Json::Value* Find(const Export& inventory, const std::string& source, const std::string& id) {
    const auto found = inventory.programs.find({source, id});
    return found == inventory.programs.end() ? nullptr : &found->second;
}

std::map<std::string, Json::Value> Sources(const Export& inventory) {
    std::map<std::string, Json::Value> sources;
    for (const Json::Value& source : inventory.root["sources"])
        sources[source["name"].asString()] = source;
    return sources;
}

TEST(BcuConsole, WrongCommandLineExitsWithTwoAndWritesNothing) {
    testutil::TempDir dir;
    const std::wstring file = dir / L"out.json";
    const std::vector<std::vector<std::wstring>> cases = {
        {},
        {L"export"},
        {L"import", file},
        {L"export", file, L"/X"},
        {L"export", file, L"/Q", L"extra"},
        {L"export", L""},
        {L"--help", L"export"},
    };
    for (const auto& args : cases) {
        const toolrun::Result run = toolrun::Run(kTool, args);
        EXPECT_EQ(run.code, 2) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("usage: BCU-console export FILE", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(fs::is_empty(dir.path()));
    }
    const toolrun::Result help = toolrun::Run(kTool, {L"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("/U"), std::string::npos) << help.out;
}

TEST(BcuConsole, QuietPrintsNothingAndSwitchesIgnoreCase) {
    const Export quiet = RunExport({L"/q", L"/u", L"/v"});
    EXPECT_EQ(quiet.run.out, "");
    EXPECT_TRUE(quiet.root["userScope"].asBool());
    const Export plain = RunExport({});
    EXPECT_NE(plain.run.out.find("programs written to"), std::string::npos) << plain.run.out;
    EXPECT_FALSE(plain.root["userScope"].asBool());
}

TEST(BcuConsole, AnUnwritableFileFailsWithOne) {
    testutil::TempDir dir;
    const toolrun::Result run = toolrun::Run(kTool, {L"export", dir / L"missing-folder/out.json", L"/Q"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
}

#if !defined(_WIN32)

// The package tools the test finds in PATH, or "" when missing.
std::string InPath(const std::string& name) {
    std::stringstream folders(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder) / name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return std::string();
}

TEST(BcuConsole, ListsEveryInstalledDpkgPackageWithVersionAndSizeInBytes) {
    const std::string dpkgQuery = InPath("dpkg-query");
    if (dpkgQuery.empty())
        GTEST_SKIP() << "no dpkg-query on this system";
    const toolrun::Result listed = toolrun::RunAt(
        dpkgQuery, {L"-W", L"-f", L"${binary:Package}\\t${Version}\\t${Installed-Size}\\t${db:Status-Abbrev}\\n"});
    ASSERT_EQ(listed.code, 0) << listed.err;
    const Export inventory = RunExport({L"/Q", L"/U"});

    std::size_t installed = 0;
    std::istringstream lines(listed.out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');)
            fields.push_back(field);
        ASSERT_EQ(fields.size(), 4u) << line;
        if (fields[3].rfind("ii", 0) != 0)
            continue;
        ++installed;
        const Json::Value* program = Find(inventory, "dpkg", fields[0]);
        ASSERT_NE(program, nullptr) << fields[0] << " is missing";
        EXPECT_EQ((*program)["version"].asString(), fields[1]) << fields[0];
        if (fields[2].empty())
            EXPECT_TRUE((*program)["estimatedSize"].isNull()) << fields[0];
        else
            EXPECT_EQ((*program)["estimatedSize"].asInt64(), std::stoll(fields[2]) * 1024) << fields[0];
        EXPECT_NE((*program)["uninstallCommand"].asString().find(fields[0]), std::string::npos) << fields[0];
    }
    ASSERT_GT(installed, 0u);
    EXPECT_EQ(Sources(inventory)["dpkg"]["status"].asString(), "ok");
    EXPECT_EQ(Sources(inventory)["dpkg"]["count"].asUInt64(), installed);
    std::size_t fromDpkg = 0;
    for (const auto& entry : inventory.programs)
        fromDpkg += entry.first.first == "dpkg";
    EXPECT_EQ(fromDpkg, installed) << "only installed packages are listed";
}

// Stand-ins for the package tools in a PATH of their own: answers as the
// real ones give them, including what must be left out.
class BcuConsoleFakeTools : public ::testing::Test {
protected:
    void Tool(const std::string& name, const std::string& script) {
        const fs::path path = bin.path() / name;
        testutil::WriteBytes(path, "#!/bin/sh\n" + script);
        fs::permissions(path, fs::perms::owner_all);
    }

    testutil::TempDir bin;
    testutil::TempDir home;
    testutil::EnvOverride path{"PATH", bin.path().string()};
    testutil::EnvOverride homeVar{"HOME", home.path().string()};
};

TEST_F(BcuConsoleFakeTools, MissingToolsAreSkippedWithOneLineEach) {
    const Export inventory = RunExport({L"/Q", L"/U"});
    EXPECT_EQ(inventory.root["programs"].size(), 0u);
    for (const char* source : {"dpkg", "flatpak", "snap"}) {
        EXPECT_EQ(Sources(inventory)[source]["status"].asString(), "missing") << source;
        EXPECT_NE(inventory.run.err.find(std::string(source) + " skipped"), std::string::npos) << inventory.run.err;
    }
    EXPECT_EQ(std::count(inventory.run.err.begin(), inventory.run.err.end(), '\n'), 3) << inventory.run.err;
}

TEST_F(BcuConsoleFakeTools, PackagesOfEachToolAsTheToolReportsThem) {
    // dpkg-query: tab-separated as asked; a removed package that left its
    // configuration, a package without a size, a maintainer in Latin-1.
    Tool("dpkg-query",
         "printf 'editor\\teditor\\t2.1-3\\t1500\\tinstall ok installed\\tAnn <ann@example.org>\\n"
         "libold:i386\\tlibold\\t0.9\\t80\\tdeinstall ok config-files\\tBob\\n"
         "nosize:amd64\\tnosize\\t1\\t\\tinstall ok installed\\tJos\\351 <j@example.org>\\n'\n");
    Tool("flatpak",
         "printf 'app/org.example.Paint/x86_64/stable\\torg.example.Paint\\tPaint\\t3.0\\tsystem\\t1.2\\302\\240GB\\n"
         "app/org.example.Notes/x86_64/stable\\torg.example.Notes\\tNotes\\t\\tuser\\t512.0 kB\\n"
         "runtime/org.example.Platform/x86_64/23\\torg.example.Platform\\tPlatform\\t23\\tsystem\\t900 MB\\n'\n");
    Tool("snap",
         "echo 'Name      Version   Rev    Tracking       Publisher   Notes'\n"
         "echo 'core22    20240111  1122   latest/stable  canonical** base'\n"
         "echo 'firefox   121.0-1   3600   latest/stable  mozilla**   -'\n"
         "echo 'hello     2.10      42     latest/stable  -           -'\n");

    const Export machine = RunExport({L"/Q"});
    EXPECT_EQ(machine.root["programs"].size(), 5u) << machine.root["programs"];
    EXPECT_EQ(Find(machine, "flatpak-user", "app/org.example.Notes/x86_64/stable"), nullptr) << "user installs need /U";

    const Export all = RunExport({L"/Q", L"/U"});
    const Json::Value* editor = Find(all, "dpkg", "editor");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ((*editor)["version"].asString(), "2.1-3");
    EXPECT_EQ((*editor)["estimatedSize"].asInt64(), 1500 * 1024);
    EXPECT_EQ((*editor)["publisher"].asString(), "Ann <ann@example.org>");
    // No pkexec here: the command is the one a user types, in a terminal.
    EXPECT_EQ((*editor)["uninstallCommand"].asString(), "sudo apt-get remove editor");
    EXPECT_TRUE((*editor)["uninstallInTerminal"].asBool());
    EXPECT_EQ(Find(all, "dpkg", "libold:i386"), nullptr) << "not installed any more";
    const Json::Value* nosize = Find(all, "dpkg", "nosize:amd64");
    ASSERT_NE(nosize, nullptr);
    EXPECT_TRUE((*nosize)["estimatedSize"].isNull());
    EXPECT_EQ((*nosize)["name"].asString(), "nosize");
    EXPECT_EQ((*nosize)["publisher"].asString(), "Jos\xEF\xBF\xBD <j@example.org>");

    const Json::Value* paint = Find(all, "flatpak", "app/org.example.Paint/x86_64/stable");
    ASSERT_NE(paint, nullptr);
    EXPECT_EQ((*paint)["estimatedSize"].asInt64(), 1200000000);
    EXPECT_EQ((*paint)["name"].asString(), "Paint");
    EXPECT_EQ((*paint)["uninstallCommand"].asString(), "flatpak uninstall -y --system app/org.example.Paint/x86_64/stable");
    EXPECT_FALSE((*paint)["uninstallInTerminal"].asBool());
    const Json::Value* notes = Find(all, "flatpak-user", "app/org.example.Notes/x86_64/stable");
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ((*notes)["estimatedSize"].asInt64(), 512000);
    EXPECT_TRUE((*notes)["version"].isNull());
    EXPECT_EQ((*notes)["uninstallCommand"].asString(), "flatpak uninstall -y --user app/org.example.Notes/x86_64/stable");
    EXPECT_EQ(Find(all, "flatpak", "runtime/org.example.Platform/x86_64/23"), nullptr);

    EXPECT_EQ(Find(all, "snap", "core22"), nullptr) << "a base snap is part of the system";
    const Json::Value* firefox = Find(all, "snap", "firefox");
    ASSERT_NE(firefox, nullptr);
    EXPECT_EQ((*firefox)["publisher"].asString(), "mozilla");
    EXPECT_EQ((*firefox)["version"].asString(), "121.0-1");
    EXPECT_EQ((*firefox)["uninstallCommand"].asString(), "snap remove firefox");
    const Json::Value* hello = Find(all, "snap", "hello");
    ASSERT_NE(hello, nullptr);
    EXPECT_TRUE((*hello)["publisher"].isNull());

    // With pkexec the system asks for the password itself, and dpkg
    // removes exactly the confirmed package.
    Tool("pkexec", "exit 1\n");
    const Export withPkexec = RunExport({L"/Q"});
    ASSERT_NE(Find(withPkexec, "dpkg", "editor"), nullptr);
    EXPECT_EQ((*Find(withPkexec, "dpkg", "editor"))["uninstallCommand"].asString(), "pkexec dpkg --remove editor");
    EXPECT_FALSE((*Find(withPkexec, "dpkg", "editor"))["uninstallInTerminal"].asBool());
}

TEST_F(BcuConsoleFakeTools, AToolThatFailsIsNamedAndTheRestIsStillWritten) {
    Tool("dpkg-query", "printf 'editor\\teditor\\t1\\t10\\tinstall ok installed\\tAnn\\n'\n");
    Tool("snap", "echo 'error: cannot communicate with server: connection refused' >&2\nexit 1\n");
    const Export inventory = RunExport({L"/Q"});
    EXPECT_NE(Find(inventory, "dpkg", "editor"), nullptr);
    const Json::Value snap = Sources(inventory)["snap"];
    EXPECT_EQ(snap["status"].asString(), "failed");
    EXPECT_NE(snap["detail"].asString().find("cannot communicate with server"), std::string::npos) << snap;
    EXPECT_NE(inventory.run.err.find("snap skipped"), std::string::npos) << inventory.run.err;
}

#else  // Windows

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Uninstall entries written for one test and removed afterwards.
class BcuConsoleRegistry : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& [root, view, name] : created)
            RegDeleteKeyExW(root, (std::wstring(kUninstall) + name).c_str(), view, 0);
    }

    // Values: text (REG_SZ), "%..." text as REG_EXPAND_SZ with a leading "%"
    // kept, or a DWORD.
    struct Value {
        std::wstring name;
        std::wstring text;
        DWORD type = REG_SZ;
        DWORD number = 0;
    };
    static Value Text(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) {
        return {name, text, type, 0};
    }
    static Value Number(const std::wstring& name, DWORD number) { return {name, L"", REG_DWORD, number}; }

    bool Entry(HKEY root, REGSAM view, const std::wstring& name, const std::vector<Value>& values) {
        HKEY key = nullptr;
        const LONG code = RegCreateKeyExW(root, (std::wstring(kUninstall) + name).c_str(), 0, nullptr, 0,
                                          KEY_WRITE | view, nullptr, &key, nullptr);
        if (code != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot create the Uninstall entry " << fs::path(name).string() << ": error " << code;
            return false;
        }
        created.push_back({root, view, name});
        for (const Value& value : values) {
            if (value.type == REG_DWORD)
                RegSetValueExW(key, value.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                               sizeof value.number);
            else
                RegSetValueExW(key, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.text.c_str()),
                               static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(key);
        return true;
    }

    std::vector<std::tuple<HKEY, REGSAM, std::wstring>> created;
};

TEST_F(BcuConsoleRegistry, ListsProgramsOfMachineAndUserAndSkipsWhatTheSystemHides) {
    ASSERT_TRUE(Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"CleanTest.Machine",
                      {Text(L"DisplayName", L"Clean Test Gr\u00fc\u00dfe \u5de5\u5177"),
                       Text(L"DisplayVersion", L"1.2.3"), Text(L"Publisher", L"Test Maker"),
                       Text(L"InstallLocation", L"C:\\Program Files\\CleanTest"),
                       Text(L"UninstallString", L"\"C:\\Program Files\\CleanTest\\uninstall.exe\" /S"),
                       Number(L"EstimatedSize", 2048)}));
    ASSERT_TRUE(Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"CleanTest.Expand",
                      {Text(L"DisplayName", L"Clean Test Expanded"),
                       Text(L"UninstallString", L"%SystemRoot%\\cleantest-unins.exe", REG_EXPAND_SZ)}));
    ASSERT_TRUE(Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"CleanTest.System",
                      {Text(L"DisplayName", L"Clean Test System Part"), Number(L"SystemComponent", 1)}));
    ASSERT_TRUE(Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"CleanTest.NoName",
                      {Text(L"DisplayVersion", L"9.9"), Text(L"UninstallString", L"noname.exe")}));
    ASSERT_TRUE(Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"CleanTest.Update",
                      {Text(L"DisplayName", L"Update for Clean Test"), Text(L"ParentKeyName", L"CleanTest.Machine")}));
    ASSERT_TRUE(Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"CleanTest.Machine32",
                      {Text(L"DisplayName", L"Clean Test 32-bit"), Number(L"EstimatedSize", 3)}));
    ASSERT_TRUE(Entry(HKEY_CURRENT_USER, 0, L"CleanTest.User",
                      {Text(L"DisplayName", L"Clean Test For One User"), Number(L"EstimatedSize", 1),
                       Text(L"UninstallString", L"\"C:\\Users\\me\\AppData\\Local\\CleanTest\\unins.exe\"")}));

    const Export machine = RunExport({L"/Q"});
    const Json::Value* entry = Find(machine, "registry-machine-64", "CleanTest.Machine");
    ASSERT_NE(entry, nullptr) << machine.root;
    EXPECT_EQ((*entry)["name"].asString(), "Clean Test Gr\xC3\xBC\xC3\x9F" "e \xE5\xB7\xA5\xE5\x85\xB7");
    EXPECT_EQ((*entry)["version"].asString(), "1.2.3");
    EXPECT_EQ((*entry)["publisher"].asString(), "Test Maker");
    EXPECT_EQ((*entry)["installLocation"].asString(), "C:\\Program Files\\CleanTest");
    EXPECT_EQ((*entry)["uninstallCommand"].asString(), "\"C:\\Program Files\\CleanTest\\uninstall.exe\" /S");
    EXPECT_FALSE((*entry)["uninstallInTerminal"].asBool());
    EXPECT_EQ((*entry)["estimatedSize"].asInt64(), 2048 * 1024) << "EstimatedSize is in KiB";

    const Json::Value* expanded = Find(machine, "registry-machine-64", "CleanTest.Expand");
    ASSERT_NE(expanded, nullptr);
    EXPECT_TRUE((*expanded)["estimatedSize"].isNull());
    const std::string command = (*expanded)["uninstallCommand"].asString();
    EXPECT_EQ(command.find('%'), std::string::npos) << command;
    EXPECT_NE(command.find("\\cleantest-unins.exe"), std::string::npos) << command;

    const Json::Value* entry32 = Find(machine, "registry-machine-32", "CleanTest.Machine32");
    ASSERT_NE(entry32, nullptr) << machine.root;
    EXPECT_EQ((*entry32)["estimatedSize"].asInt64(), 3 * 1024);
    EXPECT_EQ(Find(machine, "registry-machine-64", "CleanTest.Machine32"), nullptr) << "each view lists its own entries";
    EXPECT_EQ(Find(machine, "registry-machine-32", "CleanTest.Machine"), nullptr) << "each view lists its own entries";

    for (const char* hidden : {"CleanTest.System", "CleanTest.NoName", "CleanTest.Update"})
        EXPECT_EQ(Find(machine, "registry-machine-64", hidden), nullptr) << hidden;
    EXPECT_EQ(Find(machine, "registry-user", "CleanTest.User"), nullptr) << "user installs need /U";
    EXPECT_EQ(Sources(machine)["registry-machine-64"]["status"].asString(), "ok");

    const Export all = RunExport({L"/Q", L"/U"});
    const Json::Value* user = Find(all, "registry-user", "CleanTest.User");
    ASSERT_NE(user, nullptr) << all.root;
    EXPECT_EQ((*user)["name"].asString(), "Clean Test For One User");
    EXPECT_EQ((*user)["estimatedSize"].asInt64(), 1024);
    EXPECT_NE(Find(all, "registry-machine-64", "CleanTest.Machine"), nullptr);
}

#endif

}  // namespace
