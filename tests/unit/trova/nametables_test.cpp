// The localized name tables: the four CSV files read plain and scrambled,
// lookups per language, and the faults that switch the language feature off
// without stopping the caller.
#include "trova/clean/nametables.h"
#include "trova/clean/scrambled.h"

#include "rule_test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using Trova::NameTables;

const char* const kCodes[] = {"zh", "en", "de", "fr", "es", "pt", "ru", "it"};

// One CSV line from cells that are already quoted where needed.
std::string Line(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i)
        line += (i ? "," : "") + cells[i];
    return line + "\n";
}

// Texts of the fixture tables: "<prefix>-<code>" unless a cell is set apart.
std::string Text(const std::string& prefix, int language) { return prefix + "-" + kCodes[language]; }

// Columns in an order unlike the loader's, with a column it must skip.
std::string GidCsv(const std::string& dropColumn = "") {
    std::vector<std::string> header{"note"};
    for (int i = 7; i >= 0; --i) {
        header.push_back(std::string("det_") + kCodes[i]);
        if (i == 4)
            header.push_back("gid");
        header.push_back(std::string("desc_") + kCodes[i]);
    }
    std::vector<std::string> row;
    for (const std::string& column : header) {
        if (column == "note")
            row.push_back("ignored");
        else if (column == "gid")
            row.push_back("7");
        else if (column == "desc_zh")
            row.push_back("浏览器缓存");
        else if (column == "desc_en")
            row.push_back("\"Cache, browser\"");
        else if (column == "det_de")
            row.push_back("\"Größe \"\"groß\"\"\"");
        else
            row.push_back((column.compare(0, 4, "desc") == 0 ? "G7-" : "D7-") + column.substr(column.find('_') + 1));
    }
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] == dropColumn) {
            header.erase(header.begin() + i);
            row.erase(row.begin() + i);
            break;
        }
    }
    return Line(header) + Line(row);
}

// A table with the given key columns; rows give the keys and the text prefix.
std::string CodedCsv(const std::vector<std::string>& keyColumns,
                     const std::vector<std::pair<std::vector<std::string>, std::string>>& rows) {
    // Language columns reversed, keys spread among them: "it,softid,ru,zh,...".
    std::vector<std::string> header(std::rbegin(kCodes), std::rend(kCodes));
    for (std::size_t k = 0; k < keyColumns.size(); ++k)
        header.insert(header.begin() + 2 * k + 1, keyColumns[k]);
    std::string csv = Line(header);
    for (const auto& row : rows) {
        std::vector<std::string> cells;
        for (const std::string& column : header) {
            std::size_t k = 0;
            while (k < keyColumns.size() && keyColumns[k] != column)
                ++k;
            cells.push_back(k < keyColumns.size() ? row.first[k] : row.second + "-" + column);
        }
        csv += Line(cells);
    }
    return csv;
}

// keyOf12 replaces the key of the first row to break it.
std::string SoftidCsv(const std::string& keyOf12 = "12") {
    // The Russian cell of program 12 is replaced to carry Cyrillic text.
    std::string csv = CodedCsv({"softid"}, {{{keyOf12}, "S12"}, {{"-3"}, "S-3"}});
    const std::string from = "S12-ru";
    csv.replace(csv.find(from), from.size(), "\"Телеграм, клиент\"");
    return csv;
}

std::string SubsoftidCsv() {
    // Same id and subid; only residual tells the two items apart.
    return CodedCsv({"id", "subid", "residual"}, {{{"1", "2", "0"}, "I0"}, {{"1", "2", "1"}, "I1"}});
}

std::string BigfileCsv() {
    // A byte-order mark, Windows line ends and a blank last line, as editors save it.
    std::string csv = CodedCsv({"id"}, {{{"207"}, "B207"}, {{"209"}, "B209"}});
    std::string out = "\xEF\xBB\xBF";
    for (char c : csv)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out + "\r\n";
}

class NameTablesTest : public ::testing::Test {
protected:
    // The store is process-wide: put back what the test program had.
    void SetUp() override {
        NameTables& t = NameTables::Instance();
        m_saved = {t.GidCsv(), t.SoftidCsv(), t.SubsoftidCsv(), t.BigfileCsv()};
        m_savedScrambled = t.Scrambled();
        m_savedFeature = t.LanguageFeature();
        m_savedIndex = t.LanguageIndex();
        t.SetLanguageFeature(true);
    }
    void TearDown() override {
        NameTables& t = NameTables::Instance();
        t.Load(m_saved[0], m_saved[1], m_saved[2], m_saved[3], m_savedScrambled);
        t.SetLanguageFeature(m_savedFeature);
        t.SetLanguageIndex(m_savedIndex);
    }

    // Writes a table file, scrambled or plain; returns its narrow path.
    std::string Write(const std::string& name, const std::string& text, bool scrambled) {
        std::string bytes = text;
        if (scrambled) {
            const std::uint8_t mask[4] = {0x5A, 0xC3, 0x01, 0xFE};
            const std::vector<std::uint8_t> out =
                Trova::Scramble(std::vector<std::uint8_t>(text.begin(), text.end()), mask, 0x77);
            bytes.assign(out.begin(), out.end());
        }
        const std::wstring path = m_dir / Utils::AnsiToUtf16(name);
        testutil::WriteBytes(std::filesystem::path(path), bytes);
        return Utils::Utf16ToAnsi(path);
    }

    struct Files {
        std::string gid = GidCsv();
        std::string softid = SoftidCsv();
        std::string subsoftid = SubsoftidCsv();
        std::string bigfile = BigfileCsv();
    };
    // rawSoftid writes that file unscrambled whatever the others are.
    void LoadFiles(const Files& files, bool scrambled, bool rawSoftid = false) {
        NameTables::Instance().Load(Write("gid.csv", files.gid, scrambled),
                                    Write("softid.csv", files.softid, scrambled && !rawSoftid),
                                    Write("subsoftid.csv", files.subsoftid, scrambled),
                                    Write("bigfile.csv", files.bigfile, scrambled), scrambled);
    }

    testutil::TempDir m_dir;

private:
    std::array<std::string, 4> m_saved;
    bool m_savedScrambled = false;
    bool m_savedFeature = false;
    int m_savedIndex = 1;
};

// Every lookup of the fixture tables, for each language index.
void ExpectFixtureTexts() {
    NameTables& t = NameTables::Instance();
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(kCodes[i]);
        t.SetLanguageIndex(i);
        const std::string groupName = i == 0 ? "浏览器缓存" : i == 1 ? "Cache, browser" : Text("G7", i);
        EXPECT_EQ(t.GroupName(7), groupName);
        EXPECT_EQ(t.GroupDetail(7), i == 2 ? "Größe \"groß\"" : Text("D7", i));
        EXPECT_EQ(t.SoftName(12), i == 6 ? "Телеграм, клиент" : Text("S12", i));
        EXPECT_EQ(t.SoftName(-3), Text("S-3", i));
        EXPECT_EQ(t.ItemName(1, 2, 0), Text("I0", i));
        EXPECT_EQ(t.ItemName(1, 2, 1), Text("I1", i));
        EXPECT_EQ(t.BigfileText(207), Text("B207", i));
        EXPECT_EQ(t.BigfileText(209), Text("B209", i));
        // Unknown keys, including near misses of known ones.
        EXPECT_EQ(t.GroupName(12), "");
        EXPECT_EQ(t.GroupDetail(8), "");
        EXPECT_EQ(t.SoftName(3), "");
        EXPECT_EQ(t.ItemName(1, 2, 2), "");
        EXPECT_EQ(t.ItemName(2, 1, 0), "");
        EXPECT_EQ(t.BigfileText(208), "");
    }
}

TEST_F(NameTablesTest, PlainAndScrambledTablesGiveTheSameTexts) {
    for (bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled ? "scrambled" : "plain");
        ruletest::LogCapture log;
        LoadFiles(Files(), scrambled);
        EXPECT_TRUE(NameTables::Instance().LanguageFeature());
        EXPECT_EQ(NameTables::Instance().Scrambled(), scrambled);
        ExpectFixtureTexts();
        EXPECT_EQ(log.Text().find("[error]"), std::string::npos) << log.Text();
    }
}

TEST_F(NameTablesTest, MissingTableNamesLeaveOnlyThoseTablesEmpty) {
    // What the configuration hands over for a missing or empty name.
    const std::string folder = Utils::Utf16ToAnsi(m_dir.wstr());
    ruletest::LogCapture log;
    NameTables& t = NameTables::Instance();
    t.Load("", folder + ruletest::kSep, Write("subsoftid.csv", SubsoftidCsv(), false),
           Write("bigfile.csv", BigfileCsv(), false), false);
    EXPECT_TRUE(t.LanguageFeature());
    t.SetLanguageIndex(1);
    EXPECT_EQ(t.GroupName(7), "");
    EXPECT_EQ(t.SoftName(12), "");
    EXPECT_EQ(t.ItemName(1, 2, 1), "I1-en");
    EXPECT_EQ(t.BigfileText(207), "B207-en");
    const std::string text = log.Text();
    EXPECT_EQ(text.find("[error]"), std::string::npos) << text;
    EXPECT_NE(text.find("gid none, softid none"), std::string::npos) << text;
}

TEST_F(NameTablesTest, AFaultyTableTurnsTheFeatureOffWithOneLogLine) {
    struct Case {
        const char* what;
        bool scrambled;
        bool rawSoftid;                    // a scrambled load meets a file that is no container
        std::string gid, softid, bigfile;  // empty: the good fixture
        const char* table;                 // named in the one log line, with the problem
        std::string problem;
    };
    const std::string good;
    const std::string unclosed = "id,zh,en,de,fr,es,pt,ru,it\n1,\"a,b,c,d,e,f,g,h\n";
    const Case cases[] = {
        {"missing text column", false, false, GidCsv("det_fr"), good, good, "gid", "column not found: det_fr"},
        {"missing key column", false, false, GidCsv("gid"), good, good, "gid", "column not found: gid"},
        {"key not a number", false, false, good, SoftidCsv("abc"), good, "softid",
         "line 2: key \"abc\" in column softid is not a number"},
        {"key out of range", true, false, good, SoftidCsv("99999999999"), good, "softid", "is out of range"},
        {"quote never closed", false, false, good, good, unclosed, "bigfile", "not closed"},
        {"only a byte-order mark", false, false, good, good, "\xEF\xBB\xBF", "bigfile", "Header missing"},
        {"scrambled file shorter than its trailer", true, true, good, "abc", good, "softid",
         "cannot be read or unscrambled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NameTables& t = NameTables::Instance();
        LoadFiles(Files(), false);
        t.SetLanguageFeature(true);
        t.SetLanguageIndex(1);
        ASSERT_EQ(t.BigfileText(207), "B207-en");

        Files files;
        if (!c.gid.empty())
            files.gid = c.gid;
        if (!c.softid.empty())
            files.softid = c.softid;
        if (!c.bigfile.empty())
            files.bigfile = c.bigfile;
        ruletest::LogCapture log;
        EXPECT_NO_THROW(LoadFiles(files, c.scrambled, c.rawSoftid));
        EXPECT_FALSE(t.LanguageFeature());
        // No half-loaded store: tables read before the fault are gone too.
        EXPECT_EQ(t.BigfileText(207), "");
        EXPECT_EQ(t.GroupName(7), "");
        const std::string text = log.Text();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_NE(text.find("[error]"), std::string::npos) << text;
        EXPECT_NE(text.find(std::string("name table ") + c.table + " ("), std::string::npos) << text;
        EXPECT_NE(text.find(c.problem), std::string::npos) << text;
    }
}

TEST_F(NameTablesTest, AnUnreadablePlainFileIsAFaultNotAMissingTable) {
    ruletest::LogCapture log;
    NameTables& t = NameTables::Instance();
    const std::string missing = Utils::Utf16ToAnsi(m_dir / L"gone.csv");
    EXPECT_NO_THROW(t.Load(Write("gid.csv", GidCsv(), false), missing, "", "", false));
    EXPECT_FALSE(t.LanguageFeature());
    const std::string text = log.Text();
    EXPECT_NE(text.find("name table softid (" + missing + "): cannot be read"), std::string::npos) << text;
}

TEST_F(NameTablesTest, LookupsDuringReloadsSeeWholeTables) {
    LoadFiles(Files(), false);
    NameTables& t = NameTables::Instance();
    t.SetLanguageIndex(1);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!stop) {
                if (t.BigfileText(209) != "B209-en" || t.ItemName(1, 2, 1) != "I1-en")
                    ++torn;
            }
        });
    }
    for (int i = 0; i < 10; ++i)
        LoadFiles(Files(), i % 2 == 1);
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
