// The icon of a file's type from the freedesktop icon theme: the MIME type
// from shared-mime-info's globs2 (by name; content sniffing is left out),
// the icon names of the icon-naming rules, and the file found in the user's
// theme, then Adwaita, then hicolor, under $XDG_DATA_DIRS/icons.
#include "uiclean/fileicon.h"

#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

namespace fileicon {

namespace {

constexpr const char* kSource = "uiclean/fileicon";

struct Glob {
    int weight = 0;
    std::string type;
    std::string pattern;
    bool caseSensitive = false;
};

struct ThemeFolder {
    std::string path;  // the folder holding the icon files
    int size = 0;
    bool scalable = false;
};

// What one value of $XDG_DATA_DIRS offers, read once per value.
struct Database {
    std::vector<std::string> dataDirs;
    std::vector<Glob> globs;
    std::map<std::string, std::string> typeIcons;     // mime/icons
    std::map<std::string, std::string> genericIcons;  // mime/generic-icons
    std::map<std::string, std::vector<ThemeFolder>> themes;
};

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

std::vector<std::string> DataDirs(const std::string& value) {
    std::vector<std::string> dirs;
    // Relative entries are invalid and ignored, as the base-directory rules say.
    for (const std::string& dir : Split(value.empty() ? "/usr/local/share:/usr/share" : value, ':')) {
        if (!dir.empty() && dir[0] == '/')
            dirs.push_back(dir);
    }
    return dirs;
}

void ReadMime(Database& db, const std::string& dir) {
    for (const std::string& line : Lines(dir + "/mime/globs2")) {
        const std::vector<std::string> fields = Split(line, ':');
        if (fields.size() < 3 || fields[1].empty() || fields[2].empty())
            continue;
        Glob glob;
        glob.weight = std::atoi(fields[0].c_str());
        glob.type = fields[1];
        glob.pattern = fields[2];
        glob.caseSensitive = fields.size() > 3 && fields[3].find("cs") != std::string::npos;
        db.globs.push_back(glob);
    }
    for (auto [file, map] : {std::pair{"/mime/icons", &db.typeIcons}, std::pair{"/mime/generic-icons", &db.genericIcons}}) {
        for (const std::string& line : Lines(dir + file)) {
            const std::size_t colon = line.find(':');
            if (colon != std::string::npos)
                map->emplace(line.substr(0, colon), line.substr(colon + 1));
        }
    }
}

// The folders of one theme in every data folder that has it, from its
// index.theme; high-resolution (Scale > 1) folders are left out.
std::vector<ThemeFolder> ReadTheme(const Database& db, const std::string& theme) {
    std::vector<ThemeFolder> folders;
    for (const std::string& dir : db.dataDirs) {
        const std::string root = dir + "/icons/" + theme;
        std::map<std::string, std::map<std::string, std::string>> sections;
        std::string section;
        for (const std::string& line : Lines(root + "/index.theme")) {
            if (line[0] == '[' && line.back() == ']') {
                section = line.substr(1, line.size() - 2);
                continue;
            }
            const std::size_t equals = line.find('=');
            if (equals != std::string::npos)
                sections[section][line.substr(0, equals)] = line.substr(equals + 1);
        }
        for (const std::string& name : Split(sections["Icon Theme"]["Directories"], ',')) {
            if (name.empty() || sections.count(name) == 0)
                continue;
            auto& keys = sections[name];
            if (!keys["Scale"].empty() && std::atoi(keys["Scale"].c_str()) > 1)
                continue;
            ThemeFolder folder;
            folder.path = root + "/" + name;
            folder.size = std::atoi(keys["Size"].c_str());
            folder.scalable = keys["Type"] == "Scalable";
            folders.push_back(folder);
        }
    }
    return folders;
}

std::mutex g_cacheMutex;
std::map<std::string, std::shared_ptr<Database>> g_cache;

std::shared_ptr<Database> CurrentDatabase() {
    const char* value = std::getenv("XDG_DATA_DIRS");
    const std::string key = value != nullptr ? value : "";
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto& db = g_cache[key];
    if (!db) {
        db = std::make_shared<Database>();
        db->dataDirs = DataDirs(key);
        for (const std::string& dir : db->dataDirs)
            ReadMime(*db, dir);
    }
    return db;
}

const std::vector<ThemeFolder>& ThemeOf(Database& db, const std::string& theme) {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto found = db.themes.find(theme);
    if (found == db.themes.end())
        found = db.themes.emplace(theme, ReadTheme(db, theme)).first;
    return found->second;
}

// The heaviest glob that matches; of equal weights the longest pattern.
std::string MimeTypeOf(const Database& db, const std::string& name) {
    const Glob* best = nullptr;
    for (const Glob& glob : db.globs) {
        if (fnmatch(glob.pattern.c_str(), name.c_str(), glob.caseSensitive ? 0 : FNM_CASEFOLD) != 0)
            continue;
        if (best == nullptr || glob.weight > best->weight ||
            (glob.weight == best->weight && glob.pattern.size() > best->pattern.size()))
            best = &glob;
    }
    return best != nullptr ? best->type : std::string();
}

// The icon names of a type, most specific first:
//   "application/pdf" => (mime/icons entry), "application-pdf",
//                        (mime/generic-icons entry), "application-x-generic"
std::vector<std::string> IconNames(const Database& db, const std::string& type) {
    std::vector<std::string> names;
    auto add = [&names](const std::string& name) {
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    };
    if (auto found = db.typeIcons.find(type); found != db.typeIcons.end())
        add(found->second);
    std::string dashed = type;
    std::replace(dashed.begin(), dashed.end(), '/', '-');
    add(dashed);
    if (auto found = db.genericIcons.find(type); found != db.genericIcons.end())
        add(found->second);
    add(type.substr(0, type.find('/')) + "-x-generic");
    return names;
}

// The icon theme the user chose for GTK programs, when a settings file names one.
std::string UserTheme() {
    std::string config;
    if (const char* value = std::getenv("XDG_CONFIG_HOME"); value != nullptr && value[0] == '/')
        config = value;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        config = std::string(home) + "/.config";
    if (config.empty())
        return {};
    for (const char* file : {"/gtk-4.0/settings.ini", "/gtk-3.0/settings.ini"}) {
        for (const std::string& line : Lines(config + file)) {
            const std::size_t equals = line.find('=');
            if (equals == std::string::npos)
                continue;
            std::string key = line.substr(0, equals);
            std::string value = line.substr(equals + 1);
            key.erase(key.find_last_not_of(" \t") + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            // A name with a separator would leave the icons folder.
            if (key == "gtk-icon-theme-name" && !value.empty() && value.find('/') == std::string::npos &&
                value != "." && value != "..")
                return value;
        }
    }
    return {};
}

bool IsFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A PNG between 32 and 64 pixels (the closer to 48 the better), else a
// scalable SVG, else the PNG of the nearest size.
std::string FindInTheme(const std::vector<ThemeFolder>& folders, const std::string& name) {
    std::string best;
    int bestScore = 0;
    for (const ThemeFolder& folder : folders) {
        int score = 0;
        std::string path;
        if (folder.scalable) {
            path = folder.path + "/" + name + ".svg";
            score = 900;
        } else {
            path = folder.path + "/" + name + ".png";
            const int distance = std::abs(folder.size - 48);
            score = folder.size >= 32 && folder.size <= 64 ? 1000 - distance : 800 - std::min(distance, 700);
        }
        if (score > bestScore && IsFile(path)) {
            best = path;
            bestScore = score;
        }
    }
    return best;
}

Bytes ThemeIcon(const std::vector<std::string>& names, const char* purpose) {
    std::shared_ptr<Database> db = CurrentDatabase();
    std::vector<std::string> themes;
    for (const std::string& theme : {UserTheme(), std::string("Adwaita"), std::string("hicolor")}) {
        if (!theme.empty() && std::find(themes.begin(), themes.end(), theme) == themes.end())
            themes.push_back(theme);
    }
    for (const std::string& name : names) {
        for (const std::string& theme : themes) {
            const std::string path = FindInTheme(ThemeOf(*db, theme), name);
            if (path.empty())
                continue;
            Bytes bytes = File::readFile(Utils::utf8ToUtf16(path));
            if (!bytes.empty())
                return bytes;
            Logger_WarnF(kSource, __LINE__, "the icon %s cannot be read", path.c_str());
        }
    }
    Logger_InfoF(kSource, __LINE__, "no icon theme offers %s %s", purpose, names.empty() ? "" : names[0].c_str());
    return {};
}

}  // namespace

Bytes FileIconImage(const std::wstring& path) {
    std::shared_ptr<Database> db = CurrentDatabase();
    const std::string name = Utils::utf16ToUtf8(File::Name(path));
    const std::string type = MimeTypeOf(*db, name);
    if (type.empty()) {
        Logger_DebugF(kSource, __LINE__, "no MIME type known for %s", name.c_str());
        return {};
    }
    return ThemeIcon(IconNames(*db, type), "the type's icon");
}

Bytes SystemDefaultIcon() {
    return ThemeIcon({"text-x-generic", "application-x-generic"}, "a generic file icon");
}

}  // namespace fileicon
