#include "../userdirs.h"

#include "../logger.h"
#include "posixhelpers.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace {

struct DefaultFolder {
    const char* key;
    const char* name;
};

// The folder names xdg-user-dirs gives an English session.
constexpr DefaultFolder kDefaults[] = {
    {"DESKTOP", "Desktop"},     {"DOWNLOAD", "Downloads"}, {"TEMPLATES", "Templates"}, {"PUBLICSHARE", "Public"},
    {"DOCUMENTS", "Documents"}, {"MUSIC", "Music"},        {"PICTURES", "Pictures"},   {"VIDEOS", "Videos"}};

void SkipBlanks(const std::string& line, std::size_t& i) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
}

// The key of an assignment line XDG_<key>_DIR = "...", and where the value's
// opening quote is; false for comments and anything else.
bool SplitLine(const std::string& line, std::string& key, std::size_t& quote) {
    std::size_t i = 0;
    SkipBlanks(line, i);
    if (line.compare(i, 4, "XDG_") != 0)
        return false;
    const std::size_t start = i + 4;
    const std::size_t end = line.find("_DIR", start);
    if (end == std::string::npos || end == start)
        return false;
    key = line.substr(start, end - start);
    i = end + 4;
    SkipBlanks(line, i);
    if (i >= line.size() || line[i] != '=')
        return false;
    ++i;
    SkipBlanks(line, i);
    if (i >= line.size() || line[i] != '"')
        return false;
    quote = i;
    return true;
}

// The value after the opening quote: "$HOME" or "$HOME/..." is below home,
// anything else must be absolute; a backslash takes the next character as it
// is. Empty when the line does not qualify.
std::string ParseValue(const std::string& line, std::size_t quote, const std::string& home) {
    std::size_t i = quote + 1;
    std::string path;
    if (line.compare(i, 5, "$HOME") == 0) {
        i += 5;
        if (i < line.size() && line[i] != '/' && line[i] != '"')
            return {};  // "$HOMEWORK" is not the home folder
        if (home.empty())
            return {};
        path = home;
    } else if (i >= line.size() || line[i] != '/') {
        return {};
    }
    for (; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size())
            ++i;
        path.push_back(line[i]);
    }
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Inside double quotes a shell would still expand these.
std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\' || c == '$' || c == '`')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string UserDirs::Home() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

std::string UserDirs::FilePath() {
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return std::string(config) + "/user-dirs.dirs";
    const std::string home = Home();
    return home.empty() ? std::string() : home + "/.config/user-dirs.dirs";
}

std::string UserDirs::Default(const std::string& key, const std::string& home) {
    if (home.empty())
        return {};
    for (const auto& folder : kDefaults) {
        if (key == folder.key)
            return home + "/" + folder.name;
    }
    return {};
}

std::string UserDirs::Parse(const std::string& text, const std::string& key, const std::string& home) {
    std::istringstream lines(text);
    std::string result;
    for (std::string line; std::getline(lines, line);) {
        std::string lineKey;
        std::size_t quote = 0;
        if (!SplitLine(line, lineKey, quote) || lineKey != key)
            continue;
        const std::string value = ParseValue(line, quote, home);
        if (!value.empty())
            result = value;
    }
    return result;
}

std::string UserDirs::Update(const std::string& text, const std::string& key, const std::string& path,
                             const std::string& home) {
    std::string value;
    if (!home.empty() && home != "/" && path.compare(0, home.size(), home) == 0 &&
        (path.size() == home.size() || path[home.size()] == '/'))
        value = "$HOME" + Escape(path.substr(home.size()));
    else
        value = Escape(path);
    const std::string entry = "XDG_" + key + "_DIR=\"" + value + "\"";

    std::vector<std::string> lines;
    std::istringstream in(text);
    std::size_t last = std::string::npos;
    for (std::string line; std::getline(in, line);) {
        std::string lineKey;
        std::size_t quote = 0;
        if (SplitLine(line, lineKey, quote) && lineKey == key)
            last = lines.size();
        lines.push_back(line);
    }
    if (last != std::string::npos)
        lines[last] = entry;
    else
        lines.push_back(entry);
    std::string out;
    for (const auto& line : lines)
        out += line + "\n";
    return out;
}

std::string UserDirs::Folder(const std::string& key) {
    const std::string home = Home();
    const std::string file = FilePath();
    const std::string found = file.empty() ? std::string() : Parse(ReadAll(file), key, home);
    return found.empty() ? Default(key, home) : found;
}

bool UserDirs::SetFolder(const std::string& key, const std::string& path) {
    const std::string file = FilePath();
    if (key.empty() || path.empty() || path[0] != '/' || path.find_first_of("\n\r") != std::string::npos ||
        file.empty()) {
        LOG_WARN("UserDirs: cannot set %s to \"%s\": an absolute one-line path is needed", key.c_str(), path.c_str());
        return false;
    }
    // The configuration folder is private to the user (XDG base directories).
    if (!fendrel::posix::CreateFolders(file.substr(0, file.rfind('/')), 0700)) {
        LOG_WARN("UserDirs: cannot create the folder of %s (errno %d)", file.c_str(), errno);
        return false;
    }
    const int error = fendrel::posix::ReplaceFile(file, Update(ReadAll(file), key, path, Home()), 0644);
    if (error != 0) {
        LOG_WARN("UserDirs: cannot write %s: %s", file.c_str(), std::strerror(error));
        return false;
    }
    return true;
}
