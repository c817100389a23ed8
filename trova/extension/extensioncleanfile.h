// The extension rule file of the large-file and duplicate scans: which
// extensions make which category, which folders are never walked, and the
// per-category collection of big files and duplicate candidates.
//
//   <wu><ok><vj><om om="%windir%"/></vj></ok>
//       <fn><cd ka="1" ob="mp4|mkv" vk="1"/></fn>
//       <dq><aa ka="1" rc="1" sv="Videos"/></dq></wu>
//   => a.MKV of 2 MiB is in "Videos"; nothing below %windir% is walked.
#pragma once

#include "trova/clean/baseobject.h"
#include "trova/extension/extensioncleancbk.h"
#include "trova/property/properties.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CItem;

namespace pugi {
class xml_node;
}

namespace Trova {

class Dir;
class Mapping;

enum class ExtensionMode { BigFiles = 0, Duplicates = 1 };

inline constexpr std::uint64_t kBigFileMinimum = 1048576;
inline constexpr std::uint64_t kDuplicateMinimum = 10240;
inline constexpr std::uint64_t kHeadBytes = 131072;

// One extension entry ("cd"): the extensions of "ob" for files strictly
// larger than "vk" MiB.
struct Suffix {
    std::uint32_t id = 0xFFFFFFFFu;
    std::uint32_t minimumMiB = 0xFFFFFFFFu;
    std::vector<std::wstring> extensions;
    bool Matches(const std::wstring& extension, std::uint64_t size) const;
};

// The SHA-512 of a file's first `limit` bytes for the duplicate check; empty
// on failure. Given so that tests can count reads.
using DigestFunction = std::function<std::vector<std::uint8_t>(const CItem& item, std::uint64_t limit)>;
// Splits a head-equal group into the classes of files with identical
// contents (indices into the group, two or more each).
using ConfirmFunction = std::function<std::vector<std::vector<std::size_t>>(const std::vector<CItem*>& group)>;

// One result category ("aa").
class CategoryShort : public SizeBase {
public:
    explicit CategoryShort(BaseObject* parent);
    void Read(const pugi::xml_node& node);
    bool Lists(std::uint32_t suffixId) const;

    Uint32Property ka;
    Uint32Property uw;
    VecIntProperty rc;
    StringProperty sv;
    Uint32Property di;

    std::mutex mutex;
    std::vector<BigFileRecord> bigFiles;
    std::map<std::uint64_t, std::vector<CItem*>> sizeGroups;
    std::map<std::string, std::vector<CItem*>> hashGroups;   // head digest → members
    std::vector<DuplicateGroup> duplicates;
    std::atomic<std::uint64_t> duplicateSize{0};
};

class Big_Category : public SizeBase {
public:
    explicit Big_Category(BaseObject* parent) : SizeBase(parent, kKindCategory) {}
    std::uint64_t Reset() override;

    std::vector<std::unique_ptr<CategoryShort>> categories;
    std::atomic<std::uint64_t> duplicateSize{0};
    ExtensionCleanCbk* callback = nullptr;
};

class ExtensionCleanFile : public SizeBase {
public:
    ExtensionCleanFile();
    ~ExtensionCleanFile() override;

    // Reads the rule file (a relative path is relative to the program's
    // folder); false when it does not parse, leaving every list empty.
    bool Load(const std::wstring& path, bool scrambled);

    // The "ka" of the first entry that takes the file, or 0xFFFFFFFF.
    std::uint32_t Classify(const std::wstring& extension, std::uint64_t size) const;
    CategoryShort* CategoryFor(std::uint32_t suffixId) const;

    // Per file the walker adds (any thread).
    void OnFile(CItem& item, ExtensionMode mode, const DigestFunction& digest);
    // After the walk: confirm the head-equal groups by their whole content,
    // `threads` groups at a time; stops early (and drops what is
    // unconfirmed) when `stopping` turns true.
    void ConfirmDuplicates(const ConfirmFunction& confirm, unsigned threads, const std::atomic<bool>& stopping);
    // Reports the result through the callback, ending with OnFinished(code).
    void Report(ExtensionMode mode, std::int32_t code);

    std::unique_ptr<Mapping> mapping;
    std::vector<std::unique_ptr<Path>> whiteFolders;  // "ok" / "vj" / "om"
    std::string whiteSuffix;                          // "ok" / "ql" / "ob"
    std::vector<Suffix> suffixes;                     // "fn" / "cd"
    std::vector<std::unique_ptr<Dir>> dirs;           // "fn" / "dir"
    Big_Category categories;
    // Progress: OnCurrentPath every `period`-th file added.
    std::uint32_t period = 1;
    std::atomic<std::uint64_t> filesAdded{0};

private:
    void AddCandidate(CategoryShort& category, CItem& item, const DigestFunction& digest);
};

// Set by the first rule file that loads, then fixed for the process.
struct ExtensionSettings {
    std::vector<std::wstring> whiteFolders;
    std::uint64_t minimumSize = 0;
};
ExtensionSettings ExtensionScanSettings();
void ApplyExtensionSettingsOnce(const ExtensionCleanFile& rules);

}  // namespace Trova
