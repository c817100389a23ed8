// How the extension scan (large files, duplicates) reports. Calls come from
// the scan's threads; an implementation marshals them to the UI thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Trova {

struct BigFileRecord {
    std::string fileName;  // full path, UTF-8
    std::uint64_t size = 0;
};

struct DuplicateGroup {
    std::uint64_t size = 0;             // the size every member has
    std::vector<std::string> files;     // full paths, UTF-8
};

class ExtensionCleanCbk {
public:
    virtual ~ExtensionCleanCbk() = default;
    virtual void OnTotal(std::uint64_t total) = 0;
    virtual void OnCategory(std::int32_t index, const std::string& name, std::uint64_t size) = 0;
    virtual void OnBigFiles(std::int32_t index, const std::vector<BigFileRecord>& files) = 0;
    virtual void OnDuplicates(std::int32_t index, const std::vector<DuplicateGroup>& groups) = 0;
    virtual void OnFinished(std::int32_t result) = 0;
    virtual void OnNumber(std::uint64_t number) = 0;
    virtual void OnCurrentPath(const std::wstring& path) = 0;
};

}  // namespace Trova
