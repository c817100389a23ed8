#include "trova/extension/extensioncleanfile.h"

#include "trova/clean/cachecleancbk.h"
#include "trova/clean/dir.h"
#include "trova/clean/nametables.h"
#include "trova/clean/ruledocument.h"
#include "trova/clean/softs.h"
#include "trova/extension/citem.h"

#include "fendrel/logger.h"
#include "fendrel/platform.h"
#include "fendrel/utils.h"

#include <pugixml.hpp>

#include <algorithm>
#include <iostream>
#include <thread>

namespace Trova {

namespace {

constexpr const char* kSource = "extension/extensioncleanfile";

std::mutex g_settingsMutex;
bool g_settingsApplied = false;
ExtensionSettings g_settings;

std::vector<std::wstring> SplitExtensions(const std::string& text) {
    std::vector<std::wstring> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find('|', start);
        const std::string piece = text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!piece.empty())
            out.push_back(Utils::utf8ToUtf16(piece));
        if (bar == std::string::npos)
            return out;
        start = bar + 1;
    }
}

// The category's name in the current language, or the file's own.
std::string CategoryName(const CategoryShort& category, bool maskedId) {
    NameTables& tables = NameTables::Instance();
    if (tables.LanguageFeature()) {
        std::uint32_t id = category.ka.Get();
        if (maskedId && g_dataScrambled.load())
            id ^= g_idMask;
        const std::string text = tables.BigfileText(static_cast<int>(id));
        if (!text.empty())
            return text;
    }
    return category.sv.Get();
}

}  // namespace

bool Suffix::Matches(const std::wstring& extension, std::uint64_t size) const {
    // 64-bit: a limit of 4096 MiB or more must not wrap to a small one.
    if (size <= (static_cast<std::uint64_t>(minimumMiB) << 20))
        return false;
    return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

CategoryShort::CategoryShort(BaseObject* parent)
    : SizeBase(parent, kKindCategory), ka(this), uw(this), rc(this), sv(this), di(this) {}

void CategoryShort::Read(const pugi::xml_node& node) {
    present = true;
    ka.Read(node, "ka");
    uw.Read(node, "uw");
    const std::string ids = node.attribute("rc").as_string();
    std::size_t start = 0;
    while (start <= ids.size()) {
        const std::size_t bar = ids.find('|', start);
        const std::string piece = ids.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!piece.empty()) {
            try {
                rc.values.push_back(static_cast<std::uint32_t>(std::stoul(piece)));
            } catch (const std::exception&) {
                Logger_WarnF(kSource, __LINE__, "category %u: \"%s\" is not an extension id", ka.Get(), piece.c_str());
            }
        }
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    rc.present = !rc.values.empty();
    sv.Read(node, "sv");
    di.Read(node, "di");
}

bool CategoryShort::Lists(std::uint32_t suffixId) const {
    return std::find(rc.values.begin(), rc.values.end(), suffixId) != rc.values.end();
}

std::uint64_t Big_Category::Reset() {
    duplicateSize = 0;
    for (const auto& category : categories)
        category->Reset();
    return SizeBase::Reset();
}

ExtensionCleanFile::ExtensionCleanFile()
    : SizeBase(nullptr, 70), mapping(std::make_unique<Mapping>(this)), categories(this) {}

ExtensionCleanFile::~ExtensionCleanFile() = default;

bool ExtensionCleanFile::Load(const std::wstring& path, bool scrambled) {
    pugi::xml_document document;
    try {
        if (!LoadRuleDocument(path, scrambled, "extension rule file", document))
            return false;
        present = true;
        for (const pugi::xml_node& child : document.child("wu").children()) {
            if (child.type() != pugi::node_element)
                continue;
            const std::string name = child.name();
            if (name == "fb") {
                mapping->Read(child);
            } else if (name == "ok") {
                for (const pugi::xml_node& list : child.children("vj")) {
                    for (const pugi::xml_node& folder : list.children("om")) {
                        auto pattern = std::make_unique<Path>(this);
                        pattern->Read(folder, "om");
                        whiteFolders.push_back(std::move(pattern));
                    }
                }
                for (const pugi::xml_node& suffix : child.children("ql"))
                    whiteSuffix = suffix.attribute("ob").as_string();
            } else if (name == "fn") {
                for (const pugi::xml_node& entry : child.children()) {
                    if (std::string(entry.name()) == "cd") {
                        Suffix suffix;
                        suffix.id = entry.attribute("ka").as_uint(0xFFFFFFFFu);
                        suffix.minimumMiB = entry.attribute("vk").as_uint(0xFFFFFFFFu);
                        suffix.extensions = SplitExtensions(entry.attribute("ob").as_string());
                        suffixes.push_back(std::move(suffix));
                    } else if (std::string(entry.name()) == "dir") {
                        auto dir = std::make_unique<Dir>(this);
                        dir->Read(entry);
                        dirs.push_back(std::move(dir));
                    }
                }
            } else if (name == "dq") {
                for (const pugi::xml_node& entry : child.children("aa")) {
                    auto category = std::make_unique<CategoryShort>(&categories);
                    category->Read(entry);
                    categories.categories.push_back(std::move(category));
                }
                categories.present = true;
            } else if (name != "image") {
                std::cout << "name:" << name << std::endl;
            }
        }
    } catch (const std::exception& error) {
        Logger_ErrorF(kSource, __LINE__, "extension rule file not loaded: %s", error.what());
        return false;
    }
    return true;
}

std::uint32_t ExtensionCleanFile::Classify(const std::wstring& extension, std::uint64_t size) const {
    if (size < kBigFileMinimum || extension.empty())
        return 0xFFFFFFFFu;
    for (const Suffix& suffix : suffixes) {
        if (suffix.Matches(extension, size))
            return suffix.id;
    }
    return 0xFFFFFFFFu;
}

CategoryShort* ExtensionCleanFile::CategoryFor(std::uint32_t suffixId) const {
    if (suffixId == 0xFFFFFFFFu)
        return nullptr;
    for (const auto& category : categories.categories) {
        if (category->Lists(suffixId))
            return category.get();
    }
    return nullptr;
}

void ExtensionCleanFile::OnFile(CItem& item, ExtensionMode mode, const DigestFunction& digest) {
    const std::uint64_t size = item.logicalSize.load();
    if (ExtensionCleanCbk* callback = categories.callback) {
        const std::uint32_t every = period == 0 ? 1 : period;
        if (filesAdded.fetch_add(1) % every == 0)
            callback->OnCurrentPath(item.Path());
    }
    const std::wstring extension = item.Extension();
    CategoryShort* category = CategoryFor(Classify(extension, size));
    if (category == nullptr)
        return;
    if (mode == ExtensionMode::BigFiles) {
        if (size < kBigFileMinimum)
            return;
        {
            std::lock_guard<std::mutex> guard(category->mutex);
            category->bigFiles.push_back({Utils::utf16ToUtf8(item.Path()), size});
        }
        category->AddSize(size, nullptr);
        return;
    }
    if (size >= kDuplicateMinimum && !extension.empty())
        AddCandidate(*category, item, digest);
}

void ExtensionCleanFile::AddCandidate(CategoryShort& category, CItem& item, const DigestFunction& digest) {
    if (item.logicalSize.load() <= kHeadBytes)
        return;
    std::vector<CItem*> toHash;
    {
        std::lock_guard<std::mutex> guard(category.mutex);
        std::vector<CItem*>& group = category.sizeGroups[item.logicalSize.load()];
        group.push_back(&item);
        if (group.size() < 2)
            return;  // alone in its size: never opened
        // Claimed here, so that no member is hashed twice.
        for (CItem* member : group) {
            if (!member->Has(CItem::kPartialDigest) && !member->Has(CItem::kDigestFailed)) {
                member->Set(CItem::kPartialDigest);
                toHash.push_back(member);
            }
        }
    }
    // Read without the lock: workers hash files of one category at once.
    for (CItem* member : toHash) {
        const std::vector<std::uint8_t> head = digest(*member, kHeadBytes);
        std::lock_guard<std::mutex> guard(category.mutex);
        if (head.size() < 16) {
            member->Set(CItem::kDigestFailed);
            continue;
        }
        std::string key(head.begin(), head.begin() + 16);
        key.push_back('\0');
        category.hashGroups[key].push_back(member);
    }
}

void ExtensionCleanFile::ConfirmDuplicates(const ConfirmFunction& confirm, unsigned threads,
                                           const std::atomic<bool>& stopping) {
    struct Candidate {
        CategoryShort* category;
        const std::vector<CItem*>* members;
        std::vector<std::vector<std::size_t>> classes;
    };
    std::vector<Candidate> candidates;
    for (const auto& category : categories.categories) {
        for (const auto& [key, members] : category->hashGroups) {
            if (key.size() == 17 && members.size() > 1)
                candidates.push_back({category.get(), &members, {}});
        }
    }

    // Groups are independent: several are read at once.
    std::atomic<std::size_t> next{0};
    auto reader = [&] {
        for (std::size_t job; !stopping.load() && (job = next.fetch_add(1)) < candidates.size();) {
            try {
                candidates[job].classes = confirm(*candidates[job].members);
            } catch (const std::exception&) {
                return;  // the scan is stopping
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned i = 1; i < std::max(1u, threads); ++i)
        pool.emplace_back(reader);
    reader();
    for (std::thread& thread : pool)
        thread.join();
    if (stopping.load())
        return;  // unconfirmed groups are not reported

    for (Candidate& candidate : candidates) {
        CategoryShort& category = *candidate.category;
        for (const std::vector<std::size_t>& same : candidate.classes) {
            DuplicateGroup group;
            group.size = (*candidate.members)[same.front()]->logicalSize.load();
            for (std::size_t index : same)
                group.files.push_back(Utils::utf16ToUtf8((*candidate.members)[index]->Path()));
            category.duplicateSize += group.size;
            categories.duplicateSize += group.size;
            category.duplicates.push_back(std::move(group));
        }
    }
}

void ExtensionCleanFile::Report(ExtensionMode mode, std::int32_t code) {
    ExtensionCleanCbk* callback = categories.callback;
    if (callback == nullptr)
        return;
    const bool duplicates = mode == ExtensionMode::Duplicates;
    std::vector<CategoryShort*> order;
    for (const auto& category : categories.categories)
        order.push_back(category.get());
    auto total = [duplicates](const CategoryShort* category) {
        return duplicates ? category->duplicateSize.load() : category->size.load();
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](const CategoryShort* a, const CategoryShort* b) { return total(a) > total(b); });

    callback->OnTotal(duplicates ? categories.duplicateSize.load() : categories.size.load());
    std::int32_t index = 0;
    for (CategoryShort* category : order) {
        callback->OnCategory(index, CategoryName(*category, duplicates), total(category));
        std::lock_guard<std::mutex> guard(category->mutex);
        if (duplicates) {
            std::stable_sort(category->duplicates.begin(), category->duplicates.end(),
                             [](const DuplicateGroup& a, const DuplicateGroup& b) { return a.size > b.size; });
            callback->OnDuplicates(index, category->duplicates);
        } else {
            std::stable_sort(category->bigFiles.begin(), category->bigFiles.end(),
                             [](const BigFileRecord& a, const BigFileRecord& b) { return a.size > b.size; });
            callback->OnBigFiles(index, category->bigFiles);
        }
        ++index;
    }
    callback->OnFinished(code);
}

ExtensionSettings ExtensionScanSettings() {
    std::lock_guard<std::mutex> guard(g_settingsMutex);
    return g_settings;
}

void ApplyExtensionSettingsOnce(const ExtensionCleanFile& rules) {
    std::lock_guard<std::mutex> guard(g_settingsMutex);
    if (g_settingsApplied)
        return;
    g_settingsApplied = true;
    for (const auto& pattern : rules.whiteFolders) {
        for (const std::string& folder : pattern->Expand()) {
            std::wstring wide = Utils::utf8ToUtf16(folder);
            while (wide.size() > 1 && wide.back() == fendrel::kPathSep)
                wide.pop_back();
            g_settings.whiteFolders.push_back(wide);
        }
    }
    g_settings.minimumSize = kBigFileMinimum;
}

}  // namespace Trova
