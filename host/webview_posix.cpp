#include "host/webview_native.h"

#include "host/messagebox.h"

#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kSource = "host/webview";

// A fatal signal may strike with the heap or any lock broken, so everything
// the handler writes is made beforehand and the handler itself only uses
// calls that are safe in a signal handler (open, write, close, mkdir, ...).
struct ReportSetup {
    char folder[4096];  // <log folder>/crash
    char header[8192];  // the report's first lines: title, version, texts
};

// Two records: the one being filled never is the one a crash may be reading.
ReportSetup g_setups[2];
std::atomic<int> g_current{-1};
std::atomic<bool> g_reporting{false};

std::mutex g_prepareMutex;
std::string g_version = "empty";
std::string g_first = "empty";
std::string g_second = "empty";
bool g_installed = false;

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

const char* SignalName(int signal) {
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

// A line built on the stack, numbers formatted by hand (no printf in a
// signal handler).
class Line {
public:
    Line& Text(const char* text) {
        while (*text != '\0' && m_length < sizeof m_buffer)
            m_buffer[m_length++] = *text++;
        return *this;
    }
    Line& Decimal(std::uint64_t value, int minDigits = 1) {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 || count < minDigits);
        while (count > 0 && m_length < sizeof m_buffer)
            m_buffer[m_length++] = digits[--count];
        return *this;
    }
    Line& Signed(std::int64_t value) {
        if (value < 0)
            Text("-");
        return Decimal(value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
    }
    Line& Hex(std::uintptr_t value) {
        Text("0x");
        char digits[2 * sizeof value];
        int count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value & 0xf];
            value >>= 4;
        } while (value != 0);
        while (count > 0 && m_length < sizeof m_buffer)
            m_buffer[m_length++] = digits[--count];
        return *this;
    }
    const char* Data() const { return m_buffer; }
    std::size_t Length() const { return m_length; }
    // For a path: the text so far, NUL-terminated (false when it did not fit).
    bool Terminate() {
        if (m_length >= sizeof m_buffer)
            return false;
        m_buffer[m_length] = '\0';
        return true;
    }

private:
    char m_buffer[4352];
    std::size_t m_length = 0;
};

void WriteAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

void WriteAll(int fd, const Line& line) {
    WriteAll(fd, line.Data(), line.Length());
}

// Seconds since 1970 as a UTC date and time (days to civil date by the
// proleptic Gregorian rules); localtime is not safe in a signal handler.
struct CivilTime {
    std::int64_t year;
    unsigned month, day, hour, minute, second;
};

CivilTime ToCivil(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    CivilTime t{};
    t.day = static_cast<unsigned>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    t.month = static_cast<unsigned>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
    t.hour = static_cast<unsigned>(rest / 3600);
    t.minute = static_cast<unsigned>(rest / 60 % 60);
    t.second = static_cast<unsigned>(rest % 60);
    return t;
}

void WriteReport(const ReportSetup& setup, int signal, const siginfo_t* info) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const CivilTime t = ToCivil(now.tv_sec);
    const pid_t pid = getpid();

    Line path;
    path.Text(setup.folder).Text("/crash-");
    path.Decimal(static_cast<std::uint64_t>(t.year), 4).Decimal(t.month, 2).Decimal(t.day, 2).Text("-");
    path.Decimal(t.hour, 2).Decimal(t.minute, 2).Decimal(t.second, 2).Text("-");
    path.Decimal(static_cast<std::uint64_t>(pid)).Text(".txt");
    int fd = -1;
    int openError = ENAMETOOLONG;
    if (path.Terminate()) {
        mkdir(setup.folder, 0700);
        fd = open(path.Data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        openError = errno;
    }
    // Without a file the report still goes somewhere a user may see it.
    const int out = fd >= 0 ? fd : STDERR_FILENO;
    if (fd < 0) {
        Line failure;
        failure.Text("crash report: cannot create ").Text(setup.folder).Text("/crash-*.txt (errno ");
        failure.Decimal(static_cast<std::uint64_t>(openError)).Text("); the report follows here\n");
        WriteAll(STDERR_FILENO, failure);
    }

    WriteAll(out, setup.header, std::strlen(setup.header));
    Line facts;
    facts.Text("time: ").Decimal(static_cast<std::uint64_t>(t.year), 4).Text("-").Decimal(t.month, 2).Text("-");
    facts.Decimal(t.day, 2).Text(" ").Decimal(t.hour, 2).Text(":").Decimal(t.minute, 2).Text(":");
    facts.Decimal(t.second, 2).Text(" UTC\n");
    facts.Text("process: ").Decimal(static_cast<std::uint64_t>(pid)).Text("\n");
    facts.Text("thread: ").Decimal(static_cast<std::uint64_t>(syscall(SYS_gettid))).Text("\n");
    facts.Text("signal: ").Decimal(static_cast<std::uint64_t>(signal)).Text(" (").Text(SignalName(signal)).Text(")");
    if (info != nullptr) {
        facts.Text(", code ").Signed(info->si_code);
        if (signal != SIGABRT)
            facts.Text(", address ").Hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    }
    facts.Text("\nbacktrace:\n");
    WriteAll(out, facts);

    void* frames[64];
    const int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, out);

    if (fd >= 0) {
        close(fd);
        Line done;
        done.Text("crash report written to ").Text(path.Data()).Text("\n");
        WriteAll(STDERR_FILENO, done);
    }
}

void CrashHandler(int signal, siginfo_t* info, void*) {
    // One report per process: a second faulting thread waits here until the
    // first one's report is written and the signal ends the process.
    if (g_reporting.exchange(true)) {
        for (;;)
            pause();
    }
    const int saved = errno;
    const int current = g_current.load();
    if (current >= 0)
        WriteReport(g_setups[current], signal, info);
    errno = saved;
    // The default action again, and the signal once more: the process ends
    // by it, with the status and core file that signal gives. It is blocked
    // until this handler returns, and a fault simply recurs then.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

// Under g_prepareMutex: fills the record a crash is not reading and makes it
// the current one.
void PrepareReport() {
    const std::wstring logFolder = Logger_Folder();
    if (logFolder.empty()) {
        Logger_Warn(kSource, __LINE__, "crash reports are off: the log's folder cannot be told");
        g_current.store(-1);
        return;
    }
    const std::string folder = Utils::utf16ToUtf8(logFolder) + "/crash";
    const std::string header = "Clean crash report\nversion: " + g_version + "\nidentification: " + g_first +
                               " / " + g_second + "\n";
    // The record's file names get up to 40 characters more.
    if (folder.size() + 40 >= sizeof(ReportSetup::folder) || header.size() >= sizeof(ReportSetup::header)) {
        Logger_WarnF(kSource, __LINE__, "crash reports are off: the folder %s or the texts are too long",
                     folder.c_str());
        g_current.store(-1);
        return;
    }
    const int next = g_current.load() == 0 ? 1 : 0;
    std::memcpy(g_setups[next].folder, folder.c_str(), folder.size() + 1);
    std::memcpy(g_setups[next].header, header.c_str(), header.size() + 1);
    g_current.store(next);
}

// The handler's own stack: a thread that overflowed its stack has none left.
// Only the thread that installs the handler gets it (the UI thread); another
// thread's overflow ends the process by the signal without a report.
bool GiveThreadSignalStack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0)
        return true;  // one is there already
    const long minimum = sysconf(_SC_SIGSTKSZ);
    const std::size_t size = static_cast<std::size_t>(minimum > 65536 ? minimum : 65536);
    stack_t stack{};
    stack.ss_sp = std::malloc(size);  // lives as long as the thread
    stack.ss_size = size;
    if (stack.ss_sp == nullptr || sigaltstack(&stack, nullptr) != 0) {
        Logger_WarnF(kSource, __LINE__,
                     "no signal stack for the crash reporter (errno %d): a stack overflow goes unreported", errno);
        std::free(stack.ss_sp);
        return false;
    }
    return true;
}

void InstallCrashReporter() {
    std::lock_guard<std::mutex> lock(g_prepareMutex);
    PrepareReport();
    if (g_installed)
        return;
    // The first backtrace loads what it needs (the unwinder library) with
    // the allocator; done here, the handler's call allocates nothing.
    void* frames[4];
    backtrace(frames, 4);
    GiveThreadSignalStack();
    struct sigaction action {};
    action.sa_sigaction = CrashHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    // A second fatal signal inside the handler ends the process at once.
    for (int signal : kFatalSignals)
        sigaddset(&action.sa_mask, signal);
    for (int signal : kFatalSignals) {
        if (sigaction(signal, &action, nullptr) != 0)
            Logger_WarnF(kSource, __LINE__, "the crash reporter cannot take signal %d (errno %d)", signal, errno);
    }
    g_installed = true;
}

}  // namespace

const wchar_t* WebViewLibraryName() {
    return L"libminiblink.so";
}

void SetCrashReportTexts(const std::string& version, const std::string& first, const std::string& second) {
    std::lock_guard<std::mutex> lock(g_prepareMutex);
    g_version = CrashReportText(version);
    g_first = CrashReportText(first);
    g_second = CrashReportText(second);
    PrepareReport();
}

namespace webview_native {

void* OpenLibrary(const std::wstring& path) {
    void* library = dlopen(Utils::utf16ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        Logger_ErrorF("host/webview", __LINE__, "dlopen: %s", dlerror());
    return library;
}

void* Resolve(void* library, const char* name) {
    return dlsym(library, name);
}

void InstallCrashFilter(CrashFilter filter) {
    if (filter == nullptr)
        InstallCrashReporter();
}

void ReportLoadFailure() {
    ShowMessageBox(L"提示", L"加载miniblink失败，无法正常运行程序");
}

void ReportMissingName(const char* name) {
    ShowMessageBox(Utils::utf8ToUtf16(name), L"wke api not found");
}

}  // namespace webview_native
