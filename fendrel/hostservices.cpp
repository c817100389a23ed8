// The parts of the host services that are the same on both systems.
#include "hostservices.h"

#include "file.h"
#include "logger.h"

namespace {

// The system's FOLDERID_ values, in the page's numbering.
constexpr const wchar_t* kFolderIds[KnownFolders::kCount] = {
    L"{374DE290-123F-4565-9164-39C4925E467B}",  // Downloads
    L"{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}",  // Desktop
    L"{FDD39AD0-238F-46AF-ADB4-6C85480369C7}",  // Documents
    L"{33E28130-4E1E-4676-835A-98395C3BC3BB}",  // Pictures
    L"{18989B1D-99B5-455B-841C-AB7C74E4DDFC}",  // Videos
    L"{4BD8D571-6D19-48D3-BE97-422220080E43}",  // Music
};

}  // namespace

std::wstring KnownFolders::Id(int number) {
    return number >= 0 && number < kCount ? kFolderIds[number] : L"";
}

bool FileCopy::Move(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    if (!Copy(source, target, failIfExists))
        return false;  // the source stays where it is
    if (!File::Delete(File(source)))
        LOG_WARN_W(L"FileCopy: copied %ls but could not delete it", source.c_str());
    return true;
}
