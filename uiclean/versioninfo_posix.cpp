// Linux programs carry no version resource: the values come from the build.
#include "uiclean/versioninfo.h"

#include "version.h"

VersionInfo::VersionInfo()
    : m_version{CLEAN_VERSION_MAJOR, CLEAN_VERSION_MINOR, CLEAN_VERSION_PATCH, CLEAN_VERSION_BUILD},
      m_values{L"" CLEAN_PRODUCT_NAME, L"" CLEAN_COMPANY_NAME, L"" CLEAN_LEGAL_NOTICE, L"" CLEAN_ORIGINAL_FILENAME,
               L"" CLEAN_INTERNAL_NAME} {}
