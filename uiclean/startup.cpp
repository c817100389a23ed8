#include "uiclean/startup.h"

#include "fendrel/comapartment.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"
#include "host/basewindow.h"
#include "host/hostsettings.h"
#include "host/messagebox.h"
#include "host/nativewindow.h"
#include "host/preload.h"
#include "host/singleinstance.h"
#include "host/webview.h"
#include "trova/clean/nametables.h"
#include "uiclean/i18nconfig.h"
#include "uiclean/mainblkwindow.h"
#include "uiclean/versioninfo.h"
#include "uiclean/windowsettings.h"

#include <memory>

namespace {

constexpr const char* kSource = "uiclean/startup";

// Held for the life of the process once taken.
std::unique_ptr<SingleInstanceLock> g_instanceLock;

void TellAlreadyRunning() {
    std::wstring caption = L"提示";
    std::wstring text = L"SelvarC盘清理已运行，请勿重复运行";
    Trova::NameTables& tables = Trova::NameTables::Instance();
    if (tables.LanguageFeature()) {
        // A table without these texts keeps the built-in ones rather than an empty box.
        std::string localizedCaption = tables.BigfileText(207);
        std::string localizedText = tables.BigfileText(209);
        if (!localizedCaption.empty())
            caption = Utils::utf8ToUtf16(localizedCaption);
        if (!localizedText.empty())
            text = Utils::utf8ToUtf16(localizedText);
    }
    ShowMessageBox(caption, text);
}

// The host functions' view of the configuration.
class ConfigSettings : public HostSettings {
public:
    explicit ConfigSettings(I18nConfig& config) : m_config(config) {}
    bool Developer() const override { return m_config.Z() != 0; }
    bool I18n() const override { return m_config.GetI18n() != 0; }
    std::wstring ProductName() const override { return m_config.GetProductName(); }
    std::wstring PackageName() const override { return m_config.ReadPackageName(); }
    std::wstring Channel() const override { return m_config.GetChannel(); }
    std::wstring WindowTitle() const override { return m_config.Title(); }
    std::string FileVersion() const override { return Utils::utf16ToUtf8(VersionInfo::Instance().FileVersion()); }
    void SetWindowRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) override {
        m_config.SetWindowRect(left, top, right, bottom);
    }

private:
    I18nConfig& m_config;
};

// Shown normally (SW_SHOWNORMAL).
constexpr int kShowNormal = 5;

}  // namespace

int ApplicationMain(HINSTANCE instance) {
    nativewin::BlockTerminationSignals();
    if (!LoadWebView())
        return 1;
    DpiAPI dpi;
    preload::StartPreload();
    bool legacySystem = Utils::isNotWin8OrGreater();

    I18nConfig& config = I18nConfig::Instance();
    config.DefaultSet(StartupWindowFlags(legacySystem), StartupWindowSettings());
    config.Init();
    Logger_InfoF(kSource, __LINE__, "configuration read from %s",
                 Utils::utf16ToUtf8(config.GetInfPath()).c_str());

    if (config.GetSingleApp() != 0) {
        auto lock = std::make_unique<SingleInstanceLock>();
        if (!lock->Acquire(SingleInstanceLock::NameFor(config.GetProductName()), config.WindowClass())) {
            Logger_InfoF(kSource, __LINE__, "another instance of %s is running; this one ends",
                         Utils::utf16ToUtf8(config.GetProductName()).c_str());
            TellAlreadyRunning();
            return 0;
        }
        g_instanceLock = std::move(lock);
    }

    static ConfigSettings settings(config);
    SetHostSettings(&settings);
    SetCrashReportTexts(Utils::utf16ToUtf8(VersionInfo::Instance().FileVersion()), Utils::utf16ToUtf8(config.GetProductName()),
                        Utils::utf16ToUtf8(config.GetChannel()));

    std::string url = Utils::utf16ToUtf8(config.Url());
    if (url.empty()) {
        // No page named: the page beside the program, under the page origin.
        url = config.Host() + "/index.html";
        Logger_InfoF(kSource, __LINE__, "no url configured; showing %s", url.c_str());
    }
    MainBlkWindow window(nullptr, 0, url, 3);
    window.releaseInstance = [] { g_instanceLock.reset(); };
    window.retakeInstance = [&window, &config] {
        if (config.GetSingleApp() == 0 || g_instanceLock)
            return;
        auto lock = std::make_unique<SingleInstanceLock>();
        if (!lock->Acquire(SingleInstanceLock::NameFor(config.GetProductName()), config.WindowClass())) {
            Logger_Warn(kSource, __LINE__, "the single-instance lock could not be taken back; a second copy may start");
            return;
        }
        lock->ListenForOthers(window.window);
        g_instanceLock = std::move(lock);
    };
    if (window.CreateFromConfig(config, kShowNormal) == nullptr) {
        Logger_Error(kSource, __LINE__, "the main window could not be created");
        return 1;
    }
    nativewin::CloseOnTerminationRequest(window.window);
    if (g_instanceLock)
        g_instanceLock->ListenForOthers(window.window);
    Logger_Info(kSource, __LINE__, "start-up finished");
    const int exitCode = RunMessageLoop(instance, 0);
    SetHostSettings(nullptr);
    return exitCode;
}

int RunEntry(HINSTANCE instance) {
    int exitCode = 0;
    {
        ComApartment com;
        Logger_Init("app.log", 10485760, 3, true);
        Logger_SetLevel(1);
        Logger_InfoF(kSource, __LINE__, "Clean starting");

        exitCode = ApplicationMain(instance);

        // Saved on every way out; before DefaultSet ran there is no path and
        // nothing is written.
        I18nConfig::Instance().Save();
        Logger_InfoF(kSource, __LINE__, "Clean ends with exit code %d", exitCode);
    }
    Logger_Shutdown();
    return exitCode;
}
