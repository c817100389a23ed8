// One node of the large-file walker's tree: the computer (several roots), a
// drive, a folder or a file. Containers carry their children and counters;
// files carry only what the large-file and duplicate reports need.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CItem {
public:
    enum : std::uint16_t {
        kComputer = 0x0001,
        kDrive = 0x0002,
        kDirectory = 0x0004,
        kFile = 0x0008,
        kTypeMask = 0x00FF,
        kDone = 0x0100,
        kRoot = 0x0200,
        kDigestFailed = 0x0400,
        kPartialDigest = 0x0800,
    };

    struct FolderInfo {
        std::vector<std::unique_ptr<CItem>> children;
        std::mutex lock;
        std::uint32_t scanStart = 0;
        std::uint32_t scanEnd = 0;
        std::atomic<std::uint32_t> files{0};
        std::atomic<std::uint32_t> folders{0};
        std::atomic<std::uint32_t> pending{0};
    };

    CItem(std::uint16_t typeAndFlags, std::wstring name, CItem* parent);

    std::uint16_t Type() const { return flags.load() & kTypeMask; }
    bool Has(std::uint16_t flag) const { return (flags.load() & flag) != 0; }
    void Set(std::uint16_t flag) { flags.fetch_or(flag); }
    bool IsContainer() const { return folder != nullptr; }

    // The names from the root down joined with the system's separator; a
    // root's name is already a full path.
    std::wstring Path() const;
    // After the last ".", lower-cased; empty without a ".".
    std::wstring Extension() const;

    // Appends a child under this item's lock and returns it.
    CItem* Adopt(std::unique_ptr<CItem> child);
    // Marks the item done once: children sorted by physical size, largest
    // first. False when it was done already.
    bool MarkDone();

    // Seconds of a steady clock, for the folder timings.
    static std::uint32_t NowSeconds();

    std::uint64_t lastWrite = 0;
    std::unique_ptr<FolderInfo> folder;
    std::atomic<std::uint16_t> flags;
    std::wstring name;
    CItem* parent;
    std::atomic<std::uint64_t> physicalSize{0};
    std::atomic<std::uint64_t> logicalSize{0};
    std::uint32_t attributes = 0xFFFFFFFFu;
};
