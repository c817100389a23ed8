// The .reg parser (both systems), the Linux store's lookup rules, and under
// Windows real keys read back per registry view.
#include "fendrel/registry.h"
#include "fendrel/regstore.h"
#include "fendrel/utils.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#endif

namespace {

// UTF-8 source text as the Registry Editor writes it: UTF-16LE, optionally
// with the byte-order mark.
std::string Utf16Le(const std::string& utf8, bool mark) {
    std::string out = mark ? std::string("\xFF\xFE") : std::string();
    auto unit = [&out](std::uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (wchar_t c : Utils::utf8ToUtf16(utf8)) {
        auto code = static_cast<std::uint32_t>(c);
        if (code >= 0x10000) {  // only where wchar_t holds whole code points
            code -= 0x10000;
            unit(0xD800 + (code >> 10));
            unit(0xDC00 + (code & 0x3FF));
        } else {
            unit(code);
        }
    }
    return out;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::wstring W(const std::string& utf8) {
    return Utils::utf8ToUtf16(utf8);
}

// One document covering the value forms an export holds.
const std::string kExport =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "; written by hand\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App]\n"
    "@=\"default\"\n"
    "\"InstallDir\"=\"C:\\\\Program Files\\\\App\"\n"
    "\"Quote\"=\"say \\\"hi\\\"\"\n"
    "\"Temp\"=\"C:\\temp\"\n"
    "\"Name\"=\"\xC3\x89t\xC3\xA9 \xF0\x9F\x98\x80\"\n"
    "\"Count\"=dword:0000000a\n"
    "\"Expand\"=hex(2):25,00,41,00,50,00,50,00,25,00,5c,00,78,00,00,00\n"
    "\"Wrapped\"=hex(2):43,00,3a,00,5c,00,\\\n"
    "  41,00,00,00\n"
    "\"Blob\"=hex:01,02,\\\n"
    "  03\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Vendor]\n"
    "\"User\"=\"yes\"\n";

TEST(RegStoreParse, ReadsEveryEncodingTheSame) {
    const struct {
        const char* encoding;
        std::string bytes;
    } documents[] = {
        {"UTF-16LE with mark, CRLF", Utf16Le(WithCrLf(kExport), true)},
        {"UTF-16LE without mark", Utf16Le(kExport, false)},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + kExport},
        {"UTF-8, CRLF", WithCrLf(kExport)},
    };
    const std::wstring app = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App";
    const struct {
        const wchar_t* name;
        std::uint32_t type;
        std::wstring text;
    } texts[] = {
        {L"", 1, L"default"},
        {L"InstallDir", 1, L"C:\\Program Files\\App"},
        {L"Quote", 1, L"say \"hi\""},
        {L"Temp", 1, L"C:\\temp"},  // a backslash before anything else stays
        {L"Name", 1, W("\xC3\x89t\xC3\xA9 \xF0\x9F\x98\x80")},
        {L"Expand", 2, L"%APP%\\x"},
        {L"Wrapped", 2, L"C:\\A"},
    };
    for (const auto& document : documents) {
        SCOPED_TRACE(document.encoding);
        RegStore store;
        std::vector<std::string> problems;
        EXPECT_TRUE(store.Parse(document.bytes, &problems));
        EXPECT_TRUE(problems.empty()) << problems.front();
        EXPECT_EQ(store.KeyCount(), 2u);
        for (const auto& row : texts) {
            const RegValue* value = store.Find(app, row.name);
            ASSERT_NE(value, nullptr) << Utils::utf16ToUtf8(row.name);
            EXPECT_EQ(value->type, row.type);
            EXPECT_EQ(value->text, row.text);
        }
        const RegValue* count = store.Find(app, L"Count");
        ASSERT_NE(count, nullptr);
        EXPECT_EQ(count->type, 4u);
        EXPECT_EQ(count->bytes, (std::vector<std::uint8_t>{0x0a, 0, 0, 0}));
        EXPECT_TRUE(count->text.empty());
        const RegValue* blob = store.Find(app, L"Blob");
        ASSERT_NE(blob, nullptr);
        EXPECT_EQ(blob->type, 3u);
        EXPECT_EQ(blob->bytes, (std::vector<std::uint8_t>{1, 2, 3}));
        const RegValue* user = store.Find(L"HKEY_CURRENT_USER\\Software\\Vendor", L"User");
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(user->text, L"yes");
    }
}

TEST(RegStoreParse, NamesAreCaseInsensitiveAndRootsMayBeAbbreviated) {
    RegStore store;
    ASSERT_TRUE(store.Parse(kExport));
    const struct {
        const wchar_t* key;
        const wchar_t* name;
        bool found;
    } rows[] = {
        {L"hkey_local_machine\\software\\VENDOR\\app", L"installdir", true},
        {L"HKLM\\SOFTWARE\\Vendor\\App", L"InstallDir", true},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\\", L"InstallDir", true},
        {L"HKCU\\Software\\Vendor", L"user", true},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", L"InstallDir", false},  // values do not climb up
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\\Sub", L"InstallDir", false},
        {L"HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\App", L"InstallDir", false},
        {L"HKEY_BOGUS\\SOFTWARE\\Vendor\\App", L"InstallDir", false},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App", L"Install", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(store.Find(row.key, row.name) != nullptr, row.found)
            << Utils::utf16ToUtf8(row.key) << " : " << Utils::utf16ToUtf8(row.name);
    EXPECT_TRUE(store.HasKey(L"hkcu\\software\\vendor"));
    EXPECT_FALSE(store.HasKey(L"HKEY_CURRENT_USER\\Software"));
}

TEST(RegStoreParse, BrokenLinesAreReportedAndTheRestKept) {
    const std::string document =
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CURRENT_USER\\Software\\A]\n"
        "\"x\"=\"1\"\n"
        "this is no registry line\n"
        "\"y\"=\"2\"\n"
        "[HKEY_NOWHERE\\Software\\X]\n"
        "\"z\"=\"3\"\n"
        "[HKEY_CURRENT_USER\\Software\\B\n"
        "\"v\"=\"lost\"\n"
        "[HKEY_CURRENT_USER\\Software\\C]\n"
        "\"bad\"=\"unterminated\n"
        "\"d\"=dword:12345678a\n"
        "\"h\"=hex:01,zz\n"
        "\"w\"=\"4\"\n"
        "\"n\"=hex:01,\\\n";
    RegStore store;
    std::vector<std::string> problems;
    EXPECT_FALSE(store.Parse(document, &problems));
    ASSERT_EQ(problems.size(), 7u);
    EXPECT_EQ(problems[0].rfind("line 4:", 0), 0u) << problems[0];
    EXPECT_EQ(problems[1].rfind("line 6:", 0), 0u) << problems[1];

    const std::wstring a = L"HKEY_CURRENT_USER\\Software\\A", c = L"HKEY_CURRENT_USER\\Software\\C";
    ASSERT_NE(store.Find(a, L"x"), nullptr);
    ASSERT_NE(store.Find(a, L"y"), nullptr);
    ASSERT_NE(store.Find(c, L"w"), nullptr);
    EXPECT_EQ(store.Find(c, L"w")->text, L"4");
    // Values under a broken key line go nowhere, not into the key before it.
    EXPECT_EQ(store.Find(a, L"z"), nullptr);
    EXPECT_EQ(store.Find(a, L"v"), nullptr);
    EXPECT_FALSE(store.HasKey(L"HKEY_CURRENT_USER\\Software\\B"));
    for (const wchar_t* name : {L"bad", L"d", L"h", L"n"})
        EXPECT_EQ(store.Find(c, name), nullptr) << Utils::utf16ToUtf8(name);
    EXPECT_EQ(store.KeyCount(), 2u);
}

TEST(RegStoreParse, TextThatIsNoExportLeavesTheStoreEmpty) {
    const char* documents[] = {
        "",
        "\r\n\r\n",
        "hello\n",
        "[HKEY_CURRENT_USER\\X]\n\"a\"=\"b\"\n",
        "Windows Registry Editor Version 4.00\n[HKEY_CURRENT_USER\\X]\n\"a\"=\"b\"\n",
    };
    for (const char* document : documents) {
        SCOPED_TRACE(document);
        RegStore store;
        ASSERT_TRUE(store.Parse(kExport));
        std::vector<std::string> problems;
        EXPECT_FALSE(store.Parse(document, &problems));
        EXPECT_EQ(problems.size(), 1u);
        EXPECT_EQ(store.KeyCount(), 0u);  // the earlier content is gone too
    }
}

TEST(RegStoreParse, OldAnsiExportsAndDeletions) {
    RegStore store;
    ASSERT_TRUE(store.Parse("REGEDIT4\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
                            "\"Narrow\"=hex(2):25,41,25,00\r\n"  // one byte per character here
                            "\"Latin1\"=\"caf\xE9\"\r\n"));        // no UTF-8: read as Latin-1
    EXPECT_EQ(store.Find(L"HKLM\\SOFTWARE\\Old", L"Narrow")->text, L"%A%");
    EXPECT_EQ(store.Find(L"HKLM\\SOFTWARE\\Old", L"Latin1")->text, W("caf\xC3\xA9"));

    ASSERT_TRUE(store.Parse("Windows Registry Editor Version 5.00\n"
                            "[HKEY_CURRENT_USER\\Software\\A]\n"
                            "\"keep\"=\"1\"\n"
                            "\"gone\"=\"x\"\n"
                            "[HKEY_CURRENT_USER\\Software\\A\\Sub]\n"
                            "\"s\"=\"1\"\n"
                            "[HKEY_CURRENT_USER\\Software\\AB]\n"
                            "\"ab\"=\"1\"\n"
                            "[HKEY_CURRENT_USER\\Software\\A]\n"
                            "\"gone\"=-\n"
                            "[-HKEY_CURRENT_USER\\Software\\A\\Sub]\n"
                            "[-HKEY_CURRENT_USER\\Software\\Old]\n"
                            "\"ignored\"=\"1\"\n"));
    EXPECT_NE(store.Find(L"HKCU\\Software\\A", L"keep"), nullptr);
    EXPECT_EQ(store.Find(L"HKCU\\Software\\A", L"gone"), nullptr);
    EXPECT_FALSE(store.HasKey(L"HKCU\\Software\\A\\Sub"));
    EXPECT_NE(store.Find(L"HKCU\\Software\\AB", L"ab"), nullptr);  // a sibling, not a subkey
    EXPECT_FALSE(store.HasKey(L"HKCU\\Software\\Old"));
}

#if !defined(_WIN32)
// The Linux store behind Registry::ReadString. Each test leaves it empty.
class RegistryStore : public ::testing::Test {
protected:
    void TearDown() override { Registry::SetStore(L""); }

    std::wstring WriteStore(const char* name, const std::string& bytes) {
        testutil::WriteBytes(dir_.path() / name, bytes);
        return (dir_.path() / name).wstring();
    }

    testutil::TempDir dir_;
};

const std::string kViews =
    "Windows Registry Editor Version 5.00\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App]\n"
    "\"Where\"=\"64\"\n"
    "\"Count\"=dword:00000001\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Vendor\\App]\n"
    "\"Where\"=\"32\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64]\n"
    "\"Where\"=\"64 only\"\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Setup]\n"
    "\"Where\"=\"system\"\n"
    "[HKEY_CURRENT_USER\\Software\\Vendor\\App]\n"
    "\"Where\"=\"user\"\n";

TEST_F(RegistryStore, ViewsFollowTheWow6432NodeRule) {
    ASSERT_TRUE(Registry::SetStore(WriteStore("views.reg", Utf16Le(WithCrLf(kViews), true))));
    const struct {
        HKEY root;
        const wchar_t* subkey;
        RegistryView view;
        const wchar_t* value;  // null: not found
    } rows[] = {
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\App", RegistryView::Bit32, L"32"},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\App", RegistryView::Bit64, L"64"},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\App", RegistryView::Default, L"64"},
        {HKEY_LOCAL_MACHINE, L"software\\vendor\\APP", RegistryView::Bit32, L"32"},
        // named explicitly: read as written, and never redirected twice
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Vendor\\App", RegistryView::Default, L"32"},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Vendor\\App", RegistryView::Bit32, L"32"},
        // the 32-bit view has no fallback to the 64-bit one
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Only64", RegistryView::Bit32, nullptr},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Only64", RegistryView::Bit64, L"64 only"},
        // only HKEY_LOCAL_MACHINE\SOFTWARE is redirected
        {HKEY_LOCAL_MACHINE, L"SYSTEM\\Setup", RegistryView::Bit32, L"system"},
        {HKEY_CURRENT_USER, L"Software\\Vendor\\App", RegistryView::Bit32, L"user"},
        {HKEY_LOCAL_MACHINE, L"SOFTWAREX\\Vendor\\App", RegistryView::Bit32, nullptr},
        {nullptr, L"SOFTWARE\\Vendor\\App", RegistryView::Default, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Utils::utf16ToUtf8(row.subkey) + " view " + std::to_string(static_cast<int>(row.view)));
        std::wstring value = L"untouched";
        EXPECT_EQ(Registry::ReadString(row.root, row.subkey, L"Where", row.view, value), row.value != nullptr);
        EXPECT_EQ(value, row.value != nullptr ? row.value : L"untouched");
    }
    std::wstring value = L"untouched";
    EXPECT_FALSE(Registry::ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\App", L"Count", RegistryView::Bit64,
                                      value));
    EXPECT_EQ(value, L"untouched");
}

TEST_F(RegistryStore, ABrokenFileKeepsItsGoodPartsAndAMissingOneEmptiesTheStore) {
    const std::wstring broken = WriteStore("broken.reg",
                                           "Windows Registry Editor Version 5.00\n"
                                           "[HKEY_CURRENT_USER\\Software\\Good]\n"
                                           "\"v\"=\"kept\"\n"
                                           "garbage\n");
    EXPECT_FALSE(Registry::SetStore(broken));
    std::wstring value;
    EXPECT_TRUE(Registry::ReadString(HKEY_CURRENT_USER, L"Software\\Good", L"v", RegistryView::Default, value));
    EXPECT_EQ(value, L"kept");

    EXPECT_FALSE(Registry::SetStore((dir_.path() / "missing.reg").wstring()));
    EXPECT_FALSE(Registry::ReadString(HKEY_CURRENT_USER, L"Software\\Good", L"v", RegistryView::Default, value));

    EXPECT_TRUE(Registry::SetStore(L""));  // no store at all is no error
}

// Scan workers read at once while the configuration may swap the store.
TEST_F(RegistryStore, ConcurrentReadsSeeOneWholeStore) {
    const std::wstring first = WriteStore("a.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n\"v\"=\"a\"\n");
    const std::wstring second = WriteStore("b.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n\"v\"=\"b\"\n");
    ASSERT_TRUE(Registry::SetStore(first));
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                std::wstring value;
                if (!Registry::ReadString(HKEY_CURRENT_USER, L"Software\\T", L"v", RegistryView::Default, value) ||
                    (value != L"a" && value != L"b"))
                    ++wrong;
            }
        });
    }
    for (int i = 0; i < 50; ++i)
        Registry::SetStore(i % 2 == 0 ? second : first);
    stop = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
}
#endif

#if defined(_WIN32)
// Real keys under HKEY_CURRENT_USER, and HKEY_LOCAL_MACHINE\SOFTWARE in both
// views; every key is removed again.
class RegistryWindows : public ::testing::Test {
protected:
    static bool SetText(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name, DWORD type,
                        const std::wstring& text) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return false;
        const LONG status = RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }

    const std::wstring name_ = L"CleanTest-" + std::to_wstring(GetCurrentProcessId());
};

TEST_F(RegistryWindows, ReadsTextValuesOfAnyLength) {
    const std::wstring path = L"Software\\" + name_;
    const std::wstring longText(1000, L'L');  // far past the 256 bytes of the old fixed buffer
    ASSERT_TRUE(SetText(HKEY_CURRENT_USER, path, 0, L"Plain", REG_SZ, L"C:\\Program Files\\App"));
    ASSERT_TRUE(SetText(HKEY_CURRENT_USER, path, 0, L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\x"));
    ASSERT_TRUE(SetText(HKEY_CURRENT_USER, path, 0, L"Long", REG_SZ, longText));
    ASSERT_TRUE(SetText(HKEY_CURRENT_USER, path, 0, nullptr, REG_SZ, L"default"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_WRITE, &key), ERROR_SUCCESS);
    const DWORD number = 5;
    RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(key);

    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } rows[] = {
        {L"Plain", L"C:\\Program Files\\App"},
        {L"plain", L"C:\\Program Files\\App"},
        {L"Expand", L"%SystemRoot%\\x"},  // not expanded
        {L"Long", longText.c_str()},
        {L"", L"default"},
        {L"Number", nullptr},
        {L"Missing", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Utils::utf16ToUtf8(row.name));
        std::wstring value = L"untouched";
        EXPECT_EQ(Registry::ReadString(HKEY_CURRENT_USER, path, row.name, RegistryView::Default, value),
                  row.value != nullptr);
        EXPECT_EQ(value, row.value != nullptr ? row.value : L"untouched");
    }
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()), ERROR_SUCCESS);
}

TEST_F(RegistryWindows, EachViewReadsItsOwnKey) {
    const std::wstring path = L"SOFTWARE\\" + name_;
    if (!SetText(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, L"Where", REG_SZ, L"32"))
        GTEST_SKIP() << "HKEY_LOCAL_MACHINE\\SOFTWARE cannot be written here (not elevated)";
    const bool wrote64 = SetText(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, L"Where", REG_SZ, L"64");
    const struct {
        const std::wstring subkey;
        RegistryView view;
        const wchar_t* value;
    } rows[] = {
        {path, RegistryView::Bit32, L"32"},
        {path, RegistryView::Bit64, L"64"},
        {path, RegistryView::Default, sizeof(void*) == 8 ? L"64" : L"32"},
        {L"SOFTWARE\\WOW6432Node\\" + name_, RegistryView::Default, L"32"},
    };
    if (wrote64) {
        for (const auto& row : rows) {
            SCOPED_TRACE(Utils::utf16ToUtf8(row.subkey) + " view " + std::to_string(static_cast<int>(row.view)));
            std::wstring value;
            EXPECT_TRUE(Registry::ReadString(HKEY_LOCAL_MACHINE, row.subkey, L"Where", row.view, value));
            EXPECT_EQ(value, row.value);
        }
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_32KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
    ASSERT_TRUE(wrote64);
}

TEST(RegistryWindowsStore, SetStoreHasNothingToDo) {
    EXPECT_TRUE(Registry::SetStore(L"C:\\nowhere\\registry.reg"));
}
#endif

}  // namespace
