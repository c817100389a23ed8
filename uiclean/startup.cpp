#include "uiclean/startup.h"

#include "fendrel/comapartment.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"
#include "host/messagebox.h"
#include "host/singleinstance.h"
#include "trova/clean/nametables.h"
#include "uiclean/i18nconfig.h"
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

}  // namespace

int ApplicationMain(HINSTANCE instance) {
    DpiAPI dpi;
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

    Logger_Info(kSource, __LINE__, "start-up finished");
    return 0;
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
