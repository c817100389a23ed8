#include "fendrel/logger.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <ctime>
#include <regex>
#include <set>
#include <string>
#include <iterator>
#include <thread>
#include <vector>

namespace {

struct Record {
    std::time_t time;
    std::string thread;
    std::string level;
    std::string file;
    int line;
    std::string message;
};

// Splits a log file into records; every line must match the full pattern,
// "\r\n" included, or the test fails.
std::vector<Record> Parse(const std::string& text) {
    // Only the fixed head goes through the regex: libstdc++ matches ".*"
    // recursively, one frame per character, and a long message overflows a
    // Windows thread's stack.
    static const std::regex head(
        R"(\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.\d{3}\] \[thread (\d+)\] \[([a-z]+)\] \[([^\]/\\]*):(\d+)\] )");
    std::vector<Record> records;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        std::string chunk = text.substr(start, end == std::string::npos ? std::string::npos : end + 2 - start);
        start = end == std::string::npos ? text.size() : end + 2;
        std::smatch m;
        const bool ended = chunk.size() >= 2 && chunk.compare(chunk.size() - 2, 2, "\r\n") == 0;
        if (!ended || !std::regex_search(chunk, m, head, std::regex_constants::match_continuous)) {
            ADD_FAILURE() << "malformed log line: " << chunk;
            continue;
        }
        const std::string message = chunk.substr(m.length(0), chunk.size() - 2 - m.length(0));
        std::tm tm{};
        tm.tm_year = std::stoi(m[1]) - 1900;
        tm.tm_mon = std::stoi(m[2]) - 1;
        tm.tm_mday = std::stoi(m[3]);
        tm.tm_hour = std::stoi(m[4]);
        tm.tm_min = std::stoi(m[5]);
        tm.tm_sec = std::stoi(m[6]);
        tm.tm_isdst = -1;
        records.push_back({std::mktime(&tm), m[7], m[8], m[9], std::stoi(m[10]), message});
    }
    return records;
}

std::vector<std::string> Messages(const std::vector<Record>& records) {
    std::vector<std::string> messages;
    for (const auto& r : records)
        messages.push_back(r.message);
    return messages;
}

using PlainFn = void (*)(const char*, std::int32_t, const char*) noexcept;
using WideFn = void (*)(const char*, std::int32_t, const wchar_t*) noexcept;

struct Level {
    PlainFn plain;
    WideFn wide;
    const char* name;
};
const Level kLevels[] = {
    {Logger_Trace, Logger_TraceW, "trace"}, {Logger_Debug, Logger_DebugW, "debug"},
    {Logger_Info, Logger_InfoW, "info"},    {Logger_Warn, Logger_WarnW, "warning"},
    {Logger_Error, Logger_ErrorW, "error"}, {Logger_Critical, Logger_CriticalW, "critical"},
};

class LoggerTest : public ::testing::Test {
protected:
    void TearDown() override { Logger_Shutdown(); }

    std::string PathOf(const char* name) const { return (m_dir.path() / name).string(); }
    std::string Read(const char* name = "app.log") const { return testutil::ReadBytes(m_dir.path() / name); }
    bool Init(bool rotating = true, std::int32_t maxSize = 1 << 20, std::int32_t maxFiles = 3) {
        return Logger_Init(PathOf("app.log").c_str(), maxSize, maxFiles, rotating);
    }

    testutil::TempDir m_dir;
};

TEST_F(LoggerTest, WritesOneFullLinePerRecordWithLevelNameAndShortSourceName) {
    ASSERT_TRUE(Init());
    EXPECT_TRUE(Logger_IsInitialized());
    const int line = __LINE__;
    for (const Level& level : kLevels)
        level.plain(__FILE__, line, level.name);
    Logger_Shutdown();
    EXPECT_FALSE(Logger_IsInitialized());

    auto records = Parse(Read());
    ASSERT_EQ(records.size(), std::size(kLevels));
    std::time_t now = std::time(nullptr);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(kLevels[i].name);
        EXPECT_EQ(records[i].level, kLevels[i].name);
        EXPECT_EQ(records[i].message, kLevels[i].name);
        EXPECT_EQ(records[i].file, "logger_test.cpp");
        EXPECT_EQ(records[i].line, line);
        EXPECT_EQ(records[i].thread, records[0].thread);
        // Local time: a UTC stamp would be off by the zone's offset.
        EXPECT_LE(std::abs(std::difftime(now, records[i].time)), 60.0);
    }
}

TEST_F(LoggerTest, SetLevelDiscardsRecordsBelowIt) {
    ASSERT_TRUE(Init());
    for (int threshold = 0; threshold <= 6; ++threshold) {
        Logger_SetLevel(threshold);
        for (const Level& level : kLevels)
            level.plain(__FILE__, __LINE__, std::to_string(threshold).c_str());
    }
    Logger_Shutdown();

    std::vector<std::vector<std::string>> written(7);
    for (const Record& r : Parse(Read()))
        written[std::stoi(r.message)].push_back(r.level);
    for (int threshold = 0; threshold <= 6; ++threshold) {
        std::vector<std::string> expected;
        for (int i = threshold; i < 6; ++i)
            expected.push_back(kLevels[i].name);
        EXPECT_EQ(written[threshold], expected) << "level " << threshold;
    }
}

TEST_F(LoggerTest, PlainAndWideMessagesAreWrittenVerbatim) {
    ASSERT_TRUE(Init());
    const char* noText = nullptr;
    const wchar_t* noWideText = nullptr;
    Logger_Info(__FILE__, __LINE__, "{} {0} {:>10} %d %s %% 100%");
    Logger_InfoW(__FILE__, __LINE__, L"{} %d %ls caf\u00e9 \u4e2d \U0001F600");
    Logger_Warn(__FILE__, __LINE__, noText);
    Logger_WarnW(__FILE__, __LINE__, noWideText);
    Logger_ErrorF(__FILE__, __LINE__, noText);
    Logger_ErrorWF(__FILE__, __LINE__, noWideText);
    Logger_Shutdown();

    std::vector<std::string> expected = {
        "{} {0} {:>10} %d %s %% 100%",
        "{} %d %ls caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80",
        "", "", "", "",  // no text: an empty record, not a crash
    };
    EXPECT_EQ(Messages(Parse(Read())), expected);
}

TEST_F(LoggerTest, FormattedFormsFollowPrintfRulesAtAnyLength) {
    ASSERT_TRUE(Init());
    const std::string longText(5000, 'a');
    const std::wstring longWide(3000, L'\u00e9');
    Logger_InfoF(__FILE__, __LINE__, "%s=%d %5.2f %% %x {}", "key", 42, 3.14159, 255);
    Logger_WarnWF(__FILE__, __LINE__, L"%ls=%d %.1f %%", L"caf\u00e9 \U0001F600", -7, 2.5);
    Logger_ErrorF(__FILE__, __LINE__, "[%s|%d]", longText.c_str(), 5);
    Logger_CriticalWF(__FILE__, __LINE__, L"[%ls|%d]", longWide.c_str(), 6);
    Logger_Shutdown();

    std::string longUtf8;
    for (int i = 0; i < 3000; ++i)
        longUtf8 += "\xC3\xA9";
    std::vector<std::string> expected = {
        "key=42  3.14 % ff {}",
        "caf\xC3\xA9 \xF0\x9F\x98\x80=-7 2.5 %",
        "[" + longText + "|5]",
        "[" + longUtf8 + "|6]",
    };
    EXPECT_EQ(Messages(Parse(Read())), expected);
}

TEST_F(LoggerTest, CallsBeforeInitAndAfterShutdownAreSilentNoOps) {
    auto everyForm = [](const char* text) {
        Logger_SetLevel(0);
        for (const Level& level : kLevels) {
            level.plain(__FILE__, __LINE__, text);
            level.wide(__FILE__, __LINE__, L"wide");
        }
        Logger_InfoF(__FILE__, __LINE__, "%s", text);
        Logger_InfoWF(__FILE__, __LINE__, L"%d", 1);
        Logger_Flush();
    };
    ASSERT_FALSE(Logger_IsInitialized());
    everyForm("before");
    ASSERT_TRUE(Init());
    Logger_Info(__FILE__, __LINE__, "while on");
    Logger_Shutdown();
    Logger_Shutdown();  // a second shutdown is harmless
    everyForm("after");

    EXPECT_EQ(Messages(Parse(Read())), std::vector<std::string>{"while on"});
}

TEST_F(LoggerTest, SecondInitFailsAndKeepsTheFirstLogger) {
    ASSERT_TRUE(Init());
    testing::internal::CaptureStderr();
    bool second = Logger_Init(PathOf("other.log").c_str(), 1 << 20, 3, true);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(second);
    EXPECT_EQ(err.rfind("Logger initialization failed: ", 0), 0u) << err;
    EXPECT_TRUE(Logger_IsInitialized());

    Logger_Info(__FILE__, __LINE__, "still here");
    Logger_Shutdown();
    EXPECT_EQ(Messages(Parse(Read())), std::vector<std::string>{"still here"});
    EXPECT_EQ(Read("other.log"), "");
}

TEST_F(LoggerTest, InitThatCannotOpenItsFileFailsWithOneStderrLine) {
    const struct {
        const char* name;
        std::string path;
        std::int32_t maxSize;
        bool rotating;
    } cases[] = {
        {"missing folder, rotating", PathOf("missing") + "/app.log", 4096, true},
        {"missing folder, plain", PathOf("missing") + "/app.log", 4096, false},
        {"a folder as the file", PathOf(""), 4096, false},
        {"no size limit", PathOf("app.log"), 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        bool ok = Logger_Init(c.path.c_str(), c.maxSize, 3, c.rotating);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(ok);
        EXPECT_TRUE(std::regex_match(err, std::regex("Logger initialization failed: [^\n]+\n"))) << err;
        EXPECT_FALSE(Logger_IsInitialized());
        Logger_Error(__FILE__, __LINE__, "nowhere to go");
    }
    // spdlog would create the folder on its own; the log must not invent folders.
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "missing"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "app.log"));
}

TEST_F(LoggerTest, RotationKeepsTheCurrentFileAndThreeNumberedOnes) {
    ASSERT_TRUE(Init(true, 4096, 3));
    const std::string padding(80, '.');
    const int total = 400;  // about 40 KB: ten files' worth
    for (int i = 0; i < total; ++i)
        Logger_InfoF(__FILE__, __LINE__, "%d %s", i, padding.c_str());
    Logger_Shutdown();

    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
        names.insert(entry.path().filename().string());
        EXPECT_LE(entry.file_size(), 4096u) << entry.path();
    }
    EXPECT_EQ(names, (std::set<std::string>{"app.log", "app.1.log", "app.2.log", "app.3.log"}));

    // Oldest to newest, the kept records are one unbroken run ending with the last.
    std::vector<int> numbers;
    for (const char* name : {"app.3.log", "app.2.log", "app.1.log", "app.log"})
        for (const Record& r : Parse(Read(name)))
            numbers.push_back(std::stoi(r.message));
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.back(), total - 1);
    for (std::size_t i = 1; i < numbers.size(); ++i)
        ASSERT_EQ(numbers[i], numbers[i - 1] + 1) << "gap after record " << numbers[i - 1];
    EXPECT_GT(numbers.size(), 3u * 4096 / 200);  // the numbered files are full, not cut short
}

TEST_F(LoggerTest, PlainFileAppendsAndNeverRotates) {
    testutil::WriteBytes(m_dir.path() / "app.log", "earlier run\r\n");
    ASSERT_TRUE(Init(false, 4096, 3));
    const std::string padding(80, '.');
    for (int i = 0; i < 100; ++i)
        Logger_InfoF(__FILE__, __LINE__, "%d %s", i, padding.c_str());
    Logger_Shutdown();

    std::string text = Read();
    ASSERT_EQ(text.rfind("earlier run\r\n", 0), 0u);
    EXPECT_GT(text.size(), 4096u);
    EXPECT_EQ(Parse(text.substr(13)).size(), 100u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.path()), {}), 1);
}

TEST_F(LoggerTest, RecordsFromManyThreadsNeverInterleave) {
    ASSERT_TRUE(Init());
    const int threads = 4, perThread = 300;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            const std::string payload(150, static_cast<char>('a' + t));
            for (int i = 0; i < perThread; ++i)
                Logger_InfoF(__FILE__, __LINE__, "%d %s", t, payload.c_str());
        });
    for (auto& w : workers)
        w.join();
    Logger_Shutdown();

    auto records = Parse(Read());
    ASSERT_EQ(records.size(), static_cast<std::size_t>(threads * perThread));
    std::vector<std::set<std::string>> ids(threads);
    for (const Record& r : records) {
        int t = r.message[0] - '0';
        ASSERT_TRUE(t >= 0 && t < threads) << r.message;
        ASSERT_EQ(r.message, std::to_string(t) + " " + std::string(150, static_cast<char>('a' + t)));
        ids[t].insert(r.thread);
    }
    std::set<std::string> all;
    for (const auto& set : ids) {
        EXPECT_EQ(set.size(), 1u);
        all.insert(set.begin(), set.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(threads));
}

TEST_F(LoggerTest, LoggingStaysSafeWhileAnotherThreadRestartsTheLog) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t)
        workers.emplace_back([&stop] {
            while (!stop)
                Logger_InfoF(__FILE__, __LINE__, "%s", "busy");
        });
    for (int i = 0; i < 30; ++i) {
        EXPECT_TRUE(Init(false));
        std::this_thread::yield();
        Logger_Shutdown();
    }
    stop = true;
    for (auto& w : workers)
        w.join();

    EXPECT_FALSE(Logger_IsInitialized());
    for (const Record& r : Parse(Read()))
        ASSERT_EQ(r.message, "busy");
}

}  // namespace
