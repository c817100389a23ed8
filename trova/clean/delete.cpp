#include "trova/clean/cacheclean.h"

#include "trova/clean/unsresidualrule.h"

#include "fendrel/recyclebin.h"

#include <mutex>

namespace Trova {

namespace {

// Leftover groups: their details clean through their leftover rules.
constexpr std::uint32_t kLeftoverGroup = 24;
constexpr std::uint32_t kLeftoverGroupOther = 12;

}  // namespace

int CacheClean::Delete(std::uint32_t groupId, std::uint32_t programId, const std::vector<std::uint32_t>& itemIds) {
    // A deletion walks the same rule objects a scan does; wait for it.
    std::lock_guard<std::mutex> busy(m_busy);
    if (programId == SoftShort::kRecycleBinId) {
        return RecycleBin::Empty() ? 0 : 3;
    }
    SoftDetail* detail = nullptr;
    for (const auto& candidate : details) {
        if (candidate->gp.Get() == programId) {
            detail = candidate.get();
            break;
        }
    }
    if (detail == nullptr) {
        return 4;
    }
    if (groupId == kLeftoverGroup || groupId == kLeftoverGroupOther) {
        for (const auto& leftover : detail->leftovers) {
            leftover->Delete(itemIds);
        }
        return 0;
    }
    DeleteItems(detail->blocks, itemIds);
    return 0;
}

}  // namespace Trova
