// The Linux registry: a store read from a .reg file (regstore.h), looked up
// with the rules a 64-bit Windows applies to its own registry.
#include "../registry.h"

#include "../file.h"
#include "../logger.h"
#include "../regstore.h"
#include "../utils.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Larger files are no hand-written or exported store; they are not read.
constexpr std::size_t kMaxStoreBytes = 512u * 1024u * 1024u;
// Problems of one file logged one by one before the rest are only counted.
constexpr std::size_t kLoggedProblems = 5;

// Readers take the current content and search it without a lock; SetStore
// puts a new one in place. A reader-writer lock would let busy scan workers
// starve the writer.
struct Store {
    std::mutex mutex;
    std::shared_ptr<const RegStore> content = std::make_shared<RegStore>();
    // Set once SetStore ran or the default file was tried; reads before
    // that load the default file first.
    std::atomic<bool> settled{false};
};

Store& TheStore() {
    static Store store;
    return store;
}

// The file's content in out (empty when it cannot be read); false with log
// lines for a missing, unreadable or partly broken file.
bool LoadFile(const std::string& path, RegStore& out) {
    const std::vector<std::uint8_t> data = File::readFile(Utils::utf8ToUtf16(path));
    const std::string bytes(data.begin(), data.end());
    if (bytes.empty() || bytes.size() > kMaxStoreBytes) {
        LOG_WARN("registry store %s cannot be read; registry reads find nothing", path.c_str());
        out = RegStore();
        return false;
    }
    std::vector<std::string> problems;
    const bool clean = out.Parse(bytes, &problems);
    for (std::size_t i = 0; i < problems.size() && i < kLoggedProblems; ++i)
        LOG_WARN("registry store %s, %s", path.c_str(), problems[i].c_str());
    if (problems.size() > kLoggedProblems)
        LOG_WARN("registry store %s: %zu further problems not shown", path.c_str(), problems.size() - kLoggedProblems);
    if (clean)
        LOG_INFO("registry store %s: %zu keys", path.c_str(), out.KeyCount());
    else
        LOG_WARN("registry store %s read with problems: %zu keys kept", path.c_str(), out.KeyCount());
    return clean;
}

// Until the configuration names a store, the file beside the program is it.
void SettleDefault(Store& store) {
    if (store.settled.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(store.mutex);
    if (store.settled.load(std::memory_order_relaxed))
        return;
    const std::wstring path = File::Directory(L"") + fendrel::kPathSep + L"registry.reg";
    if (File::Exist(path)) {
        auto content = std::make_shared<RegStore>();
        LoadFile(Utils::utf16ToUtf8(path), *content);
        store.content = std::move(content);
    } else {
        LOG_INFO("no registry store (%s is missing); registry reads find nothing", Utils::utf16ToUtf8(path).c_str());
    }
    store.settled.store(true, std::memory_order_release);
}

const wchar_t* RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE)
        return L"HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER)
        return L"HKEY_CURRENT_USER";
    if (root == HKEY_CLASSES_ROOT)
        return L"HKEY_CLASSES_ROOT";
    if (root == HKEY_USERS)
        return L"HKEY_USERS";
    if (root == HKEY_CURRENT_CONFIG)
        return L"HKEY_CURRENT_CONFIG";
    return nullptr;
}

bool IsName(const std::wstring& path, std::size_t begin, std::size_t end, const wchar_t* name) {
    return Utils::toLower(path.substr(begin, end - begin)) == Utils::toLower(name);
}

// The path a 32-bit program on 64-bit Windows reaches: only
// HKEY_LOCAL_MACHINE\SOFTWARE is redirected, into its WOW6432Node subkey; a
// path that already names WOW6432Node is not redirected twice.
std::wstring Redirect32(const std::wstring& subkey) {
    const auto first = subkey.find(L'\\');
    const std::size_t firstEnd = first == std::wstring::npos ? subkey.size() : first;
    if (!IsName(subkey, 0, firstEnd, L"SOFTWARE"))
        return subkey;
    if (first != std::wstring::npos) {
        const auto second = subkey.find(L'\\', first + 1);
        if (IsName(subkey, first + 1, second == std::wstring::npos ? subkey.size() : second, L"WOW6432Node"))
            return subkey;
    }
    return subkey.substr(0, firstEnd) + L"\\WOW6432Node" + subkey.substr(firstEnd);
}

}  // namespace

bool Registry::ReadString(HKEY root, const std::wstring& subkey, const std::wstring& valueName, RegistryView view,
                          std::wstring& value) {
    const wchar_t* rootName = RootName(root);
    if (rootName == nullptr)
        return false;
    std::wstring path = rootName;
    if (!subkey.empty()) {
        path += L'\\';
        path += view == RegistryView::Bit32 && root == HKEY_LOCAL_MACHINE ? Redirect32(subkey) : subkey;
    }

    Store& store = TheStore();
    SettleDefault(store);
    std::shared_ptr<const RegStore> content;
    {
        std::lock_guard<std::mutex> lock(store.mutex);
        content = store.content;
    }
    const RegValue* found = content->Find(path, valueName);
    if (found == nullptr || (found->type != 1 /* REG_SZ */ && found->type != 2 /* REG_EXPAND_SZ */))
        return false;
    value = found->text;
    return true;
}

bool Registry::SetStore(const std::wstring& path) {
    auto fresh = std::make_shared<RegStore>();
    bool loaded = true;
    if (!path.empty())
        loaded = LoadFile(Utils::utf16ToUtf8(path), *fresh);
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.content = std::move(fresh);
    store.settled.store(true, std::memory_order_release);
    return loaded;
}
