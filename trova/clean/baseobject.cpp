#include "trova/clean/baseobject.h"

namespace Trova {

std::uint64_t SizeBase::Reset() { return size.exchange(0); }

void SizeBase::AddSize(std::uint64_t delta, SizeBase* /*from*/) {
    size.fetch_add(delta);
    if (auto* up = dynamic_cast<SizeBase*>(parent)) {
        up->AddSize(delta, this);
    }
}

std::uint64_t ShortSizeBase::Reset() {
    selectedSize.exchange(0);
    return SizeBase::Reset();
}

void ShortSizeBase::AddSelectable(std::uint64_t delta, bool selected) {
    // size and selectedSize are separate atomics: a reader may see one
    // updated before the other, which the running totals tolerate.
    size.fetch_add(delta);
    if (selected) {
        selectedSize.fetch_add(delta);
    }
    if (auto* up = dynamic_cast<ShortSizeBase*>(parent)) {
        up->AddSelectable(delta, selected);
    }
}

}  // namespace Trova
