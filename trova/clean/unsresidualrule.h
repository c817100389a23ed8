// Leftover rule ("bp") of a program that may have been uninstalled: its rule
// blocks apply only when every install check fails.
#pragma once

#include "trova/clean/baseobject.h"
#include "trova/clean/softs.h"
#include "trova/property/properties.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace pugi {
class xml_node;
}

namespace Trova {

class OS;

// Cleans the requested items of these blocks: block by block, id by id, the
// first item with that id has its folder rules walked with deletion and its
// record rules' files removed. Ids no block holds are skipped.
void DeleteItems(const std::vector<std::unique_ptr<OS>>& blocks, const std::vector<std::uint32_t>& itemIds);

class Process : public BaseObject {
public:
    explicit Process(BaseObject* parent) : BaseObject(parent, 0), sv(this, 46) {}
    StringProperty sv;  // process name
};

class RegResidual : public BaseObject {
public:
    explicit RegResidual(BaseObject* parent) : BaseObject(parent, 0) {}
};

class UnsResidualRule : public BaseObject, public IChildEndCount {
public:
    explicit UnsResidualRule(BaseObject* parent);
    ~UnsResidualRule() override;
    void Read(const pugi::xml_node& node);
    // Any install check says installed.
    bool IsInstalled() const;
    // Deletion of the requested items of this rule's blocks (DeleteItems).
    void Delete(const std::vector<std::uint32_t>& itemIds);
    void ChildEnd(BaseObject* child) override;
    void ResetCount() override;

    std::vector<std::unique_ptr<Process>> processes;
    std::vector<std::unique_ptr<Install>> installs;
    std::vector<std::unique_ptr<OS>> blocks;
    std::vector<std::unique_ptr<RegResidual>> registryLeftovers;
};

}  // namespace Trova
