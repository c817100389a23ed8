// How the junk engine reports. Calls come from worker threads and from the
// scan thread; an implementation marshals them to the UI thread itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

namespace Trova {

class CacheCleanCbk {
public:
    virtual ~CacheCleanCbk() = default;
    // All groups ended; and again first thing in the result report.
    virtual void OnTotal(std::uint64_t size, std::uint64_t selectedSize) = 0;
    virtual void OnGroup(std::string name, std::uint64_t size, std::uint64_t selectedSize, std::uint32_t id) = 0;
    virtual void OnProgram(std::string name, std::uint64_t size, std::uint64_t selectedSize, std::uint32_t id) = 0;
    virtual void OnItem(std::string name, std::uint64_t size, std::uint32_t id, bool selected) = 0;
    virtual void OnItemFiles(const std::map<std::string, std::uint64_t>& files) = 0;
    // Every time bytes reach the group list.
    virtual void OnRunningSize(std::uint64_t size, std::uint64_t selectedSize) = 0;
    // A file that passed a folder rule's filters, during the walk.
    virtual void OnFileFound(const std::string& path) = 0;
    virtual void OnScanEnd(std::uint8_t result) = 0;
    // Every time a program detail ends.
    virtual void OnProgress(std::uint32_t finished, std::uint32_t total) = 0;
};

// The callback of the running scan; null reports nothing.
extern std::atomic<CacheCleanCbk*> g_scanCallback;
// The data files are scrambled (configuration "encryption"); ids on the
// script bridge are then masked with g_idMask.
extern std::atomic<bool> g_dataScrambled;
constexpr std::uint32_t g_idMask = 0x5E3A91C7u;

}  // namespace Trova
