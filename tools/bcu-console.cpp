// BCU-console: writes the inventory of installed software that the main
// window's "Installed programs" view lists. The program starts it as
//
//   BCU-console export FILE /Q /U /V
//
// and reads FILE when it has ended. FILE is replaced at once (written under
// another name and renamed), so a reader never sees half an inventory.
//
// Exit codes: 0 the inventory was written (sources that could not be read
// are named in it); 1 it could not be written; 2 a wrong command line.
#include "bcu-console.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace bcu {

void Note(const char* format, ...) {
    std::fputs("BCU-console: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace bcu

namespace {

const char kUsage[] = "usage: BCU-console export FILE [/Q] [/U] [/V]   (BCU-console --help for details)\n";

const char kHelp[] =
    "usage: BCU-console export FILE [/Q] [/U] [/V]\n"
    "\n"
    "Writes the programs installed on this computer to FILE as UTF-8 JSON\n"
    "(the format is described in docs/installed-software.md). FILE is replaced\n"
    "in one step: it holds the old contents or the whole new inventory.\n"
    "\n"
    "Windows lists the Uninstall keys of the machine (64-bit and 32-bit views)\n"
    "and, with /U, of the current user. Linux lists dpkg packages, flatpak\n"
    "applications and snaps; a package tool that is not installed is skipped.\n"
    "\n"
    "  /Q  quiet: print nothing on standard output (errors still go to\n"
    "      standard error)\n"
    "  /U  include programs installed for the current user only\n"
    "      (HKEY_CURRENT_USER, flatpak --user installations)\n"
    "  /V  verbose: one line per source on standard error\n"
    "\n"
    "Exit codes: 0 written, 1 FILE could not be written, 2 wrong command line.\n";

bool SameText(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// Appends text as a JSON string. Bytes that are not UTF-8 (a Latin-1
// maintainer name in an old package, a registry value in another code
// page) become U+FFFD: the file must stay valid UTF-8 whatever the system holds.
void AppendString(std::string& out, const std::string& text) {
    out += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
            }
            ++i;
            continue;
        }
        // Length and smallest value of a well-formed sequence starting with c.
        std::size_t length = 0;
        std::uint32_t value = 0, minimum = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2, value = c & 0x1F, minimum = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3, value = c & 0x0F, minimum = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4, value = c & 0x07, minimum = 0x10000;
        }
        bool valid = length != 0 && i + length <= n;
        for (std::size_t k = 1; valid && k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                value = (value << 6) | (p[i + k] & 0x3F);
        }
        valid = valid && value >= minimum && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    out += '"';
}

void AppendTextOrNull(std::string& out, const std::string& text) {
    if (text.empty())
        out += "null";
    else
        AppendString(out, text);
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string ToJson(const bcu::Inventory& inventory, const bcu::Options& options) {
    std::string out = "{\n  \"format\": \"installed-software\",\n  \"formatVersion\": 1,\n  \"exportedAt\": ";
    AppendString(out, UtcNow());
    out += ",\n  \"system\": { \"os\": ";
#if defined(_WIN32)
    AppendString(out, "windows");
#else
    AppendString(out, "linux");
#endif
    out += ", \"name\": ";
    AppendTextOrNull(out, bcu::SystemName());
    out += " },\n  \"userScope\": ";
    out += options.user ? "true" : "false";
    out += ",\n  \"sources\": [";
    for (std::size_t i = 0; i < inventory.sources.size(); ++i) {
        const bcu::SourceReport& source = inventory.sources[i];
        out += i == 0 ? "\n    { \"name\": " : ",\n    { \"name\": ";
        AppendString(out, source.name);
        out += ", \"status\": ";
        AppendString(out, source.status);
        out += ", \"count\": " + std::to_string(source.count) + ", \"detail\": ";
        AppendTextOrNull(out, source.detail);
        out += " }";
    }
    out += inventory.sources.empty() ? "],\n  \"programs\": [" : "\n  ],\n  \"programs\": [";
    for (std::size_t i = 0; i < inventory.programs.size(); ++i) {
        const bcu::Program& program = inventory.programs[i];
        out += i == 0 ? "\n    { \"name\": " : ",\n    { \"name\": ";
        AppendString(out, program.name);
        out += ", \"version\": ";
        AppendTextOrNull(out, program.version);
        out += ", \"publisher\": ";
        AppendTextOrNull(out, program.publisher);
        out += ", \"installLocation\": ";
        AppendTextOrNull(out, program.installLocation);
        out += ", \"uninstallCommand\": ";
        AppendTextOrNull(out, program.uninstallCommand);
        out += ", \"uninstallInTerminal\": ";
        out += program.uninstallInTerminal ? "true" : "false";
        out += ", \"estimatedSize\": ";
        out += program.estimatedSize ? std::to_string(*program.estimatedSize) : "null";
        out += ", \"source\": ";
        AppendString(out, program.source);
        out += ", \"id\": ";
        AppendString(out, program.id);
        out += " }";
    }
    out += inventory.programs.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

int Run(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "/?")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    bcu::Options options;
    bool wrong = args.size() < 2 || !SameText(args[0], "export") || args[1].empty();
    for (std::size_t i = 2; !wrong && i < args.size(); ++i) {
        if (SameText(args[i], "/Q"))
            options.quiet = true;
        else if (SameText(args[i], "/U"))
            options.user = true;
        else if (SameText(args[i], "/V"))
            options.verbose = true;
        else
            wrong = true;
    }
    if (wrong) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string& file = args[1];
    const bcu::Inventory inventory = bcu::CollectPrograms(options);
    std::string error;
    if (!bcu::ReplaceFileContents(file, ToJson(inventory, options), error)) {
        bcu::Note("cannot write %s: %s", file.c_str(), error.c_str());
        return 1;
    }
    if (!options.quiet)
        std::printf("%zu programs written to %s\n", inventory.programs.size(), file.c_str());
    return 0;
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(bcu::ToUtf8(argv[i]));
    return Run(args);
}
#else
int main(int argc, char** argv) {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
