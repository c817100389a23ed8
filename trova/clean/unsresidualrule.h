// Leftover rule ("bp") of a program that may have been uninstalled: its rule
// blocks apply only when every install check fails.
#pragma once

#include "trova/clean/baseobject.h"
#include "trova/clean/softs.h"
#include "trova/property/properties.h"

#include <memory>
#include <vector>

namespace pugi {
class xml_node;
}

namespace Trova {

class OS;

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
    void ChildEnd(BaseObject* child) override;
    void ResetCount() override;

    std::vector<std::unique_ptr<Process>> processes;
    std::vector<std::unique_ptr<Install>> installs;
    std::vector<std::unique_ptr<OS>> blocks;
    std::vector<std::unique_ptr<RegResidual>> registryLeftovers;
};

}  // namespace Trova
