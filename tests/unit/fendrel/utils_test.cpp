// Utils and DpiAPI: conversions, splitting, error texts, system facts and
// child processes. The child processes are this test program itself doing
// one of the child jobs of testutil.h.
#include "fendrel/file.h"
#include "fendrel/utils.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <unistd.h>
#endif

namespace {

using testutil::ChildJob;
using testutil::kFloodBytes;
using testutil::SelfCommandLine;
using testutil::SetEnv;

std::wstring MissingProgram() {
    return File::TempPath() + L"fendrel-no-such-program.exe";
}

bool WaitForFile(const std::wstring& path) {
    for (int i = 0; i < 200 && !File::Exist(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return File::Exist(path);
}

std::wstring TempFile(const char* tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring path = File::TempPath() + L"fendrel-" + Utils::utf8ToUtf16(info->name()) + L"-" +
                        Utils::utf8ToUtf16(tag);
    File::Delete(File(path));
    return path;
}

}  // namespace

TEST(UtilsText, Utf8AndWideRoundTrip) {
    struct Row {
        const char* utf8;
        const wchar_t* wide;
    };
    const Row rows[] = {
        {"", L""},
        {"plain ASCII", L"plain ASCII"},
        {"Gr\xC3\xBC\xC3\x9F" "e", L"Gr\u00FC\u00DFe"},
        {"\xE6\x96\x87\xE4\xBB\xB6", L"\u6587\u4EF6"},
        {"\xF0\x9F\x98\x80!", L"\U0001F600!"},  // outside the basic plane
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.utf8);
        EXPECT_EQ(row.wide, Utils::utf8ToUtf16(row.utf8));
        EXPECT_EQ(row.utf8, Utils::utf16ToUtf8(row.wide));
        EXPECT_EQ(row.utf8, Utils::utf16ToUtf8(std::wstring(row.wide)));
    }
    EXPECT_EQ("", Utils::utf16ToUtf8(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(L"ab", Utils::utf8ToUtf16(std::string("ab\0cd", 5)));  // up to the first NUL
    EXPECT_EQ(L"a\uFFFDb", Utils::utf8ToUtf16("a\xFF" "b"));          // invalid byte replaced
}

TEST(UtilsText, AnsiConversions) {
    for (const char* text : {"", "plain ASCII 123"}) {
        EXPECT_EQ(Utils::utf8ToUtf16(text), Utils::AnsiToUtf16(text));
        EXPECT_EQ(text, Utils::Utf16ToAnsi(Utils::utf8ToUtf16(text)));
        EXPECT_EQ(text, Utils::ansiToUtf8(text));
        EXPECT_EQ(text, Utils::utf8ToAnsi(text));
    }
#if defined(_WIN32)
    if (GetACP() == 1252) {
        // The composite mode decomposes accented letters.
        EXPECT_EQ(L"Gru\u0308n", Utils::AnsiToUtf16("Gr\xFCn"));
    }
    if (GetACP() != CP_UTF8) {
        GTEST_SKIP() << "the process code page is " << GetACP() << ", not UTF-8";
    }
#endif
    // Under a UTF-8 code page (always on Linux) ANSI and UTF-8 are the same text.
    const std::string text = "\xE6\x96\x87\xE4\xBB\xB6 Gr\xC3\xBC\xC3\x9F" "e";
    EXPECT_EQ(Utils::utf8ToUtf16(text), Utils::AnsiToUtf16(text));
    EXPECT_EQ(text, Utils::ansiToUtf8(text));
    EXPECT_EQ(text, Utils::utf8ToAnsi(text));
}

TEST(UtilsText, Base64) {
    struct Row {
        std::string bytes;
        const char* encoded;
    };
    const Row rows[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xFF\xFE\x00\x80", 4), "//4AgA=="},  // high bytes must not sign-extend
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.encoded, Utils::Base64EncodeUTF8(row.bytes));
    }
    const std::string longText = Utils::Base64EncodeUTF8(std::string(100, 'a'));
    EXPECT_EQ(136u, longText.size());
    EXPECT_EQ(std::string::npos, longText.find_first_of("\r\n"));  // no line breaks
}

TEST(UtilsText, Split) {
    struct Row {
        const wchar_t* text;
        const wchar_t* delimiters;
        std::vector<std::wstring> pieces;
    };
    const Row rows[] = {
        {L"a,,b", L",", {L"a", L"b"}},
        {L"a;b,c", L",;", {L"a", L"b", L"c"}},
        {L",,a,", L",", {L"a"}},
        {L",;,", L",;", {}},
        {L"", L",", {}},
        {L"a b", L"", {L"a b"}},
        {L"\u6587,\u4EF6", L",", {L"\u6587", L"\u4EF6"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Utils::utf16ToUtf8(row.text));
        std::vector<std::wstring> wide = {L"kept"};
        Utils::Split(row.text, wide, row.delimiters);
        std::vector<std::wstring> expected = {L"kept"};  // pieces are appended
        expected.insert(expected.end(), row.pieces.begin(), row.pieces.end());
        EXPECT_EQ(expected, wide);

        std::vector<std::string> narrow;
        Utils::Split(Utils::utf16ToUtf8(row.text), narrow, Utils::utf16ToUtf8(row.delimiters));
        ASSERT_EQ(row.pieces.size(), narrow.size());
        for (std::size_t i = 0; i < narrow.size(); ++i) {
            EXPECT_EQ(Utils::utf16ToUtf8(row.pieces[i]), narrow[i]);
        }
    }
}

TEST(UtilsText, HasChineseCharactersMeansAnyNonAscii) {
    const std::pair<const char*, bool> rows[] = {
        {"", false},       {"plain ASCII ~\x7F", false},       {"\xE6\x96\x87", true},
        {"Gr\xC3\xBC", true}, {"abc\x80", true},
    };
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(expected, Utils::hasChineseCharacters(text)) << text;
    }
}

TEST(UtilsText, ToLower) {
    EXPECT_EQ(L"abc xyz 123", Utils::toLower(L"ABC xYz 123"));
    EXPECT_EQ(L"\u00E4\u00F6\u00FC \u0444\u0430\u0439\u043B", Utils::toLower(L"\u00C4\u00D6\u00DC \u0424\u0410\u0419\u041B"));
    EXPECT_EQ(L"", Utils::toLower(L""));
}

TEST(UtilsText, HresultFallbackText) {
    EXPECT_EQ(L"Unknown error (0x8FFF1234)", Utils::hresultToWString(static_cast<HRESULT>(0x8FFF1234u)));
    EXPECT_EQ(L"Unknown error (0x8FFFABCD)", Utils::hresultToWString(static_cast<HRESULT>(0x8FFFABCDu)));
    // A wrapped "file not found" has a real description.
    const std::wstring notFound = Utils::hresultToWString(static_cast<HRESULT>(0x80070002u));
    EXPECT_FALSE(notFound.empty());
    EXPECT_NE(0u, notFound.find(L"Unknown error"));
}

TEST(UtilsSystem, Facts) {
    const std::string system = Utils::GetSystem();
    unsigned major = 0, minor = 0;
    char rest = 0;
    EXPECT_EQ(2, std::sscanf(system.c_str(), "%u.%u%c", &major, &minor, &rest)) << system;
    const std::string kernel = Utils::GetKernelVersion();
    EXPECT_NE(std::string::npos, kernel.find(system)) << kernel;
#if defined(_WIN32)
    EXPECT_EQ(0u, kernel.find("NT")) << kernel;
#else
    EXPECT_EQ(0u, kernel.find("Linux ")) << kernel;
    EXPECT_FALSE(Utils::isNotWin8OrGreater());
#endif
    if (sizeof(void*) == 8) {
        EXPECT_TRUE(Utils::Is64BitSystem());
    }

    const std::string id = Utils::generateHash();
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(id, Utils::generateHash());
#if !defined(_WIN32)
    std::string machineId;
    std::getline(std::ifstream("/etc/machine-id"), machineId);
    if (machineId.size() == 32) {
        EXPECT_EQ(machineId, id);
    }
#endif
}

#if !defined(_WIN32)
TEST(UtilsSystem, UserDefaultLangIdFromTheLocaleVariables) {
    struct Row {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        LANGID expected;
    };
    const Row rows[] = {
        {nullptr, nullptr, "de_DE.UTF-8", 0x0407},
        {nullptr, nullptr, "zh_CN.UTF-8", 0x0804},
        {nullptr, nullptr, "zh_TW", 0x0404},
        {nullptr, nullptr, "fr_FR@euro", 0x040C},
        {nullptr, nullptr, "pt_BR.UTF-8", 0x0416},
        {nullptr, nullptr, "ru", 0x0419},
        {nullptr, nullptr, "ja_JP.eucJP", 0x0411},
        {nullptr, nullptr, "C", 0x0409},
        {nullptr, nullptr, "C.UTF-8", 0x0409},
        {nullptr, nullptr, "POSIX", 0x0409},
        {nullptr, nullptr, "xx_YY", 0x0409},
        {nullptr, nullptr, nullptr, 0x0409},
        {"it_IT.UTF-8", "es_ES", "de_DE", 0x0410},  // LC_ALL first
        {"", "es_ES", "de_DE", 0x040A},            // an empty value is unset
        {nullptr, nullptr, "ko_KR", 0x0412},
    };
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::string> saved;
    std::vector<bool> had;
    for (const char* name : names) {
        const char* v = std::getenv(name);
        had.push_back(v != nullptr);
        saved.push_back(v != nullptr ? v : "");
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lang != nullptr ? row.lang : "(unset)");
        SetEnv("LC_ALL", row.lcAll);
        SetEnv("LC_MESSAGES", row.lcMessages);
        SetEnv("LANG", row.lang);
        EXPECT_EQ(row.expected, Utils::UserDefaultLangId());
    }
    for (std::size_t i = 0; i < 3; ++i) {
        SetEnv(names[i], had[i] ? saved[i].c_str() : nullptr);
    }
}
#endif

TEST(UtilsDpi, Lengths) {
    struct Row {
        int dpi, length, expected;
    };
    const Row rows[] = {
        {144, 100, 150}, {96, 100, 100}, {120, 3, 4},  // 3.75 rounds up
        {120, 1, 1},                                   // 1.25 rounds down
        {144, 1, 2},                                   // 1.5 rounds away from zero
        {144, -1, -2}, {192, 0, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.expected, DpiAPI::getDpiLength(row.dpi, row.length)) << row.dpi << " " << row.length;
    }
}

TEST(UtilsDpi, UnawareOrWithoutPerWindowFunctions) {
    // Either the functions are missing, or this test program (no DPI
    // manifest) runs DPI-unaware: 96 DPI and a scale of 1 in both cases.
    DpiAPI api;
    EXPECT_EQ(96, api.getDPI(nullptr));
    const DPISize size = api.getDPIResize(nullptr, 640, 480, 2);
    EXPECT_EQ(1.0f, size.scale);
    if (api.HasAPI()) {
        EXPECT_EQ(320, size.width);  // scaled (by 1), then divided
        EXPECT_EQ(240, size.height);
    } else {
        EXPECT_EQ(640, size.width);  // unchanged: the divisor applies only to scaled sizes
        EXPECT_EQ(480, size.height);
        EXPECT_TRUE(api.IsPSetThreadDpiAwarenessContextNull());
    }
}

TEST(UtilsProcess, OutputIsReadWhileTheChildRuns) {
    ChildJob job("flood");
    const std::wstring output = Utils::CreateProcessWithReturnedData(SelfCommandLine());
    ASSERT_EQ(kFloodBytes + 1, output.size()) << Utils::utf16ToUtf8(output.substr(0, 80));
    EXPECT_EQ(kFloodBytes, output.find_first_not_of(L'a'));
    EXPECT_EQ(L'!', output.back());  // standard error goes to the same pipe
}

TEST(UtilsProcess, ProgramsThatCannotStart) {
    const std::wstring missing = L"\"" + MissingProgram() + L"\"";
    EXPECT_EQ(L"error|2", Utils::CreateProcessWithReturnedData(missing));
    EXPECT_EQ(2u, Utils::CreateHiddenWindowProcess(missing, nullptr, nullptr));
    EXPECT_EQ(2u, Utils::CreateAndWaitProcessB(missing, nullptr));
    EXPECT_EQ(2u, Utils::runApp(MissingProgram(), L"", L""));
}

TEST(UtilsProcess, WaitingFunctionsReturnAfterTheChildEnded) {
    const std::wstring hidden = TempFile("hidden");
    const std::wstring waited = TempFile("waited");
    {
        ChildJob job("marker 300 " + Utils::utf16ToUtf8(hidden));
        EXPECT_EQ(0u, Utils::CreateHiddenWindowProcess(SelfCommandLine(), nullptr, nullptr));
        EXPECT_TRUE(File::Exist(hidden));
    }
    {
        ChildJob job("marker 300 " + Utils::utf16ToUtf8(waited));
        EXPECT_EQ(0u, Utils::CreateAndWaitProcessB(SelfCommandLine(), nullptr));
        EXPECT_TRUE(File::Exist(waited));
    }
    File::Delete(File(hidden));
    File::Delete(File(waited));
}

TEST(UtilsProcess, HiddenProcessWritesToTheGivenOutput) {
    const std::wstring path = TempFile("output");
#if defined(_WIN32)
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE output = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, output);
#else
    const int fd = open(Utils::utf16ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    HANDLE output = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd));
#endif
    {
        ChildJob job("print hello from the child");
        EXPECT_EQ(0u, Utils::CreateHiddenWindowProcess(SelfCommandLine(), nullptr, output));
    }
#if defined(_WIN32)
    CloseHandle(output);
#else
    close(fd);
#endif
    const auto written = File::readFile(path);
    EXPECT_EQ("hello from the child", std::string(written.begin(), written.end()));
    File::Delete(File(path));
}

TEST(UtilsProcess, RunAppStartsWithoutWaiting) {
    const std::wstring marker = TempFile("runapp");
    ChildJob job("marker 0 " + Utils::utf16ToUtf8(marker));
    const DWORD pid = Utils::runApp(File::FullPath(), L"", L"");
    EXPECT_NE(0u, pid);
    EXPECT_TRUE(WaitForFile(marker));
    File::Delete(File(marker));
}

TEST(UtilsProcess, IsProcessRunning) {
    EXPECT_TRUE(Utils::IsProcessRunning(File::FullPath()));
    EXPECT_FALSE(Utils::IsProcessRunning(MissingProgram()));
}

#if !defined(_WIN32)
TEST(UtilsProcess, LinuxCommandLines) {
    // Shell syntax goes through /bin/sh; plain words are executed directly.
    EXPECT_EQ(L"one\ntwo\n", Utils::CreateProcessWithReturnedData(L"echo one; echo two"));
    EXPECT_EQ(L"Gr\u00FC\u00DFe \"quoted words\"\n", Utils::CreateProcessWithReturnedData(L"echo Gr\u00FC\u00DFe '\"quoted words\"'"));
    EXPECT_EQ(L"a b/c.", Utils::CreateProcessWithReturnedData(L"printf %s/%s. \"a b\" c"));
    // No elevation prompt exists: "runas" is refused rather than run unelevated.
    EXPECT_EQ(static_cast<DWORD>(EPERM), Utils::runApp(L"/bin/true", L"", L"runas"));
}
#endif
