// The crash reporter end to end: a program that crashes on purpose and the
// report it leaves in the folder "crash" beside its log.
#include "fendrel/logger.h"
#include "testutil.h"
#include "toolrun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#  include <dbghelp.h>
#  include <cstring>
#else
#  include <signal.h>
#endif

namespace fs = std::filesystem;

namespace {

// The files of one kind ("txt", "dmp") in the report folder, by name
// (crash-YYYYMMDD-HHMMSS-<pid>.<kind>); anything else there is listed too,
// so a stray name fails the count.
std::vector<fs::path> Reports(const fs::path& logFolder, const std::string& kind) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(logFolder / "crash", ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == "." + kind) {
            EXPECT_TRUE(std::regex_match(name, std::regex(R"(crash-\d{8}-\d{6}-\d+\.)" + kind))) << name;
            found.push_back(entry.path());
        }
    }
    return found;
}

void ExpectIdentification(const std::string& report) {
    EXPECT_NE(report.find("version: 9.8.7.6"), std::string::npos) << report;
    EXPECT_NE(report.find("identification: Crash Test Product / channel-x"), std::string::npos) << report;
    EXPECT_TRUE(std::regex_search(report, std::regex(R"(time: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC)"))) << report;
}

}  // namespace

// Reports go where the log goes: the running log's folder, made absolute
// and plain; with logging off, the current folder (where the program's bare
// "app.log" lands).
TEST(CrashReport, LogFolderIsTheRunningLogsFolderElseTheCurrentOne) {
    ASSERT_FALSE(Logger_IsInitialized());
    EXPECT_EQ(fs::path(Logger_Folder()), fs::current_path());

    testutil::TempDir dir;
    fs::create_directories(dir.path() / "logs");
    const fs::path roundabout = dir.path() / "logs" / ".." / "logs" / "app.log";
    ASSERT_TRUE(Logger_Init(roundabout.string().c_str(), 1 << 20, 1, false));
    const std::wstring folder = Logger_Folder();
    Logger_Shutdown();
    EXPECT_EQ(fs::path(folder), dir.path() / "logs");
    EXPECT_EQ(fs::path(Logger_Folder()), fs::current_path());
}

#if !defined(_WIN32)

TEST(CrashReport, FatalSignalIsReportedBesideTheLogAndStillEndsTheProcess) {
    struct Case {
        const char* kind;
        int signal;
        const char* signalLine;
    };
    // The overflow row needs the handler's own stack.
    const Case cases[] = {
        {"segv", SIGSEGV, "signal: 11 (SIGSEGV), code 1, address 0x0"},
        {"abort", SIGABRT, "signal: 6 (SIGABRT)"},
        {"overflow", SIGSEGV, "signal: 11 (SIGSEGV)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        testutil::TempDir dir;
        const toolrun::Result run = toolrun::Run("crasher", {dir.wstr(), fs::path(c.kind).wstring()});
        EXPECT_EQ(run.code, 128 + c.signal) << run.err;
        EXPECT_NE(testutil::ReadBytes(dir.path() / "app.log").find("crashing by"), std::string::npos);

        const std::vector<fs::path> reports = Reports(dir.path(), "txt");
        ASSERT_EQ(reports.size(), 1u) << run.err;
        EXPECT_NE(run.err.find("crash report written to " + reports[0].string()), std::string::npos) << run.err;
        const std::string report = testutil::ReadBytes(reports[0]);
        ExpectIdentification(report);
        EXPECT_NE(report.find(c.signalLine), std::string::npos) << report;
        // backtrace_symbols_fd names the program and the return address.
        const std::size_t backtrace = report.find("backtrace:\n");
        ASSERT_NE(backtrace, std::string::npos) << report;
        EXPECT_TRUE(std::regex_search(report.substr(backtrace), std::regex(R"(/crasher\(.*\) ?\[0x[0-9a-f]+\])")))
            << report;
    }
}

#else

TEST(CrashReport, UnhandledExceptionStartsTheDumperWhichWritesDumpAndReport) {
    testutil::TempDir dir;
    const toolrun::Result run = toolrun::Run("crasher", {dir.wstr(), L"segv"});
    EXPECT_EQ(static_cast<DWORD>(run.code), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)) << run.err;

    const std::vector<fs::path> reports = Reports(dir.path(), "txt");
    ASSERT_EQ(reports.size(), 1u) << run.err;
    const std::string report = testutil::ReadBytes(reports[0]);
    ExpectIdentification(report);
    EXPECT_TRUE(std::regex_search(report, std::regex(R"(exception: 0xC0000005 at 0x[0-9a-f]+)"))) << report;
    EXPECT_EQ(report.find("error:"), std::string::npos) << report;

    const std::vector<fs::path> dumps = Reports(dir.path(), "dmp");
    ASSERT_EQ(dumps.size(), 1u) << report;
    EXPECT_EQ(dumps[0].stem(), reports[0].stem());
    EXPECT_NE(report.find("minidump: " + dumps[0].filename().string()), std::string::npos) << report;
    const std::string dump = testutil::ReadBytes(dumps[0]);
    ASSERT_GT(dump.size(), sizeof(MINIDUMP_HEADER));
    MINIDUMP_HEADER header{};
    std::memcpy(&header, dump.data(), sizeof header);
    EXPECT_EQ(header.Signature, 0x504d444du);  // "MDMP"
    // The exception stream names the crashed thread and its exception: read
    // from the crashed process through the pointer it passed.
    const MINIDUMP_EXCEPTION_STREAM* exception = nullptr;
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        const std::size_t at = header.StreamDirectoryRva + i * sizeof(MINIDUMP_DIRECTORY);
        ASSERT_LE(at + sizeof(MINIDUMP_DIRECTORY), dump.size());
        MINIDUMP_DIRECTORY entry{};
        std::memcpy(&entry, dump.data() + at, sizeof entry);
        if (entry.StreamType == ExceptionStream) {
            ASSERT_LE(entry.Location.Rva + sizeof(MINIDUMP_EXCEPTION_STREAM), dump.size());
            exception = reinterpret_cast<const MINIDUMP_EXCEPTION_STREAM*>(dump.data() + entry.Location.Rva);
        }
    }
    ASSERT_NE(exception, nullptr);
    EXPECT_EQ(exception->ExceptionRecord.ExceptionCode, static_cast<ULONG32>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_NE(report.find("thread: " + std::to_string(exception->ThreadId) + "\r\n"), std::string::npos) << report;
}

TEST(CrashReport, DumperRefusesABadCommandLine) {
    const std::vector<std::vector<std::wstring>> commandLines = {
        {},
        {L"12", L"34", L"0x1000", L"1.0.0.0", L"a"},
        {L"12", L"34", L"0x1000", L"1.0.0.0", L"a", L"b", L"c"},
        {L"x12", L"34", L"0x1000", L"1.0.0.0", L"a", L"b"},
        {L"0", L"34", L"0x1000", L"1.0.0.0", L"a", L"b"},
        {L"12", L"-34", L"0x1000", L"1.0.0.0", L"a", L"b"},
        {L"12", L"99999999999", L"0x1000", L"1.0.0.0", L"a", L"b"},
        {L"12", L"34", L"0xZZ", L"1.0.0.0", L"a", L"b"},
        {L"12", L"34", L"", L"1.0.0.0", L"a", L"b"},
    };
    for (std::size_t row = 0; row < commandLines.size(); ++row) {
        SCOPED_TRACE(row);
        const toolrun::Result run = toolrun::Run("dumper", commandLines[row]);
        EXPECT_EQ(run.code, 2) << run.err;
        EXPECT_EQ(run.err.find("dumper: "), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

#endif
