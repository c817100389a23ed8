// dumper <process id> <thread id> <exception-information pointer> <version> <text> <text>
//
// Started by the program's unhandled-exception filter, which waits for it
// with the crashed thread: it writes a minidump of that process and a short
// text report into the folder "crash" beside the log, named
// crash-YYYYMMDD-HHMMSS-<pid>.dmp/.txt (UTC). The program starts it in the
// log's folder, so the folder rule is the logger's own with logging off: the
// current folder. Nothing here waits on the crashed process.
//
// Exit codes: 0 both files written, 2 bad command line, 3 the process cannot
// be opened, 4 the minidump failed, 5 the report folder or text cannot be
// written. Every failure prints one line and lands in the text report.
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <windows.h>
#include <dbghelp.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int kBadCommandLine = 2;
constexpr int kNoProcess = 3;
constexpr int kDumpFailed = 4;
constexpr int kNoReport = 5;

// Module data and the handle table on top of stacks and the exception:
// enough to see globals and open handles, without the whole heap's size.
constexpr MINIDUMP_TYPE kDumpType = static_cast<MINIDUMP_TYPE>(MiniDumpWithDataSegs | MiniDumpWithHandleData |
                                                               MiniDumpWithUnloadedModules);

// Decimal, or hexadecimal with or without "0x": every character a digit,
// nothing left over, no overflow.
bool ParseNumber(const wchar_t* text, unsigned base, std::uint64_t limit, std::uint64_t& value) {
    if (base == 16 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
        text += 2;
    if (*text == L'\0')
        return false;
    value = 0;
    for (; *text != L'\0'; ++text) {
        unsigned digit = 0;
        if (*text >= L'0' && *text <= L'9')
            digit = static_cast<unsigned>(*text - L'0');
        else if (base == 16 && *text >= L'a' && *text <= L'f')
            digit = static_cast<unsigned>(*text - L'a' + 10);
        else if (base == 16 && *text >= L'A' && *text <= L'F')
            digit = static_cast<unsigned>(*text - L'A' + 10);
        else
            return false;
        if (value > (limit - digit) / base)
            return false;
        value = value * base + digit;
    }
    return true;
}

struct Arguments {
    DWORD processId = 0;
    DWORD threadId = 0;
    std::uintptr_t exceptionPointers = 0;  // an address in the crashed process
    std::string version, first, second;    // UTF-8
};

bool ParseArguments(int argc, wchar_t** argv, Arguments& args) {
    if (argc != 7) {
        std::fwprintf(stderr,
                      L"dumper: usage: dumper <process id> <thread id> <exception pointer> <version> <text> <text>\n");
        return false;
    }
    std::uint64_t processId = 0, threadId = 0, pointer = 0;
    if (!ParseNumber(argv[1], 10, 0xFFFFFFFFu, processId) || processId == 0) {
        std::fwprintf(stderr, L"dumper: bad process id \"%ls\"\n", argv[1]);
        return false;
    }
    if (!ParseNumber(argv[2], 10, 0xFFFFFFFFu, threadId) || threadId == 0) {
        std::fwprintf(stderr, L"dumper: bad thread id \"%ls\"\n", argv[2]);
        return false;
    }
    if (!ParseNumber(argv[3], 16, UINTPTR_MAX, pointer) || pointer == 0) {
        std::fwprintf(stderr, L"dumper: bad exception pointer \"%ls\"\n", argv[3]);
        return false;
    }
    args.processId = static_cast<DWORD>(processId);
    args.threadId = static_cast<DWORD>(threadId);
    args.exceptionPointers = static_cast<std::uintptr_t>(pointer);
    args.version = Utils::utf16ToUtf8(argv[4]);
    args.first = Utils::utf16ToUtf8(argv[5]);
    args.second = Utils::utf16ToUtf8(argv[6]);
    return true;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    return text;
}

// The failures of this run: printed at once, and written into the report.
class Findings {
public:
    void Fail(const std::string& line) {
        std::fprintf(stderr, "dumper: %s\n", line.c_str());
        std::fflush(stderr);
        m_lines += "error: " + line + "\r\n";
    }
    const std::string& Lines() const { return m_lines; }

private:
    std::string m_lines;
};

// The exception code and address, read from the crashed process: the
// pointers in the command line are that process's addresses.
std::string DescribeException(HANDLE process, std::uintptr_t pointers, Findings& findings) {
    EXCEPTION_POINTERS exceptionPointers{};
    EXCEPTION_RECORD record{};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(pointers), &exceptionPointers,
                           sizeof exceptionPointers, &read) ||
        read != sizeof exceptionPointers ||
        !ReadProcessMemory(process, exceptionPointers.ExceptionRecord, &record, sizeof record, &read) ||
        read != sizeof record) {
        findings.Fail(Format("the exception record cannot be read from the process (error %lu)",
                             static_cast<unsigned long>(GetLastError())));
        return "exception: unknown\r\n";
    }
    return Format("exception: 0x%08lX at 0x%llx\r\n", static_cast<unsigned long>(record.ExceptionCode),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(record.ExceptionAddress)));
}

// Writes the minidump; false (the partial file removed) when it fails.
bool WriteDump(HANDLE process, const Arguments& args, bool withException, const std::wstring& path,
               Findings& findings) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        findings.Fail(Format("cannot create %s (error %lu)", Utils::utf16ToUtf8(path).c_str(),
                             static_cast<unsigned long>(GetLastError())));
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = args.threadId;
    exception.ExceptionPointers = reinterpret_cast<PEXCEPTION_POINTERS>(args.exceptionPointers);
    exception.ClientPointers = TRUE;  // the pointer belongs to the crashed process
    const BOOL written = MiniDumpWriteDump(process, args.processId, file, kDumpType,
                                           withException ? &exception : nullptr, nullptr, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!written) {
        DeleteFileW(path.c_str());
        findings.Fail(Format("MiniDumpWriteDump failed (error 0x%08lX)", static_cast<unsigned long>(error)));
        return false;
    }
    return true;
}

bool WriteText(const std::wstring& path, const std::string& text, Findings& findings) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ok)
        findings.Fail(Format("cannot write %s (error %lu)", Utils::utf16ToUtf8(path).c_str(),
                             static_cast<unsigned long>(error)));
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Arguments args;
    if (!ParseArguments(argc, argv, args))
        return kBadCommandLine;

    Findings findings;
    SYSTEMTIME now{};
    GetSystemTime(&now);
    const std::wstring folder = Logger_Folder() + L"\\crash";
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        findings.Fail(Format("cannot create the folder %s (error %lu)", Utils::utf16ToUtf8(folder).c_str(),
                             static_cast<unsigned long>(GetLastError())));
        return kNoReport;
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"crash-%04u%02u%02u-%02u%02u%02u-%lu", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, static_cast<unsigned long>(args.processId));
    const std::wstring base = folder + L"\\" + name;

    std::string report = "Clean crash report\r\n";
    report += "version: " + args.version + "\r\n";
    report += "identification: " + args.first + " / " + args.second + "\r\n";
    report += Format("time: %04u-%02u-%02u %02u:%02u:%02u UTC\r\n", now.wYear, now.wMonth, now.wDay, now.wHour,
                     now.wMinute, now.wSecond);
    report += Format("process: %lu\r\nthread: %lu\r\n", static_cast<unsigned long>(args.processId),
                     static_cast<unsigned long>(args.threadId));

    int exitCode = 0;
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, args.processId);
    if (process == nullptr) {
        findings.Fail(Format("cannot open process %lu (error %lu)", static_cast<unsigned long>(args.processId),
                             static_cast<unsigned long>(GetLastError())));
        exitCode = kNoProcess;
    } else {
        // The exception information is only trusted for a thread of that process.
        bool threadOfProcess = false;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, args.threadId);
        if (thread == nullptr) {
            findings.Fail(Format("cannot open thread %lu (error %lu)", static_cast<unsigned long>(args.threadId),
                                 static_cast<unsigned long>(GetLastError())));
        } else {
            threadOfProcess = GetProcessIdOfThread(thread) == args.processId;
            if (!threadOfProcess)
                findings.Fail(Format("thread %lu is not a thread of process %lu",
                                     static_cast<unsigned long>(args.threadId),
                                     static_cast<unsigned long>(args.processId)));
            CloseHandle(thread);
        }
        report += threadOfProcess ? DescribeException(process, args.exceptionPointers, findings)
                                  : std::string("exception: unknown\r\n");
        if (WriteDump(process, args, threadOfProcess, base + L".dmp", findings))
            report += "minidump: " + Utils::utf16ToUtf8(std::wstring(name)) + ".dmp\r\n";
        else
            exitCode = kDumpFailed;
        CloseHandle(process);
    }
    report += findings.Lines();
    if (!WriteText(base + L".txt", report, findings))
        return kNoReport;
    std::printf("crash report written to %s.txt\n", Utils::utf16ToUtf8(base).c_str());
    return exitCode;
}
