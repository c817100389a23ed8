// Rule scripts: Lua files beside the program, one fresh interpreter per run.
// Every failure gives the empty text and a warning; nothing hangs a worker.
#include "trova/clean/script.h"

#include "rule_test_helpers.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <string>

namespace {

std::string RunScript(const std::string& uk) {
    pugi::xml_document document;
    document.append_child("wy").append_attribute("uk") = uk.c_str();
    Trova::Script script(nullptr);
    script.Read(document.child("wy"));
    return script.Run();
}

TEST(ScriptTest, ResultsAndFailures) {
    const struct {
        const char* name;
        const char* source;
        std::string expected;
        const char* warning;  // exact warning text, "" for none, "*" for any one
    } cases[] = {
        {"string", "return 'C:/App'", "C:/App", ""},
        {"last of several", "return 1, 'last'", "last", ""},
        {"number", "return 42", "42", ""},
        {"table", "return {}", "", ""},
        {"nothing", "local x = 1", "", ""},
        {"bare return", "return", "", ""},
        {"single nil", "return nil", "", ""},
        {"nil and message", "return nil, 'not installed'", "", "not installed"},
        // Script text reaches the log as data, never as a format.
        {"nil and format-like message", "return nil, '100%s %n %d'", "", "100%s %n %d"},
        {"nil and no text", "return nil, {}", "", "(table value)"},
        {"error", "error('broken rule', 0)", "", "broken rule"},
        {"syntax", "return 'unfinished", "", "*"},
        {"uses the libraries", "return string.upper(os.getenv('NO_SUCH_CLEAN_VAR') or 'lib')", "LIB", ""},
    };
    for (const auto& c : cases) {
        ruletest::ProgramFile file("script-test.lua", c.source);
        ruletest::LogCapture log;
        EXPECT_EQ(c.expected, RunScript(file.Name())) << c.name;
        const std::string text = log.Text();
        const std::size_t lines = std::count(text.begin(), text.end(), '\n');
        if (std::string(c.warning).empty()) {
            EXPECT_EQ(0u, lines) << c.name << ": " << text;
        } else {
            EXPECT_EQ(1u, lines) << c.name << ": " << text;
            EXPECT_NE(std::string::npos, text.find("[warning]")) << c.name;
            if (std::string(c.warning) != "*") {
                EXPECT_EQ(1, log.Count("warning", c.warning)) << c.name << ": " << text;
            }
        }
    }
}

TEST(ScriptTest, MissingFileWarns) {
    ruletest::LogCapture log;
    EXPECT_EQ("", RunScript(ruletest::UniqueName("no-such-script.lua")));
    EXPECT_NE(std::string::npos, log.Text().find("[warning]"));
}

TEST(ScriptTest, Utf8ResultIsConvertedToTheCodePage) {
    const std::string utf8 = "caf\xC3\xA9";
    ruletest::ProgramFile file("script-utf8.lua", "return 'caf\\195\\169'");
    EXPECT_EQ(Utils::utf8ToAnsi(utf8), RunScript(file.Name()));
    EXPECT_FALSE(RunScript(file.Name()).empty());
}

// An endless script is stopped by its instruction budget, also when it
// catches the stop with pcall or hides in fresh coroutines.
TEST(ScriptTest, EndlessScriptsAreStopped) {
    const char* sources[] = {
        "while true do end",
        "while true do pcall(function() while true do end end) end",
        "while true do coroutine.resume(coroutine.create(function() while true do end end)) end",
    };
    for (const char* source : sources) {
        ruletest::ProgramFile file("script-endless.lua", source);
        ruletest::LogCapture log;
        EXPECT_EQ("", RunScript(file.Name())) << source;
        EXPECT_NE(std::string::npos, log.Text().find("instruction budget")) << source;
    }
}

}  // namespace
