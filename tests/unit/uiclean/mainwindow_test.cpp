// The main window's side of the bridge against the recording fake web view:
// which page function each engine slot calls with which arguments, the
// throttles, the ids on the bridge, the argument checks of the application
// functions, the folder mover's functions from moverInit to the answers,
// and launchAndWait.
#include "fakeview.h"

#include "fendrel/utils.h"

#include <filesystem>
#include <future>

namespace fs = std::filesystem;

namespace {

using namespace fakeview;

TEST_F(MainWindowBridge, EachCacheSlotCallsItsPageFunction) {
    Trova::CacheCleanCbkImple callback(1, 1, ui.window(), &owner);
    callback.OnTotal(0, 5);
    callback.OnGroup("Junk", 1152921504606846976ull, 3, 7);
    callback.OnProgram("Browser", 10, 0, 100);
    callback.OnItem("Cache", 10, 4, true);
    callback.OnItemFiles({});
    callback.OnItemFiles({{"/b", 2}, {"/a", 1}});
    callback.OnRunningSize(10, 5);
    callback.OnFileFound("/a");
    callback.OnScanEnd(2);
    callback.OnProgress(1, 3);
    const std::vector<std::string> expected = {
        R"(cacheScanCbkTotal("0","5"))",
        R"(cacheScanCbk0("Junk","1152921504606846976","3","7"))",
        R"(cacheScanCbk1("Browser","10","0","100"))",
        R"(cacheScanCbk2("Cache","10","4",true))",
        R"(cacheScanCbk3([]))",
        R"(cacheScanCbk3([{fileName:"/a",size:"1"},{fileName:"/b",size:"2"}]))",
        R"(sizeCbk("10","5"))",
        R"(cacheFileNameCbk("/a"))",
        R"(cacheScanEndCbk(2))",
        R"(cacheProgressCbk(1,3))",
    };
    EXPECT_EQ(Calls(), expected);  // each post waits for the UI thread: in order
}

TEST_F(MainWindowBridge, ThrottlesDeliverEveryNthEventAndNeverDivideByZero) {
    Trova::CacheCleanCbkImple callback(1, 3, ui.window(), &owner);
    for (int i = 1; i <= 6; ++i)
        callback.OnFileFound("/f" + std::to_string(i));
    EXPECT_EQ(Calls(), (std::vector<std::string>{R"(cacheFileNameCbk("/f3"))", R"(cacheFileNameCbk("/f6"))"}));

    g_calls.clear();
    callback.SetThrottles(0, -4);
    callback.OnRunningSize(1, 0);
    callback.OnFileFound("/g");
    EXPECT_EQ(Calls(), (std::vector<std::string>{R"(sizeCbk("1","0"))", R"(cacheFileNameCbk("/g"))"}));
}

TEST_F(MainWindowBridge, MissingPageFunctionsAndEmptyNamesCallNothing) {
    g_pageFunctions.erase("cacheScanEndCbk");
    Trova::CacheCleanCbkImple callback(1, 1, ui.window(), &owner);
    callback.OnScanEnd(1);

    Trova::ExtensionCleanCbkImple extension(ui.window(), &owner);
    extension.SetNames({"", "", "bigFiles", "", "done", "", ""});
    extension.OnTotal(5);
    extension.OnBigFiles(0, {{"/big.iso", 4294967296ull}});
    extension.OnFinished(1);
    EXPECT_EQ(Calls(), (std::vector<std::string>{R"(bigFiles(0,[{fileName:"/big.iso",size:"4294967296"}]))",
                                                 "done(1)"}));
}

// A tiny rule tree over one file, so a deletion shows which ids reached the engine.
class MainWindowFunctions : public MainWindowBridge {
protected:
    void SetUp() override {
        MainWindowBridge::SetUp();
        testutil::WriteBytes(dir.path() / "junk.tmp", "junk");
        const std::string rules = "<wu><hz><g cb=\"3\" aw=\"Junk\"><gd><p ka=\"100\"/></gd></g></hz><op>"
                                  "<d gp=\"100\"><dx><fa ar=\"3\" hd=\"1\"><vg uk=\"" +
                                  dir.path().string() + "\" od=\"*.tmp\"/></fa></dx></d></op></wu>";
        testutil::WriteBytes(dir.path() / "rules.xml", rules);
        window = std::make_unique<MainBlkWindow>(nullptr, 0, "", 3);
        window->window = ui.window();
        window->webView = reinterpret_cast<wkeWebView>(1);
        ASSERT_TRUE(window->Cache().Load((dir.path() / "rules.xml").wstring(), false));
    }
    void TearDown() override {
        window.reset();  // waits for its workers
        MainWindowBridge::TearDown();
    }
    jsValue Call(jsValue (*function)(jsExecState, void*), std::vector<jsValue> args) {
        g_args = std::move(args);
        return function(reinterpret_cast<jsExecState>(1), window.get());
    }
    // As the page calls a function: by the name the window bound it with.
    jsValue Call(const std::string& name, std::vector<jsValue> args) {
        const auto bound = g_functions.find(name);
        if (bound == g_functions.end()) {
            ADD_FAILURE() << name << " is not bound";
            return 0;
        }
        g_args = std::move(args);
        return bound->second.first(reinterpret_cast<jsExecState>(1), bound->second.second);
    }
    // The page call that answers the last request, once it came.
    std::string Answer(const std::string& prefix) {
        std::string found;
        for (int i = 0; i < 3000 && found.empty(); ++i) {
            for (const std::string& call : Calls())
                if (call.rfind(prefix, 0) == 0)
                    found = call;
            if (found.empty())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        g_calls.clear();
        return found;
    }

    testutil::TempDir dir;
    std::unique_ptr<MainBlkWindow> window;
};

TEST_F(MainWindowFunctions, BindsTheApplicationFunctions) {
    EXPECT_EQ(g_bound.size(), 23u);
    for (const char* withoutWindow : {"deleteFile/no window", "setLanguageId/no window", "getLanguageId/no window"})
        EXPECT_NE(std::find(g_bound.begin(), g_bound.end(), withoutWindow), g_bound.end()) << withoutWindow;
}

TEST_F(MainWindowFunctions, DeleteOneTakesIdsAsThePageSendsThem) {
    for (bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled ? "masked" : "plain");
        testutil::WriteBytes(dir.path() / "junk.tmp", "junk");
        g_calls.clear();
        I18nConfig::Instance().SetEncryption(scrambled);
        const std::uint32_t mask = scrambled ? Trova::g_idMask : 0;
        const std::string group = std::to_string(3 ^ mask), program = std::to_string(100 ^ mask);
        Call(MainBlkWindow::CacheDeleteOne, {Str(group), Str(program), List({std::to_string(1 ^ mask)})});
        // The callback echoes the ids the page sent.
        EXPECT_EQ(WaitCalls(1), (std::vector<std::string>{"cacheDeleteOneCbk(\"" + group + "\",\"" + program + "\")"}));
        EXPECT_FALSE(fs::exists(dir.path() / "junk.tmp"));
    }
}

TEST_F(MainWindowFunctions, DeleteOneWithAnIdThatIsNoNumberStartsNothing) {
    for (const auto& ids : std::vector<std::vector<std::string>>{{"x3", "100", "1"}, {"3", "100", "1.5"},
                                                                 {"3", "4294967296", "1"}, {"-3", "100", "1"}}) {
        Call(MainBlkWindow::CacheDeleteOne, {Str(ids[0]), Str(ids[1]), List({ids[2]})});
    }
    window.reset();  // every worker has ended
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(fs::exists(dir.path() / "junk.tmp"));
}

TEST_F(MainWindowFunctions, ExtensionScanWantsExactlySevenNames) {
    const std::vector<std::string> six = {"a", "b", "c", "d", "e", "f"};
    EXPECT_EQ(Render(Call(MainBlkWindow::ExtensionScanStart,
                          {FakeInt(0), FakeUndefined(), FakeFalse(), Str("/"), List(six), FakeInt(0), FakeInt(10)})),
              "false");
    EXPECT_EQ(window->ExtensionCallback(0), nullptr);

    // Seven names start the scan; the page hears its end under the fifth.
    const std::vector<std::string> seven = {"a", "b", "c", "d", "done", "f", "g"};
    EXPECT_EQ(Render(Call(MainBlkWindow::ExtensionScanStart, {FakeInt(1), FakeUndefined(), FakeFalse(),
                                                              Str(dir.path().string()), List(seven), FakeInt(0),
                                                              FakeInt(0)})),
              "true");
    ASSERT_NE(window->ExtensionCallback(1), nullptr);
    EXPECT_EQ(window->ExtensionCallback(1)->Names()[6], "g");
    EXPECT_EQ(window->ExtensionCallback(1)->Period(), 1);  // 0 counts as 1
    EXPECT_EQ(WaitCalls(0, "done(0)").back(), "done(0)");
}

TEST_F(MainWindowFunctions, AScanStartedWithoutInitReportsWithTheDefaultThrottles) {
    Call(MainBlkWindow::CacheScanStart, {});
    const std::vector<std::string> calls = WaitCalls(0, "cacheScanEndCbk(1)");
    ASSERT_NE(window->CacheCallback(), nullptr);
    EXPECT_EQ(window->CacheCallback()->FileEvery(), 10000);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "cacheScanEndCbk(1)");
    EXPECT_NE(std::find(calls.begin(), calls.end(), R"(cacheScanCbk2("","4","1",false))"), calls.end());
}

// Each mover function reaches the window's mover and answers under its own
// callback with the page's tag; before moverInit there is no mover, and
// every answer is a failure that touches nothing.
TEST_F(MainWindowFunctions, MoverFunctionsAnswerUnderTheirCallbacks) {
    const fs::path disk = dir.path() / "disk";
    const fs::path app = dir.path() / "programs" / "Tool";
    fs::create_directories(app);
    testutil::WriteBytes(app / "data.bin", std::string(3000, 'd'));
    const std::string name = std::string(1, static_cast<char>(fendrel::kPathSep)) + "CleanBridge";
#if !defined(_WIN32)
    // Known folders from a home of the test's own.
    testutil::EnvOverride home("HOME", dir.path().string());
    testutil::EnvOverride config("XDG_CONFIG_HOME", (dir.path() / "config").string());
    fs::create_directories(dir.path() / "config");
    fs::create_directories(dir.path() / "Downloads");
    testutil::WriteBytes(dir.path() / "config" / "user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
    testutil::WriteBytes(dir.path() / "Downloads" / "a.bin", std::string(1000, 'a'));
#endif

    EXPECT_EQ(Render(Call("moverIsAppFolderMoved", {Str(app.string())})), "false");
    Call("moverMoveKnownFolder", {FakeInt(0), FakeInt(7)});
    EXPECT_EQ(Answer("moverMoveKnownFolderCbk"), "moverMoveKnownFolderCbk(4,7)");
    Call("moverMoveAppFolder", {Str(app.string()), FakeInt(8)});
    EXPECT_EQ(Answer("moverMoveAppFolderCbk"), "moverMoveAppFolderCbk(false,8)");
    Call("moverChangeRoot", {Str((dir.path() / "other").string())});
    EXPECT_EQ(Answer("moverChangeRootCbk"), "moverChangeRootCbk(false)");
    EXPECT_FALSE(fs::exists(disk));
    EXPECT_FALSE(fs::exists(dir.path() / "other"));

    Call("moverInit", {Str(name), Str(disk.string())});
    EXPECT_TRUE(fs::is_directory(disk / "CleanBridge"));
    Call("moverGetKnownFoldersInfo", {Str("folders")});
    const std::string folders = Answer("folders(");
    std::size_t rows = 0;
    for (std::size_t at = folders.find("{id:"); at != std::string::npos; at = folders.find("{id:", at + 1))
        ++rows;
    EXPECT_EQ(rows, 6u) << folders;
#if !defined(_WIN32)
    EXPECT_NE(folders.find("{id:0,name:\"Downloads\",isMoved:false,path:\"" + (dir.path() / "Downloads").string() +
                           "\",size:\"1000\"}"),
              std::string::npos)
        << folders;
#endif
    Call("moverRestoreKnownFolder", {FakeInt(0), FakeInt(3)});
    EXPECT_EQ(Answer("moverRestoreKnownFolderCbk"), "moverRestoreKnownFolderCbk(5,3)");  // not moved
    Call("moverMoveKnownFolder", {FakeInt(99), FakeInt(4)});
    EXPECT_EQ(Answer("moverMoveKnownFolderCbk"), "moverMoveKnownFolderCbk(1,4)");  // no such folder

    Call("moverMoveAppFolder", {Str(app.string()), FakeInt(5)});
#if defined(_WIN32)
    // Wine makes no junctions: the folder stays where it was, whole.
    EXPECT_EQ(Answer("moverMoveAppFolderCbk"), "moverMoveAppFolderCbk(false,5)");
    EXPECT_EQ(testutil::ReadBytes(app / "data.bin"), std::string(3000, 'd'));
#else
    EXPECT_EQ(Answer("moverMoveAppFolderCbk"), "moverMoveAppFolderCbk(true,5)");
    EXPECT_TRUE(fs::is_symlink(app));
    EXPECT_EQ(Render(Call("moverIsAppFolderMoved", {Str(app.string())})), "true");

    // A new root takes what was moved along.
    Call("moverChangeRoot", {Str((dir.path() / "other").string())});
    EXPECT_EQ(Answer("moverChangeRootCbk"), "moverChangeRootCbk(true)");
    EXPECT_TRUE(fs::read_symlink(app).string().rfind((dir.path() / "other" / "CleanBridge").string(), 0) == 0)
        << fs::read_symlink(app);

    Call("moverRestoreAppFolder", {Str(app.string()), FakeInt(6)});
    EXPECT_EQ(Answer("moverRestoreAppFolderCbk"), "moverRestoreAppFolderCbk(true,6)");
    EXPECT_FALSE(fs::is_symlink(app));
    EXPECT_EQ(Render(Call("moverIsAppFolderMoved", {Str(app.string())})), "false");
#endif
    EXPECT_EQ(testutil::ReadBytes(app / "data.bin"), std::string(3000, 'd'));
}

// The page hears launchAndWaitCbk with the result and its tag only once the
// whole started tree has ended: the program starts a child and exits at
// once, and the child writes the marker just before it ends.
TEST_F(MainWindowFunctions, LaunchAndWaitCallsBackAfterTheWholeTreeWithItsTag) {
    g_pageFunctions.insert("launchAndWaitCbk");
    const fs::path marker = dir.path() / "marker";
    {
        testutil::ChildJob job("spawn 0 marker 2000 " + Utils::utf16ToUtf8(marker.wstring()));
        Call("launchAndWait", {Str(Utils::utf16ToUtf8(testutil::SelfCommandLine())), FakeInt(7)});
        EXPECT_EQ(Answer("launchAndWaitCbk"), "launchAndWaitCbk(0,7)");
        EXPECT_TRUE(fs::exists(marker));
    }
    Call("launchAndWait", {Str("\"" + (dir.path() / "no-such-program.exe").string() + "\""), FakeInt(8)});
    EXPECT_EQ(Answer("launchAndWaitCbk"), "launchAndWaitCbk(2,8)");
}

}  // namespace
