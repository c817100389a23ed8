#include "trova/clean/unsresidualrule.h"

#include "trova/clean/cacheclean.h"
#include "trova/clean/dir.h"
#include "trova/clean/directdata.h"

#include "fendrel/logger.h"

#include <pugixml.hpp>

#include <cstring>

namespace Trova {

UnsResidualRule::UnsResidualRule(BaseObject* parent) : BaseObject(parent, kKindUnsResidualRule) {}

UnsResidualRule::~UnsResidualRule() = default;

void UnsResidualRule::Read(const pugi::xml_node& node) {
    present = true;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        const char* name = child.name();
        if (std::strcmp(name, "wz") == 0) {
            auto process = std::make_unique<Process>(this);
            process->present = true;
            process->sv.Read(child, "sv");
            processes.push_back(std::move(process));
        } else if (std::strcmp(name, "hw") == 0) {
            auto install = std::make_unique<Install>(this);
            install->Read(child);
            installs.push_back(std::move(install));
        } else if (std::strcmp(name, "dx") == 0) {
            auto block = std::make_unique<OS>(this);
            block->Read(child);
            blocks.push_back(std::move(block));
        } else if (std::strcmp(name, "uy") == 0) {
            auto leftover = std::make_unique<RegResidual>(this);
            leftover->present = true;
            registryLeftovers.push_back(std::move(leftover));
        } else {
            // The log's source and line identify this reader to the rule authors.
            Logger_Warn("clean/unsresidualrule", 32, "unexpected");
        }
    }
}

void DeleteItems(const std::vector<std::unique_ptr<OS>>& blocks, const std::vector<std::uint32_t>& itemIds) {
    for (const auto& block : blocks) {
        for (const std::uint32_t id : itemIds) {
            Execute* item = nullptr;
            for (const auto& candidate : block->items) {
                if (candidate->hd.Get() == id) {
                    item = candidate.get();
                    break;
                }
            }
            if (item == nullptr) {
                continue;
            }
            for (const auto& folder : item->folders) {
                for (const auto& path : folder->uk->Expand()) {
                    folder->WalkDelete(path, folder->ky->Get(), 0);
                }
            }
            for (const auto& record : item->records) {
                record->DeleteFiles();
            }
        }
    }
}

void UnsResidualRule::Delete(const std::vector<std::uint32_t>& itemIds) {
    DeleteItems(blocks, itemIds);
}

bool UnsResidualRule::IsInstalled() const {
    for (const auto& install : installs) {
        if (install->IsInstalled()) {
            return true;
        }
    }
    return false;
}

void UnsResidualRule::ChildEnd(BaseObject* /*child*/) {
    if (ended.fetch_add(1) + 1 == blocks.size()) {
        if (IChildEndCount* counter = EndCounterOf(parent)) {
            counter->ChildEnd(this);
        }
    }
}

void UnsResidualRule::ResetCount() {
    ended = 0;
    for (const auto& block : blocks) {
        block->ResetCount();
    }
}

}  // namespace Trova
