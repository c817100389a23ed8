#include "trova/extension/citem.h"

#include "fendrel/platform.h"

#include <algorithm>
#include <chrono>
#include <cwctype>

std::uint32_t CItem::NowSeconds() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

CItem::CItem(std::uint16_t typeAndFlags, std::wstring name, CItem* parent)
    : flags(typeAndFlags), name(std::move(name)), parent(parent) {
    const std::uint16_t type = typeAndFlags & kTypeMask;
    if (type == kComputer || type == kDrive || type == kDirectory)
        folder = std::make_unique<FolderInfo>();
}

std::wstring CItem::Path() const {
    if (parent == nullptr || Has(kRoot))
        return name;
    // The computer item is no folder: its drives carry full paths.
    if (parent->Type() == kComputer)
        return name;
    std::wstring path = parent->Path();
    if (path.empty() || path.back() != fendrel::kPathSep)
        path += fendrel::kPathSep;
    return path + name;
}

std::wstring CItem::Extension() const {
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos)
        return {};
    std::wstring extension = name.substr(dot + 1);
    for (wchar_t& c : extension)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return extension;
}

CItem* CItem::Adopt(std::unique_ptr<CItem> child) {
    std::lock_guard<std::mutex> guard(folder->lock);
    folder->children.push_back(std::move(child));
    return folder->children.back().get();
}

bool CItem::MarkDone() {
    if ((flags.fetch_or(kDone) & kDone) != 0)
        return false;
    if (folder) {
        std::lock_guard<std::mutex> guard(folder->lock);
        auto& children = folder->children;
        children.shrink_to_fit();
        std::stable_sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
            return a->physicalSize.load() > b->physicalSize.load();
        });
        folder->scanEnd = NowSeconds();
    }
    return true;
}
