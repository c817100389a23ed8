// The engines' callback interfaces mapped onto calls of the page's global
// functions. Every slot copies what it sends and hands a closure to the UI
// thread (host/uitask.h); numbers of 64 bits and ids travel as decimal
// strings so that no digit is lost in the page's doubles.
#pragma once

#include "trova/clean/cachecleancbk.h"
#include "trova/extension/extensioncleancbk.h"

#include "fendrel/platform.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

class BaseBlkWinow;

namespace Trova {

// Payload of the group and program slots (typed task kinds 0 and 1).
struct Cbk1Data {
    std::string name;
    std::uint64_t size = 0;
    std::uint64_t selectedSize = 0;
    std::uint32_t id = 0;
};

// Payload kinds of the typed task message (0x46C).
enum TaskKind : std::uintptr_t { kGroupTask = 0, kProgramTask = 1, kNumberTask = 4, kTextTask = 5 };

// Runs a typed task on the UI thread (the main window's 0x46C handler).
void RunTypedTask(std::uintptr_t kind, std::intptr_t record);

// Base 10, no sign, no separators: "0" for zero.
std::string Decimal(std::uint64_t value);

class CacheCleanCbkImple : public CacheCleanCbk {
public:
    CacheCleanCbkImple(std::int32_t sizeEvery, std::int32_t fileEvery, HWND window, BaseBlkWinow* owner);

    // Every N-th size change and file name reaches the page; N below 1 counts as 1.
    void SetThrottles(std::int32_t sizeEvery, std::int32_t fileEvery);
    std::int32_t SizeEvery() const { return m_sizeEvery; }
    std::int32_t FileEvery() const { return m_fileEvery; }

    void OnTotal(std::uint64_t size, std::uint64_t selectedSize) override;
    void OnGroup(std::string name, std::uint64_t size, std::uint64_t selectedSize, std::uint32_t id) override;
    void OnProgram(std::string name, std::uint64_t size, std::uint64_t selectedSize, std::uint32_t id) override;
    void OnItem(std::string name, std::uint64_t size, std::uint32_t id, bool selected) override;
    void OnItemFiles(const std::map<std::string, std::uint64_t>& files) override;
    void OnRunningSize(std::uint64_t size, std::uint64_t selectedSize) override;
    void OnFileFound(const std::string& path) override;
    void OnScanEnd(std::uint8_t result) override;
    void OnProgress(std::uint32_t finished, std::uint32_t total) override;

    // The two process-wide counters, shared by every scan (for tests).
    static void ResetCounters();

private:
    std::int32_t m_sizeEvery;
    std::int32_t m_fileEvery;
    HWND m_window;
    BaseBlkWinow* m_owner;
};

class ExtensionCleanCbkImple : public ExtensionCleanCbk {
public:
    ExtensionCleanCbkImple(HWND window, BaseBlkWinow* owner);

    // The page's seven function names, one per slot in slot order.
    void SetNames(const std::array<std::string, 7>& names) { m_names = names; }
    const std::array<std::string, 7>& Names() const { return m_names; }
    void SetOptionA(std::int32_t option) { m_optionA = option; }
    // OnCurrentPath is raised every N-th file.
    void SetPeriod(std::int32_t period) { m_period = period < 1 ? 1 : period; }
    std::int32_t Period() const { return m_period; }
    void ResetCounters() {
        m_second = 0;
        m_count = 0;
    }
    std::atomic<std::int32_t>& Count() { return m_count; }

    void OnTotal(std::uint64_t total) override;
    void OnCategory(std::int32_t index, const std::string& name, std::uint64_t size) override;
    void OnBigFiles(std::int32_t index, const std::vector<BigFileRecord>& files) override;
    void OnDuplicates(std::int32_t index, const std::vector<DuplicateGroup>& groups) override;
    void OnFinished(std::int32_t result) override;
    void OnNumber(std::uint64_t number) override;
    void OnCurrentPath(const std::wstring& path) override;

private:
    std::int32_t m_optionA = 0;
    std::int32_t m_second = 0;
    std::int32_t m_period = 1;
    std::atomic<std::int32_t> m_count{0};
    std::array<std::string, 7> m_names;
    HWND m_window;
    BaseBlkWinow* m_owner;
};

}  // namespace Trova
