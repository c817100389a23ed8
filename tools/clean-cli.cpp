// Runs the junk engine without the user interface: one scan with its report,
// or one cleaning request, exactly as the page would ask for it. Benchmarks
// and outside checks drive the engine through this tool.
//
//   clean-cli scan  [--rules FILE] [--scrambled] [--tables G,S,I,B] [--lang CODE] [--json]
//   clean-cli clean [--rules FILE] [--scrambled] --group ID --program ID --items ID,ID,...
//   clean-cli extension --mode big|dup [--rules FILE] [--tables G,S,I,B] [--lang CODE] [--json] ROOT...
//
// Exit codes: scan and extension 0 finished, 1 stopped (Ctrl+C) or
// the rules did not load;
// clean the engine's result (0 done, 3 recycle bin not emptied, 4 unknown
// program); 2 a wrong command line or a missing file.
#include "trova/clean/cacheclean.h"
#include "trova/clean/cachecleancbk.h"
#include "trova/clean/languagetable.h"
#include "trova/clean/nametables.h"
#include "trova/extension/extensionscanner.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/registry.h"
#include "fendrel/utils.h"
#include "uiclean/i18nconfig.h"
#include "uiclean/windowsettings.h"

#include <json/json.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <io.h>
#  define CLI_ISATTY(fd) _isatty(fd)
#else
#  include <unistd.h>
#  define CLI_ISATTY(fd) isatty(fd)
#endif

namespace {

const char* const kUsage =
    "usage: clean-cli scan  [--rules FILE] [--scrambled] [--tables GID,SOFTID,SUBSOFTID,BIGFILE]\n"
    "                       [--lang CODE] [--json] [--registry FILE] [--log FILE]\n"
    "       clean-cli clean [--rules FILE] [--scrambled] --group ID --program ID --items ID,ID,...\n"
    "                       [--registry FILE] [--log FILE]\n"
    "       clean-cli extension --mode big|dup [--rules FILE] [--scrambled] [--tables ...] [--lang CODE]\n"
    "                       [--json] [--log FILE] ROOT...\n"
    "\n"
    "scan    loads the junk rule database, scans this machine once and prints the report.\n"
    "        Progress goes to standard error; Ctrl+C stops the scan and prints what was found.\n"
    "clean   deletes the selected items of one program in one group and exits with the\n"
    "        engine's result: 0 done, 3 the recycle bin could not be emptied, 4 no such program.\n"
    "extension  walks the given folders or disks: --mode big lists the large files per category,\n"
    "        largest first; --mode dup the groups of files with identical contents. --rules is then\n"
    "        the extension rule file (default: extdatPath of config.inf).\n"
    "\n"
    "options:\n"
    "  --rules FILE      the rule database (XML). Without it the rule database, the name tables,\n"
    "                    the scrambling flag and the language of config.inf beside the program.\n"
    "  --scrambled       the rule database and the tables are scrambled data files; ids are then\n"
    "                    masked on output and expected masked on input, as on the page.\n"
    "  --tables G,S,I,B  the four name tables (group, program, item and text tables, CSV);\n"
    "                    names in the report then come from them.\n"
    "  --lang CODE       the language of the names: zh, en, de, fr, es, pt, ru or it.\n"
    "  --json            print the report as one JSON object instead of text.\n"
    "  --group ID        the group id of the cleaning request.\n"
    "  --program ID      the program id of the cleaning request.\n"
    "  --items ID,...    the item ids to delete (may be empty: --items \"\").\n"
    "  --registry FILE   the registry store that rules read (Linux; Windows reads its registry).\n"
    "  --log FILE        write the engine's log to FILE.\n"
    "  --help            this text.\n"
    "\n"
    "exit codes: scan and extension 0 finished, 1 stopped or rules not loadable; clean the engine's result;\n"
    "2 a wrong command line or a missing file.\n";

// A wrong command line: one line on standard error, exit code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string command;
    std::wstring rules;
    bool scrambled = false;
    std::vector<std::wstring> tables;
    std::string lang;
    bool json = false;
    std::wstring registry;
    std::wstring log;
    bool hasGroup = false, hasProgram = false, hasItems = false;
    std::uint32_t group = 0, program = 0;
    std::vector<std::uint32_t> items;
    std::vector<std::wstring> roots;  // extension
    std::string mode;                 // extension: big or dup
};

std::uint32_t ParseId(const std::string& option, const std::string& text) {
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        if (text.empty() || text[0] == '-' || text[0] == '+')
            throw std::invalid_argument(text);
        value = std::stoull(text, &used, 10);
    } catch (const std::exception&) {
        throw UsageError(option + " wants a decimal number, not \"" + text + "\"");
    }
    if (used != text.size() || value > 0xFFFFFFFFull)
        throw UsageError(option + " wants a decimal number of at most 32 bits, not \"" + text + "\"");
    return static_cast<std::uint32_t>(value);
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, ','))
        parts.push_back(part);
    if (!text.empty() && text.back() == ',')
        parts.emplace_back();
    return parts;
}

void RequireFile(const std::string& what, const std::wstring& path) {
    if (!File::Exist(path))
        throw UsageError(what + " " + Utils::utf16ToUtf8(path) + " does not exist");
}

Options Parse(const std::vector<std::wstring>& args) {
    Options options;
    if (args.empty())
        throw UsageError("a command is missing (scan, clean or extension)");
    for (const std::wstring& arg : args) {
        if (arg == L"--help" || arg == L"-h") {
            options.command = "help";
            return options;
        }
    }
    options.command = Utils::utf16ToUtf8(args[0]);
    const bool walk = options.command == "extension";
    if (options.command != "scan" && options.command != "clean" && !walk)
        throw UsageError("unknown command \"" + options.command + "\" (scan, clean or extension)");
    // The commands that print a report.
    const bool scan = options.command != "clean";

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string name = Utils::utf16ToUtf8(args[i]);
        auto value = [&]() -> const std::wstring& {
            if (i + 1 >= args.size())
                throw UsageError(name + " wants a value");
            return args[++i];
        };
        if (name == "--rules") {
            options.rules = value();
        } else if (name == "--scrambled") {
            options.scrambled = true;
        } else if (name == "--registry") {
            options.registry = value();
        } else if (name == "--log") {
            options.log = value();
        } else if (scan && name == "--json") {
            options.json = true;
        } else if (scan && name == "--tables") {
            std::vector<std::string> parts = SplitCommas(Utils::utf16ToUtf8(value()));
            if (parts.size() != 4)
                throw UsageError("--tables wants four files: GID,SOFTID,SUBSOFTID,BIGFILE");
            for (const std::string& part : parts)
                options.tables.push_back(Utils::utf8ToUtf16(part));
        } else if (scan && name == "--lang") {
            options.lang = Utils::utf16ToUtf8(value());
        } else if (walk && name == "--mode") {
            options.mode = Utils::utf16ToUtf8(value());
            if (options.mode != "big" && options.mode != "dup")
                throw UsageError("--mode wants big or dup, not \"" + options.mode + "\"");
        } else if (walk && !name.empty() && name[0] != '-') {
            options.roots.push_back(args[i]);
        } else if (!scan && name == "--group") {
            options.group = ParseId(name, Utils::utf16ToUtf8(value()));
            options.hasGroup = true;
        } else if (!scan && name == "--program") {
            options.program = ParseId(name, Utils::utf16ToUtf8(value()));
            options.hasProgram = true;
        } else if (!scan && name == "--items") {
            const std::string list = Utils::utf16ToUtf8(value());
            if (!list.empty()) {
                for (const std::string& part : SplitCommas(list))
                    options.items.push_back(ParseId(name, part));
            }
            options.hasItems = true;
        } else {
            throw UsageError("unknown option \"" + name + "\" for " + options.command);
        }
    }

    if (walk && options.mode.empty())
        throw UsageError("extension wants --mode big or --mode dup");
    if (walk && options.roots.empty())
        throw UsageError("extension wants at least one folder or disk to walk");
    if (!scan && !(options.hasGroup && options.hasProgram && options.hasItems))
        throw UsageError("clean wants --group, --program and --items");
    if (!options.lang.empty()) {
        bool known = false;
        for (int index = 0; index < LanguageTable::kCount; ++index)
            known = known || LanguageTable::Keys(index).code == options.lang;
        if (!known)
            throw UsageError("unknown language \"" + options.lang + "\" (zh, en, de, fr, es, pt, ru, it)");
    }
    if (!options.rules.empty())
        RequireFile("the rule database", options.rules);
    for (const std::wstring& table : options.tables)
        RequireFile("the name table", table);
    if (!options.registry.empty())
        RequireFile("the registry store", options.registry);
    return options;
}

int LanguageIndexOf(const std::string& code) {
    for (int index = 0; index < LanguageTable::kCount; ++index) {
        if (LanguageTable::Keys(index).code == code)
            return index;
    }
    return LanguageTable::kEnglish;
}

// Where the engine's inputs come from: the command line, else config.inf.
struct Inputs {
    std::wstring rules;
    bool scrambled = false;
};

Inputs Resolve(const Options& options) {
    Trova::NameTables& tables = Trova::NameTables::Instance();
    Inputs inputs;
    if (options.rules.empty()) {
        // The program's own configuration, exactly as the program reads it:
        // it also hands the name tables their files and sets the language.
        I18nConfig& config = I18nConfig::Instance();
        config.DefaultSet(StartupWindowFlags(false), StartupWindowSettings());
        config.Init();
        // An empty setting names no database (it would resolve to the program's folder).
        const bool walk = options.command == "extension";
        const std::wstring& configured = walk ? config.ExtdatPath() : config.TrashdatPath();
        if (!configured.empty())
            inputs.rules = I18nConfig::ResolvePath(configured);
        if (inputs.rules.empty())
            throw UsageError("no --rules given and " + Utils::utf16ToUtf8(config.GetInfPath()) + " names no " +
                             (walk ? "extension rule file" : "rule database") + " that exists");
        inputs.scrambled = config.Encryption() || options.scrambled;
    } else {
        inputs.rules = options.rules;
        inputs.scrambled = options.scrambled;
        tables.SetLanguageFeature(false);
    }
    if (!options.tables.empty()) {
        tables.SetLanguageFeature(true);
        tables.Load(Utils::Utf16ToAnsi(options.tables[0]), Utils::Utf16ToAnsi(options.tables[1]),
                    Utils::Utf16ToAnsi(options.tables[2]), Utils::Utf16ToAnsi(options.tables[3]), inputs.scrambled);
        if (!tables.LanguageFeature())
            std::fprintf(stderr, "clean-cli: the name tables could not be read; names come from the rules\n");
    }
    if (!options.lang.empty())
        tables.SetLanguageIndex(LanguageIndexOf(options.lang));
    if (!options.registry.empty())
        Registry::SetStore(options.registry);
    Trova::g_dataScrambled = inputs.scrambled;
    return inputs;
}

std::string HumanSize(std::uint64_t bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

// Progress on standard error: rewritten in place on a terminal, else a plain
// line now and then, so a log file stays readable.
class Progress {
public:
    Progress() : m_terminal(CLI_ISATTY(2) != 0) {}

    void Rules(std::uint32_t finished, std::uint32_t total) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = finished;
        m_total = total;
        ShowLocked(false);
    }
    void Bytes(std::uint64_t size, std::uint64_t selected) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_size = size;
        m_selected = selected;
        ShowLocked(false);
    }
    void Done(const char* how) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ShowLocked(true);
        std::fprintf(stderr, m_terminal ? "\n%s\n" : "%s\n", how);
        std::fflush(stderr);
    }

private:
    void ShowLocked(bool force) {
        const auto now = std::chrono::steady_clock::now();
        const auto every = m_terminal ? std::chrono::milliseconds(100) : std::chrono::milliseconds(1000);
        if (!force && now - m_shown < every)
            return;
        m_shown = now;
        char line[160];
        char rules[48] = "";
        if (m_total != 0)  // known once the first program has ended
            std::snprintf(rules, sizeof rules, "%u/%u programs, ", m_finished, m_total);
        std::snprintf(line, sizeof line, "scanning: %s%s found, %s selected", rules, HumanSize(m_size).c_str(),
                      HumanSize(m_selected).c_str());
        if (m_terminal)
            std::fprintf(stderr, "\r%-78s", line);
        else
            std::fprintf(stderr, "%s\n", line);
        std::fflush(stderr);
    }

    const bool m_terminal;
    std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_shown{};
    std::uint32_t m_finished = 0, m_total = 0;
    std::uint64_t m_size = 0, m_selected = 0;
};

// Builds the report tree from the engine's callbacks: the report comes as
// a total, then each group followed by its programs, each program by its
// items, an item by its files.
class ReportCollector : public Trova::CacheCleanCbk {
public:
    explicit ReportCollector(Progress& progress) : m_progress(progress) {}

    void OnTotal(std::uint64_t size, std::uint64_t selected) override {
        // Also sent when every group has ended; the report's own comes last.
        m_report = Json::Value(Json::objectValue);
        m_report["total"] = Json::UInt64(size);
        m_report["selected"] = Json::UInt64(selected);
        m_report["groups"] = Json::Value(Json::arrayValue);
    }
    void OnGroup(std::string name, std::uint64_t size, std::uint64_t selected, std::uint32_t id) override {
        m_group = &m_report["groups"].append(Node(name, size, id));
        (*m_group)["selected"] = Json::UInt64(selected);
        (*m_group)["programs"] = Json::Value(Json::arrayValue);
    }
    void OnProgram(std::string name, std::uint64_t size, std::uint64_t selected, std::uint32_t id) override {
        if (m_group == nullptr)
            return;
        m_program = &(*m_group)["programs"].append(Node(name, size, id));
        (*m_program)["selected"] = Json::UInt64(selected);
        (*m_program)["items"] = Json::Value(Json::arrayValue);
    }
    void OnItem(std::string name, std::uint64_t size, std::uint32_t id, bool selected) override {
        if (m_program == nullptr)
            return;
        m_item = &(*m_program)["items"].append(Node(name, size, id));
        (*m_item)["selected"] = selected;
    }
    void OnItemFiles(const std::map<std::string, std::uint64_t>& files) override {
        if (m_item == nullptr)
            return;
        Json::Value& list = (*m_item)["files"];
        if (list.isNull())
            list = Json::Value(Json::arrayValue);
        for (const auto& [path, size] : files) {
            Json::Value file(Json::objectValue);
            file["path"] = Utils::ansiToUtf8(path);
            file["size"] = Json::UInt64(size);
            list.append(file);
        }
    }
    void OnRunningSize(std::uint64_t size, std::uint64_t selected) override { m_progress.Bytes(size, selected); }
    void OnFileFound(const std::string&) override {}
    void OnScanEnd(std::uint8_t) override {}
    void OnProgress(std::uint32_t finished, std::uint32_t total) override { m_progress.Rules(finished, total); }

    Json::Value& Report() { return m_report; }

private:
    static Json::Value Node(const std::string& name, std::uint64_t size, std::uint32_t id) {
        Json::Value node(Json::objectValue);
        node["id"] = Json::UInt(id);
        node["name"] = name;
        node["size"] = Json::UInt64(size);
        return node;
    }

    Progress& m_progress;
    Json::Value m_report{Json::objectValue};
    Json::Value* m_group = nullptr;
    Json::Value* m_program = nullptr;
    Json::Value* m_item = nullptr;
};

void PrintText(const Json::Value& report) {
    std::printf("result %d: %s found, %s selected (%llu bytes, %llu selected)\n", report["result"].asInt(),
                HumanSize(report["total"].asUInt64()).c_str(), HumanSize(report["selected"].asUInt64()).c_str(),
                static_cast<unsigned long long>(report["total"].asUInt64()),
                static_cast<unsigned long long>(report["selected"].asUInt64()));
    for (const Json::Value& group : report["groups"]) {
        std::printf("%s [%u]  %s, %s selected\n", group["name"].asCString(), group["id"].asUInt(),
                    HumanSize(group["size"].asUInt64()).c_str(), HumanSize(group["selected"].asUInt64()).c_str());
        for (const Json::Value& program : group["programs"]) {
            std::printf("  %s [%u]  %s, %s selected\n", program["name"].asCString(), program["id"].asUInt(),
                        HumanSize(program["size"].asUInt64()).c_str(),
                        HumanSize(program["selected"].asUInt64()).c_str());
            for (const Json::Value& item : program["items"]) {
                std::printf("    [%c] %s [%u]  %s\n", item["selected"].asBool() ? 'x' : ' ', item["name"].asCString(),
                            item["id"].asUInt(), HumanSize(item["size"].asUInt64()).c_str());
                for (const Json::Value& file : item["files"])
                    std::printf("        %s  %s\n", file["path"].asCString(), HumanSize(file["size"].asUInt64()).c_str());
            }
        }
    }
}

void PrintJson(const Json::Value& report) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    std::ostringstream text;
    writer->write(report, &text);
    std::printf("%s\n", text.str().c_str());
}

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) {
    g_interrupted = true;
}

// Ctrl+C while the engine works: a signal handler may only set a flag, and
// the stop itself joins threads, so a watcher thread makes it. It ends at
// once when the work is done.
class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> stop) : m_thread([this, stop = std::move(stop)] {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_done) {
            if (g_interrupted.exchange(false)) {
                lock.unlock();
                stop();
                lock.lock();
            }
            m_changed.wait_for(lock, std::chrono::milliseconds(50));
        }
    }) {
        std::signal(SIGINT, OnInterrupt);
    }
    ~InterruptWatcher() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    std::thread m_thread;
};

int RunScan(const Options& options, const Inputs& inputs) {
    // The work queue's manager writes each run's result code to the wide
    // standard output; here standard output carries the report alone.
    static std::wstringbuf managerLines;
    std::wcout.rdbuf(&managerLines);

    Trova::CacheClean cache;
    if (!cache.Load(inputs.rules, inputs.scrambled)) {
        std::fprintf(stderr, "clean-cli: the rule database %s could not be loaded\n",
                     Utils::utf16ToUtf8(inputs.rules).c_str());
        return 1;
    }

    Progress progress;
    ReportCollector collector(progress);
    std::uint8_t result = 0;
    {
        InterruptWatcher watcher([&] { cache.Stop(2); });
        result = cache.Scan(true, &collector);
    }
    cache.Stop(1);  // the walkers wait for a next scan that never comes
    progress.Done(result == 1 ? "scan finished" : "scan stopped");

    Json::Value& report = collector.Report();
    report["result"] = result;
    if (!report.isMember("groups")) {
        report["total"] = Json::UInt64(0);
        report["selected"] = Json::UInt64(0);
        report["groups"] = Json::Value(Json::arrayValue);
    }
    if (options.json)
        PrintJson(report);
    else
        PrintText(report);
    std::fflush(stdout);
    return result == 1 ? 0 : 1;
}

// The large-file and duplicate report as JSON:
//   { "result": 0, "total": N, "categories": [ { "name", "size",
//     "files": [ { "path", "size" } ] or "groups": [ { "size", "files": [ path ] } ] } ] }
class WalkCollector : public Trova::ExtensionCleanCbk {
public:
    void OnTotal(std::uint64_t total) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_report["total"] = Json::UInt64(total);
    }
    void OnCategory(std::int32_t, const std::string& name, std::uint64_t size) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        Json::Value category(Json::objectValue);
        category["name"] = name;
        category["size"] = Json::UInt64(size);
        m_report["categories"].append(category);
    }
    void OnBigFiles(std::int32_t index, const std::vector<Trova::BigFileRecord>& files) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        Json::Value& list = m_report["categories"][index]["files"] = Json::Value(Json::arrayValue);
        for (const Trova::BigFileRecord& file : files) {
            Json::Value entry(Json::objectValue);
            entry["path"] = file.fileName;
            entry["size"] = Json::UInt64(file.size);
            list.append(entry);
        }
    }
    void OnDuplicates(std::int32_t index, const std::vector<Trova::DuplicateGroup>& groups) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        Json::Value& list = m_report["categories"][index]["groups"] = Json::Value(Json::arrayValue);
        for (const Trova::DuplicateGroup& group : groups) {
            Json::Value entry(Json::objectValue);
            entry["size"] = Json::UInt64(group.size);
            entry["files"] = Json::Value(Json::arrayValue);
            for (const std::string& path : group.files)
                entry["files"].append(path);
            list.append(entry);
        }
    }
    void OnFinished(std::int32_t result) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_report["result"] = result;
    }
    void OnNumber(std::uint64_t) override {}
    void OnCurrentPath(const std::wstring& path) override {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (now - m_shown < std::chrono::seconds(1))
            return;
        m_shown = now;
        std::fprintf(stderr, "walking: %s\n", Utils::utf16ToUtf8(path).c_str());
    }

    Json::Value Report() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_report;
    }

private:
    std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_shown{};
    Json::Value m_report = [] {
        Json::Value report(Json::objectValue);
        report["result"] = 0;
        report["total"] = Json::UInt64(0);
        report["categories"] = Json::Value(Json::arrayValue);
        return report;
    }();
};

void PrintWalkText(const Json::Value& report) {
    std::printf("result %d: %s in all\n", report["result"].asInt(), HumanSize(report["total"].asUInt64()).c_str());
    for (const Json::Value& category : report["categories"]) {
        std::printf("%s  %s\n", category["name"].asCString(), HumanSize(category["size"].asUInt64()).c_str());
        for (const Json::Value& file : category["files"])
            std::printf("  %s  %s\n", HumanSize(file["size"].asUInt64()).c_str(), file["path"].asCString());
        for (const Json::Value& group : category["groups"]) {
            std::printf("  %zu copies of %s:\n", static_cast<std::size_t>(group["files"].size()),
                        HumanSize(group["size"].asUInt64()).c_str());
            for (const Json::Value& path : group["files"])
                std::printf("    %s\n", path.asCString());
        }
    }
}

int RunWalk(const Options& options, const Inputs& inputs) {
    static std::wstringbuf managerLines;  // the queues' result lines, as for scan
    std::wcout.rdbuf(&managerLines);

    Trova::ExtensionScanner scanner;
    if (!scanner.Load(inputs.rules, inputs.scrambled)) {
        std::fprintf(stderr, "clean-cli: the extension rule file %s could not be loaded\n",
                     Utils::utf16ToUtf8(inputs.rules).c_str());
        return 1;
    }
    WalkCollector collector;
    scanner.SetCallback(&collector, 256);
    std::wstring roots;
    for (const std::wstring& root : options.roots)
        roots += (roots.empty() ? L"" : L"|") + root;
    const auto mode = options.mode == "big" ? Trova::ExtensionMode::BigFiles : Trova::ExtensionMode::Duplicates;
    if (!scanner.Start(roots, mode))
        return 1;
    {
        InterruptWatcher watcher([&] { scanner.Stop(2, nullptr); });
        scanner.WaitFinished();
    }
    const Json::Value report = collector.Report();
    std::fprintf(stderr, report["result"].asInt() == 0 ? "walk finished\n" : "walk stopped\n");
    if (options.json)
        PrintJson(report);
    else
        PrintWalkText(report);
    std::fflush(stdout);
    return report["result"].asInt() == 0 ? 0 : 1;
}

int RunClean(const Options& options, const Inputs& inputs) {
    Trova::CacheClean cache;
    if (!cache.Load(inputs.rules, inputs.scrambled)) {
        std::fprintf(stderr, "clean-cli: the rule database %s could not be loaded\n",
                     Utils::utf16ToUtf8(inputs.rules).c_str());
        return 1;
    }
    // Ids arrive as the page sends them: masked when the data is scrambled.
    const std::uint32_t mask = inputs.scrambled ? Trova::g_idMask : 0;
    std::vector<std::uint32_t> items;
    for (std::uint32_t id : options.items)
        items.push_back(id ^ mask);
    const int result = cache.Delete(options.group ^ mask, options.program ^ mask, items);
    std::fprintf(stderr, "clean finished with result %d\n", result);
    return result;
}

int Run(const std::vector<std::wstring>& args) {
    Options options;
    try {
        options = Parse(args);
        if (options.command == "help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!options.log.empty()) {
            Logger_Init(Utils::utf16ToUtf8(options.log).c_str(), 10485760, 3, true);
            Logger_SetLevel(2);
        }
        const Inputs inputs = Resolve(options);
        const int code = options.command == "scan"    ? RunScan(options, inputs)
                         : options.command == "clean" ? RunClean(options, inputs)
                                                       : RunWalk(options, inputs);
        Logger_Shutdown();
        return code;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "clean-cli: %s (see clean-cli --help)\n", error.what());
        return 2;
    }
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
    return Run(std::vector<std::wstring>(argv + 1, argv + argc));
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(Utils::AnsiToUtf16(argv[i]));
    return Run(args);
}
#endif
