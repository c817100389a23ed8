// Utils on Linux. Wide strings are UTF-32 and the "ANSI" code page is UTF-8;
// processes are started with posix_spawn, system facts come from uname, /proc
// and /etc. Windows-only services return their failure value and log once.
#include "../utils.h"

#include "../file.h"
#include "../logger.h"
#include "../processtree.h"

#include "posixhelpers.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <wctype.h>

namespace fendrel::posix {
int SpawnDetached(const std::vector<std::string>& argv, pid_t& pid);
int SpawnDetachedIn(const std::vector<std::string>& argv, const std::string& directory, pid_t& pid);
std::vector<std::string> SplitCommandWords(const std::string& line);
}

namespace {

using fendrel::posix::CommandLineArgv;
using fendrel::posix::SpawnSetup;
using fendrel::posix::SplitWords;
using fendrel::posix::WaitChild;

void LogNoLinuxMeaning(std::atomic_flag& logged, const char* what) {
    if (!logged.test_and_set()) {
        LOG_INFO("%s has no Linux counterpart; reporting failure", what);
    }
}

// ---------------------------------------------------------------- UTF-8

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Strict decoder: overlong forms, surrogates and values above U+10FFFF are
// invalid, and each maximal invalid subsequence becomes one U+FFFD (the rule
// the Windows converter follows too).
std::wstring DecodeUtf8(const char* data, std::size_t size) {
    std::wstring out;
    out.reserve(size);
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            ++i;
            continue;
        }
        int need = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        std::uint32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1, cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2, cp = b & 0x0F;
            lo = b == 0xE0 ? 0xA0 : 0x80;
            hi = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3, cp = b & 0x07;
            lo = b == 0xF0 ? 0x90 : 0x80;
            hi = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            out.push_back(L'\xFFFD');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        int got = 0;
        while (got < need && j < size) {
            const unsigned char c = s[j];
            if (c < (got == 0 ? lo : 0x80) || c > (got == 0 ? hi : 0xBF)) {
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
            ++j, ++got;
        }
        out.push_back(got == need ? static_cast<wchar_t>(cp) : L'\xFFFD');
        i = j;
    }
    return out;
}

std::string EncodeUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        AppendUtf8(out, static_cast<std::uint32_t>(wc));
    }
    return out;
}

// ---------------------------------------------------------------- system facts

std::string ReadFirstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

std::string ArchitectureName(const std::string& machine) {
    if (machine == "x86_64" || machine == "amd64") {
        return "amd64";
    }
    if (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) {
        return "x86";
    }
    if (machine == "aarch64" || machine.compare(0, 5, "arm64") == 0) {
        return "arm64";
    }
    if (machine.compare(0, 3, "arm") == 0) {
        return "arm";
    }
    if (machine == "ia64") {
        return "ia64";
    }
    return {};
}

std::string KernelMajorMinor() {
    utsname u{};
    if (uname(&u) != 0) {
        return ".";
    }
    unsigned major = 0, minor = 0;
    if (std::sscanf(u.release, "%u.%u", &major, &minor) != 2) {
        return ".";
    }
    return std::to_string(major) + "." + std::to_string(minor);
}

bool IsMachineId(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// Hardware values when the system has no machine id: host name, the MAC
// addresses of the network interfaces, the processor model, the processor
// count and the root file system's id, hashed with djb2.
std::string HardwareHash() {
    std::string text;
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) == 0) {
        text += host;
    }
    std::vector<std::string> macs;
    if (DIR* dir = opendir("/sys/class/net")) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == "lo") {
                continue;
            }
            const std::string mac = ReadFirstLine(("/sys/class/net/" + name + "/address").c_str());
            if (!mac.empty() && mac != "00:00:00:00:00:00") {
                macs.push_back(mac);
            }
        }
        closedir(dir);
    }
    std::sort(macs.begin(), macs.end());  // readdir order is not stable
    for (const auto& mac : macs) {
        text += mac;
    }
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.compare(0, 10, "model name") == 0 || line.compare(0, 9, "vendor_id") == 0) {
            text += line.substr(line.find(':') == std::string::npos ? 0 : line.find(':') + 1);
            break;
        }
    }
    const int cpus = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_CONF)));
    struct statvfs fs {};
    const int volume = statvfs("/", &fs) == 0 ? static_cast<int>(fs.f_fsid & 0x7FFFFFFF) : 0;

    char buffer[64];
    std::string source = text;
    std::snprintf(buffer, sizeof(buffer), "%d%d", cpus, volume);
    source += buffer;

    std::uint32_t hash = 5381;
    for (char c : source) {
        hash = hash * 33 + static_cast<unsigned char>(c);
    }
    std::snprintf(buffer, sizeof(buffer), "%ld-%d-%d", static_cast<long>(static_cast<std::int32_t>(hash)), cpus, volume);
    return buffer;
}

std::string ComputeMachineId() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        const std::string id = ReadFirstLine(path);
        if (IsMachineId(id)) {
            return id;
        }
    }
    LOG_INFO("No machine id found; using the hardware hash");
    return HardwareHash();
}

struct LanguageEntry {
    const char* code;
    LANGID primary;
};

// Windows primary language identifiers of the common languages.
constexpr LanguageEntry kLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06}, {"de", 0x07},
    {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C}, {"he", 0x0D}, {"hu", 0x0E},
    {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12}, {"nl", 0x13}, {"nb", 0x14}, {"no", 0x14},
    {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1A}, {"sk", 0x1B}, {"sv", 0x1D},
    {"th", 0x1E}, {"tr", 0x1F}, {"id", 0x21}, {"uk", 0x22}, {"sl", 0x24}, {"et", 0x25}, {"lv", 0x26},
    {"lt", 0x27}, {"vi", 0x2A}, {"hi", 0x39}};

constexpr LANGID kEnglishUs = 0x0409;

}  // namespace

// ---------------------------------------------------------------- conversions

std::wstring Utils::utf8ToUtf16(const std::string& text) {
    return DecodeUtf8(text.c_str(), std::strlen(text.c_str()));
}

std::string Utils::utf16ToUtf8(const std::wstring& text) {
    return EncodeUtf8(text);
}

std::wstring Utils::AnsiToUtf16(const std::string& text) {
    // The Linux "code page" is UTF-8 and, like CP_UTF8 on Windows, it has no
    // composite (decomposing) mode.
    return DecodeUtf8(text.data(), text.size());
}

std::string Utils::Utf16ToAnsi(const std::wstring& text) {
    return EncodeUtf8(text);
}

std::string Utils::Base64EncodeUTF8(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                                (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                                static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 0x3F];
        out += kAlphabet[(v >> 6) & 0x3F];
        out += kAlphabet[v & 0x3F];
    }
    if (i < bytes.size()) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        const bool two = i + 1 < bytes.size();
        if (two) {
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 0x3F];
        out += two ? kAlphabet[(v >> 6) & 0x3F] : '=';
        out += '=';
    }
    return out;
}

std::wstring Utils::toLower(const std::wstring& text) {
    // The process may run in the "C" locale, whose towlower knows ASCII only;
    // C.UTF-8 has the full Unicode case tables and needs nothing installed.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    std::wstring out(text);
    for (auto& c : out) {
        c = utf8 ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), utf8))
                 : static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
    }
    return out;
}

std::wstring Utils::hresultToWString(HRESULT code) {
    const auto value = static_cast<std::uint32_t>(code);
    // A Win32-facility code wrapping a system error number (as returned by the
    // process functions here) is described by the C library.
    if ((value & 0xFFFF0000u) == 0x80070000u && (value & 0xFFFF) != 0) {
        char buffer[256];
        const char* text = strerror_r(static_cast<int>(value & 0xFFFF), buffer, sizeof(buffer));
        if (text != nullptr && std::strncmp(text, "Unknown error", 13) != 0) {
            return utf8ToUtf16(text);
        }
    }
    wchar_t fallback[40];
    std::swprintf(fallback, sizeof(fallback) / sizeof(fallback[0]), L"Unknown error (0x%08X)", value);
    return fallback;
}

// ---------------------------------------------------------------- system facts

bool Utils::isNotWin8OrGreater() {
    return false;
}

bool Utils::Is64BitSystem() {
    utsname u{};
    if (uname(&u) != 0) {
        return false;
    }
    const std::string machine = u.machine;
    return machine.find("64") != std::string::npos || machine == "s390x" || machine == "alpha";
}

std::string Utils::GetSystem() {
    static const std::string text = KernelMajorMinor();
    return text;
}

std::string Utils::GetKernelVersion() {
    // Opaque text for logs and reports: "Linux <release> <architecture>".
    static const std::string text = [] {
        utsname u{};
        if (uname(&u) != 0) {
            return std::string("Linux");
        }
        std::string result = std::string("Linux ") + u.release;
        const std::string arch = ArchitectureName(u.machine);
        if (!arch.empty()) {
            result += " " + arch;
        }
        return result;
    }();
    return text;
}

std::string Utils::generateHash() {
    static const std::string id = ComputeMachineId();
    return id;
}

int Utils::IsRunAsAdmin() {
    return geteuid() == 0 ? 1 : 0;
}

int Utils::IsProcessElevated() {
    return geteuid() == 0 ? 1 : 0;
}

int Utils::enablePrivilege(const std::wstring& privilegeName) {
    static std::atomic_flag logged = ATOMIC_FLAG_INIT;
    LogNoLinuxMeaning(logged, "enablePrivilege (token privileges)");
    return 0;
}

bool Utils::IsProcessRunning(const std::wstring& executablePath) {
    // Linux paths are case-sensitive, so the image path must match exactly; a
    // different file that differs only in case is another program.
    const std::string wanted = EncodeUtf8(executablePath);
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) {
            continue;
        }
        char target[4096];
        const std::string link = std::string("/proc/") + entry->d_name + "/exe";
        const ssize_t n = readlink(link.c_str(), target, sizeof(target));
        if (n <= 0 || n == static_cast<ssize_t>(sizeof(target))) {
            continue;  // another user's process, a kernel thread, or gone
        }
        std::string image(target, static_cast<std::size_t>(n));
        static const std::string kDeleted = " (deleted)";  // the binary was replaced while running
        if (image.size() > kDeleted.size() && image.compare(image.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
            image.resize(image.size() - kDeleted.size());
        }
        if (image == wanted) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

int Utils::ChangeWndMessageFilterOk(unsigned int message, int allow) {
    static std::atomic_flag logged = ATOMIC_FLAG_INIT;
    LogNoLinuxMeaning(logged, "ChangeWndMessageFilterOk (window message filter)");
    return 0;
}

LANGID Utils::UserDefaultLangId() {
    // The locale categories in POSIX priority order; an empty value counts as unset.
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            locale = value;
            break;
        }
    }
    // language[_region][.codeset][@modifier]
    const std::string base = locale.substr(0, locale.find_first_of(".@"));
    const auto underscore = base.find('_');
    const std::string language = base.substr(0, underscore);
    const std::string region = underscore == std::string::npos ? std::string() : base.substr(underscore + 1);
    for (const auto& entry : kLanguages) {
        if (language == entry.code) {
            // Sub-language 1 (the primary region) except for Chinese, where 1
            // is Taiwan and the mainland's simplified script is 2 (0x0804).
            const LANGID sub = entry.primary == 0x04 && (region == "CN" || region == "SG") ? 2 : 1;
            return static_cast<LANGID>(entry.primary | (sub << 10));
        }
    }
    return kEnglishUs;  // C, POSIX, unset and languages outside the table
}

// ---------------------------------------------------------------- processes

namespace fendrel::posix {

// Starts argv in its own process group without waiting for it; used for
// programs the user opens. 0 and the pid, or the errno of the failed start.
int SpawnDetached(const std::vector<std::string>& argv, pid_t& pid) {
    return SpawnDetachedIn(argv, std::string(), pid);
}

// As SpawnDetached, started in a working directory unless it is empty.
int SpawnDetachedIn(const std::vector<std::string>& argv, const std::string& directory, pid_t& pid) {
    SpawnSetup setup;
    setup.NewGroup();
    if (!directory.empty()) {
        setup.WorkingDirectory(directory);
    }
    const int error = setup.Start(argv, pid);
    if (error == 0) {
        fendrel::posix::ReapInBackground(pid);
    }
    return error;
}

// Parameters as a Windows program's start-up code splits them.
std::vector<std::string> SplitCommandWords(const std::string& line) {
    return SplitWords(line);
}

}  // namespace fendrel::posix

DWORD Utils::runApp(const std::wstring& file, const std::wstring& parameters, const std::wstring& verb) {
    if (toLower(verb) == L"runas") {
        // Linux has no elevation prompt to ask; a graphical sudo front end
        // would be a different program with its own policy.
        LOG_WARN("runApp: elevation (verb runas) is not available on Linux");
        return EPERM;
    }
    const std::string path = EncodeUtf8(file);
    std::vector<std::string> argv;
    if (path.find('/') != std::string::npos && access(path.c_str(), F_OK) == 0 && access(path.c_str(), X_OK) != 0) {
        // A document, not a program: hand it to the desktop's opener.
        argv = {"xdg-open", path};
    } else {
        argv = {path};
        for (auto& word : SplitWords(EncodeUtf8(parameters))) {
            argv.push_back(std::move(word));
        }
    }
    pid_t pid = 0;
    const int error = fendrel::posix::SpawnDetached(argv, pid);
    if (error != 0) {
        LOG_WARN("runApp: cannot start %s (errno %d)", path.c_str(), error);
        return static_cast<DWORD>(error);
    }
    return static_cast<DWORD>(pid);
}

DWORD Utils::CreateHiddenWindowProcess(const std::wstring& commandLine, void* reserved, HANDLE output) {
    SpawnSetup setup;
    if (output != nullptr) {
        const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(output));
        setup.Redirect(fd, 1);
        setup.Redirect(fd, 2);
    }
    pid_t pid = 0;
    const int error = setup.Start(CommandLineArgv(EncodeUtf8(commandLine)), pid);
    if (error != 0) {
        return static_cast<DWORD>(error);
    }
    WaitChild(pid);
    return 0;
}

std::wstring Utils::CreateProcessWithReturnedData(const std::wstring& commandLine) {
    // Close-on-exec on both ends: a child started by another thread at the
    // same moment must not inherit the write end, or the read below would
    // wait for that unrelated child too.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return L"error|" + std::to_wstring(errno);
    }
    pid_t pid = 0;
    int error;
    {
        SpawnSetup setup;
        setup.NullInput();
        setup.Redirect(fds[1], 1);
        setup.Redirect(fds[1], 2);
        error = setup.Start(CommandLineArgv(EncodeUtf8(commandLine)), pid);
    }
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        return L"error|" + std::to_wstring(error);
    }
    // Read while the child runs: it blocks as soon as it has written a pipe's worth.
    std::string output;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof(buffer));
        if (n > 0) {
            output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(fds[0]);
    WaitChild(pid);
    return AnsiToUtf16(output);
}

DWORD Utils::CreateAndWaitProcessB(const std::wstring& commandLine, LPSTARTUPINFOW startupInfo) {
    return ProcessTree::ProcessTreeWaiter(std::wstring(), commandLine, startupInfo);
}
