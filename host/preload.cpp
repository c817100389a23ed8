#include "host/preload.h"

#include "fendrel/direnum.h"
#include "fendrel/file.h"
#include "fendrel/logger.h"
#include "fendrel/utils.h"

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

namespace preload {

namespace {

using ResourceMap = std::map<std::string, std::vector<std::uint8_t>>;

std::mutex g_mutex;
std::condition_variable g_loadedChanged;
bool g_started = false;
bool g_loaded = false;
ResourceMap g_resources;

// Every file below `folder` (narrow, process code page) keyed by its path
// under `prefix`. Folder links are not followed: the page is what the folder holds.
void ReadTree(const std::string& folder, const std::string& prefix, ResourceMap& into) {
    DirEnum listing;
    if (!listing.Open(folder))
        return;
    DirEntry entry;
    while (listing.Next(entry)) {
        const std::string path = folder + fendrel::kPathSepA + entry.name;
        const std::string key = prefix.empty() ? Utils::ansiToUtf8(entry.name) : prefix + "/" + Utils::ansiToUtf8(entry.name);
        if (entry.isDirectory) {
            if (!entry.isLink)
                ReadTree(path, key, into);
            continue;
        }
        into[key] = File::readFile(Utils::AnsiToUtf16(path));
    }
}

void Install(ResourceMap resources) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_resources = std::move(resources);
    g_loaded = true;
    g_loadedChanged.notify_all();
}

void PreloadThread(std::wstring folder) {
    ResourceMap resources;
    try {
        ReadTree(Utils::Utf16ToAnsi(folder), "", resources);
        Logger_InfoF("host/preload", __LINE__, "page files read: %zu", resources.size());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Preload error: %s\n", error.what());
    }
    // Installed even after a failure, so that no lookup waits for ever.
    Install(std::move(resources));
}

}  // namespace

void StartPreload() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_started || g_loaded)
        return;
    g_started = true;
    std::thread(PreloadThread, File::Directory(L"") + fendrel::kPathSep + L"html").detach();
}

std::vector<std::uint8_t> Lookup(const std::string& key) {
    StartPreload();
    std::unique_lock<std::mutex> lock(g_mutex);
    g_loadedChanged.wait(lock, [] { return g_loaded; });
    const auto found = g_resources.find(key);
    return found == g_resources.end() ? std::vector<std::uint8_t>() : found->second;
}

void LoadFrom(const std::wstring& folder) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_started = true;
    }
    PreloadThread(folder);
}

}  // namespace preload
