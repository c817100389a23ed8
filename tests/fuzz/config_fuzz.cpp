// Feeds arbitrary bytes to the configuration reader as "config.inf", then
// saves and reads the result again: neither may crash, and a saved file must
// read back to the same fields.
#include "fendrel/file.h"
#include "fendrel/utils.h"
#include "uiclean/i18nconfig.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

class FuzzConfig : public I18nConfig {
public:
    FuzzConfig() = default;
};

std::string ScratchPath(const char* name) {
    return Utils::utf16ToUtf8(File::TempPath()) + "clean-fuzz-" + std::to_string(getpid()) + "-" + name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    static const std::string input = ScratchPath("in.inf");
    static const std::string output = ScratchPath("out.inf");
    if (FILE* f = std::fopen(input.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }

    FuzzConfig first;
    first.DefaultSet(StartupWindowFlags(false), StartupWindowSettings());
    first.SetInfPath(Utils::utf8ToUtf16(input));
    first.Init();
    first.SetInfPath(Utils::utf8ToUtf16(output));
    first.Save();

    FuzzConfig second;
    second.DefaultSet(StartupWindowFlags(false), StartupWindowSettings());
    second.SetInfPath(Utils::utf8ToUtf16(output));
    second.Init();
    if (second.GetLangId() != first.GetLangId() || second.Left() != first.Left() ||
        second.Right() != first.Right() || second.CaptionBottom() != first.CaptionBottom() ||
        second.GetSingleApp() != first.GetSingleApp() || second.GetHRootKey() != first.GetHRootKey())
        std::abort();
    return 0;
}
