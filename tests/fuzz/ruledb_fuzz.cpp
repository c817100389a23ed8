// Feeds arbitrary bytes to the rule database reader, as a plain file and as
// a scrambled container, then runs the tree's accounting over whatever was
// built. Nothing may crash, and the same text must build the same tree
// whether it is stored plain or scrambled.
#include "trova/clean/cacheclean.h"
#include "trova/clean/dir.h"
#include "trova/clean/directdata.h"
#include "trova/clean/scrambled.h"
#include "trova/clean/unsresidualrule.h"

#include "fendrel/file.h"
#include "fendrel/utils.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <unistd.h>

using namespace Trova;

namespace {

std::wstring ScratchPath(const char* name) {
    // Every run writes and reads two files: a memory-backed folder makes that
    // about ten times faster than a disk-backed temporary folder.
    std::error_code error;
    const std::wstring folder = std::filesystem::is_directory("/dev/shm", error) ? L"/dev/shm/" : File::TempPath();
    return folder + Utils::utf8ToUtf16("clean-fuzz-" + std::to_string(getpid()) + "-" + name);
}

std::wstring PlainPath() {
    static const std::wstring path = ScratchPath("rules.xml");
    return path;
}

std::wstring ScrambledPath() {
    static const std::wstring path = ScratchPath("rules.dat");
    return path;
}

// libFuzzer ends with _Exit, so nothing registered for the exit would run.
void RemoveScratchFiles() {
    std::remove(Utils::utf16ToUtf8(PlainPath()).c_str());
    std::remove(Utils::utf16ToUtf8(ScrambledPath()).c_str());
}

void WriteFile(const std::wstring& path, const std::uint8_t* data, size_t size) {
    if (FILE* f = std::fopen(Utils::utf16ToUtf8(path).c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

template <typename F>
void ForEachItem(CacheClean& cache, F&& visit) {
    for (const auto& detail : cache.details) {
        for (const auto& block : detail->blocks)
            for (const auto& item : block->items) visit(*item);
        for (const auto& leftover : detail->leftovers)
            for (const auto& block : leftover->blocks)
                for (const auto& item : block->items) visit(*item);
    }
}

std::string Shape(CacheClean& cache) {
    std::string shape = std::to_string(cache.groups.groups.size()) + "g";
    for (const auto& group : cache.groups.groups) {
        shape += " " + std::to_string(group->cb.Get()) + ":" + std::to_string(group->entries.size());
    }
    for (const auto& detail : cache.details) {
        shape += " d" + std::to_string(detail->entries.size()) + "/" + std::to_string(detail->blocks.size()) + "/" +
                 std::to_string(detail->leftovers.size());
    }
    ForEachItem(cache, [&](Execute& item) {
        shape += " i" + std::to_string(item.ar.ids.size()) + "/" + std::to_string(item.folders.size()) + "/" +
                 std::to_string(item.records.size());
    });
    return shape;
}

// A scan's bookkeeping without the disk: every item finds a byte and every rule ends.
void Account(CacheClean& cache) {
    ForEachItem(cache, [](Execute& item) {
        item.AddSize(1, nullptr);
        for (const auto& folder : item.folders) item.ChildEnd(folder.get());
        for (const auto& record : item.records) item.ChildEnd(record.get());
    });
    cache.groups.Reset();
    cache.ResetCount();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader names unknown elements and bad numbers on the standard
    // streams; thousands of runs a second would only drown the fuzzer's output.
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::wstring plainPath = PlainPath();
    const std::wstring scrambledPath = ScrambledPath();

    // The input itself, as plain text and as a scrambled container.
    WriteFile(plainPath, data, size);
    CacheClean plain;
    const bool plainLoaded = plain.Load(plainPath, false);
    const std::string plainShape = Shape(plain);
    Account(plain);

    CacheClean raw;
    raw.Load(plainPath, true);
    Account(raw);

    std::vector<std::uint8_t> unscrambled;
    if (ReadScrambledFile(plainPath, unscrambled) != (size >= 5) || (size >= 5 && unscrambled.size() != size - 5)) {
        std::abort();
    }

    // The input scrambled with a key taken from it must read back as the input.
    const std::uint8_t first = size > 0 ? data[0] : 1;
    const std::uint8_t last = size > 1 ? data[size - 1] : 2;
    const std::uint8_t mask[4] = {first, last, 0x5A, static_cast<std::uint8_t>(size)};
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::vector<std::uint8_t> scrambled = Scramble(bytes, mask, static_cast<std::uint8_t>(size * 31));
    WriteFile(scrambledPath, scrambled.data(), scrambled.size());
    if (!ReadScrambledFile(scrambledPath, unscrambled) || unscrambled != bytes) {
        std::abort();
    }
    CacheClean same;
    if (same.Load(scrambledPath, true) != plainLoaded || Shape(same) != plainShape) {
        std::abort();
    }
    RemoveScratchFiles();
    return 0;
}
