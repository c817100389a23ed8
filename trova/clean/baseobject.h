// Bases of every node and property of the rule tree: the present flag, the
// parent link and the kind code; 64-bit sizes that climb the tree with
// lock-free atomics; and the counting of finished children.
#pragma once

#include <atomic>
#include <cstdint>

namespace Trova {

// Kind codes that behaviour depends on.
enum Kind : std::uint32_t {
    kKindNone = 0,
    kKindCacheClean = 1,
    kKindGroup = 5,  // Group and SoftDetail share it
    kKindSoftDetail = 5,
    kKindOS = 9,
    kKindExecute = 10,
    kKindDir = 11,
    kKindDirectData = 12,
    kKindMapping = 13,
    kKindUnsResidualRule = 19,
    kKindCategory = 25,
    kKindExtensionRule = 31,  // size propagation from a Dir stops below it
    kKindPath = 33,
    kKindDepth = 34,
    kKindNameRegular = 35,
    kKindWildcard = 36,
    kKindFiltration = 37,
    kKindSoftShort = 61,
};

class BaseObject {
public:
    BaseObject(BaseObject* parent, std::uint32_t kind) : parent(parent), kind(kind) {}
    BaseObject(const BaseObject&) = delete;
    BaseObject& operator=(const BaseObject&) = delete;
    virtual ~BaseObject() = default;

    bool present = false;
    BaseObject* parent;
    std::uint32_t kind;
};

class SizeBase : public BaseObject {
public:
    using BaseObject::BaseObject;
    // Exchanges the size with 0 and returns the old value; containers reset
    // their children first.
    virtual std::uint64_t Reset();
    // Adds the delta, then forwards it to the parent (as a SizeBase).
    virtual void AddSize(std::uint64_t delta, SizeBase* from);

    std::atomic<std::uint64_t> size{0};
};

class ShortSizeBase : public SizeBase {
public:
    using SizeBase::SizeBase;
    std::uint64_t Reset() override;
    // Adds the delta to size, and to selectedSize when selected, then
    // forwards both to the parent.
    virtual void AddSelectable(std::uint64_t delta, bool selected);

    std::atomic<std::uint64_t> selectedSize{0};
};

// Counts finished children and tells the parent when all have finished.
class IChildEndCount {
public:
    virtual ~IChildEndCount() = default;
    virtual void ChildEnd(BaseObject* child) = 0;
    virtual void ResetCount() { ended = 0; }

    std::atomic<std::uint32_t> ended{0};
};

// Marker of the rules that collect files (folder and record rules).
class ICollectFileInfo {
public:
    virtual ~ICollectFileInfo() = default;
};

// The parent's end counter, when it has one.
inline IChildEndCount* EndCounterOf(BaseObject* node) {
    return node ? dynamic_cast<IChildEndCount*>(node) : nullptr;
}

}  // namespace Trova
