// The installed-software export tool: one inventory entry per installed
// program, gathered by the platform half (bcu-console_win32.cpp reads the
// Uninstall keys, bcu-console_posix.cpp asks dpkg, flatpak and snap), and
// written as JSON by bcu-console.cpp. docs/installed-software.md has the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bcu {

// All text is UTF-8. Empty strings are written as null.
struct Program {
    std::string name;
    std::string version;
    std::string publisher;
    std::string installLocation;
    std::string uninstallCommand;
    // The command only works in a terminal (it asks for a password there);
    // the page shows it instead of running it.
    bool uninstallInTerminal = false;
    std::optional<std::int64_t> estimatedSize;  // bytes
    std::string source;                         // "registry-machine-64", "dpkg", ...
    std::string id;                             // unique within source
};

// How one place the tool looks at went. A source that is "missing" (the
// tool or key is not on this system) is not an error; "failed" is.
struct SourceReport {
    std::string name;
    std::string status;  // "ok", "missing" or "failed"
    std::size_t count = 0;
    std::string detail;  // why, for "missing" and "failed"
};

struct Options {
    bool quiet = false;    // /Q: nothing on standard output
    bool user = false;     // /U: include installs of the current user only
    bool verbose = false;  // /V: one line per source on standard error
};

struct Inventory {
    std::vector<Program> programs;
    std::vector<SourceReport> sources;
};

// The platform half. Failures of single sources are recorded in the
// inventory's sources and written to standard error; nothing throws.
Inventory CollectPrograms(const Options& options);

// "Windows 10.0.19045 x86-64", "Debian GNU/Linux 12 (bookworm) x86-64".
std::string SystemName();

// Replaces the file at path (UTF-8) with bytes in one step: they are
// written and flushed under another name in the same folder, then renamed
// over it. False, with the reason in error, when that fails; the old file
// is then untouched and the other name removed.
bool ReplaceFileContents(const std::string& path, const std::string& bytes, std::string& error);

#if defined(_WIN32)
std::string ToUtf8(const wchar_t* text);
#endif

// One line to standard error: every failure, and with /V the progress.
void Note(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace bcu
