#include "trova/extension/samecontent.h"

#include "fendrel/fastdir.h"

#include <cstring>
#include <exception>
#include <memory>

namespace Trova {

namespace {

// Side-by-side reading keeps one block per file in memory and one handle
// open per file: a larger group compares by whole-file digests instead.
constexpr std::size_t kSideBySide = 64;
constexpr std::size_t kBlock = 1 << 20;

std::vector<std::vector<std::size_t>> ByDigest(const std::vector<ContentCandidate>& files,
                                               const std::vector<std::size_t>& members,
                                               const std::function<void()>& between) {
    std::vector<std::pair<std::vector<std::uint8_t>, std::size_t>> digests;
    for (std::size_t index : members) {
        // `between` may throw; that must not cross the reading library.
        std::exception_ptr stopped;
        const FastDir::Digest read = FastDir::Sha512(files[index].path, 0, [&] {
            try {
                if (between)
                    between();
                return true;
            } catch (...) {
                stopped = std::current_exception();
                return false;
            }
        });
        if (stopped)
            std::rethrow_exception(stopped);
        if (!read.bytes.empty() && read.size == files[index].size && read.lastWrite == files[index].lastWrite)
            digests.emplace_back(read.bytes, index);
    }
    std::vector<std::vector<std::size_t>> classes;
    std::vector<bool> taken(digests.size(), false);
    for (std::size_t i = 0; i < digests.size(); ++i) {
        if (taken[i])
            continue;
        std::vector<std::size_t> same{digests[i].second};
        for (std::size_t j = i + 1; j < digests.size(); ++j) {
            if (!taken[j] && digests[j].first == digests[i].first) {
                taken[j] = true;
                same.push_back(digests[j].second);
            }
        }
        if (same.size() > 1)
            classes.push_back(std::move(same));
    }
    return classes;
}

}  // namespace

std::vector<std::vector<std::size_t>> SameContent(const std::vector<ContentCandidate>& files,
                                                  const std::function<void()>& between) {
    // Open every file once; drop the changed, the unreadable and second names.
    std::vector<std::unique_ptr<FastDir::FileReader>> readers(files.size());
    std::vector<std::size_t> open;
    std::vector<FastDir::FileId> seen;
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto reader = std::make_unique<FastDir::FileReader>(files[i].path);
        if (!reader->IsOpen() || reader->size != files[i].size || reader->lastWrite != files[i].lastWrite)
            continue;
        bool linked = false;
        for (const FastDir::FileId& id : seen)
            linked = linked || id == reader->id;
        if (linked)
            continue;
        seen.push_back(reader->id);
        readers[i] = std::move(reader);
        open.push_back(i);
    }
    if (open.size() < 2)
        return {};
    if (open.size() > kSideBySide) {
        readers.clear();
        return ByDigest(files, open, between);
    }

    // Classes of files equal so far; each block splits them further.
    std::vector<std::vector<std::size_t>> classes{open};
    std::vector<std::unique_ptr<unsigned char[]>> blocks(files.size());
    for (std::size_t index : open)
        blocks[index].reset(new unsigned char[kBlock]);
    for (;;) {
        std::vector<std::vector<std::size_t>> next;
        bool more = false;
        for (const std::vector<std::size_t>& same : classes) {
            std::vector<std::int64_t> got(files.size(), -1);
            for (std::size_t index : same)
                got[index] = readers[index]->Read(blocks[index].get(), kBlock);
            std::vector<std::vector<std::size_t>> split;
            for (std::size_t index : same) {
                if (got[index] < 0)
                    continue;  // a read error: not a duplicate of anything
                bool placed = false;
                for (std::vector<std::size_t>& part : split) {
                    const std::size_t first = part.front();
                    if (got[first] == got[index] &&
                        std::memcmp(blocks[first].get(), blocks[index].get(), static_cast<std::size_t>(got[index])) == 0) {
                        part.push_back(index);
                        placed = true;
                        break;
                    }
                }
                if (!placed)
                    split.push_back({index});
            }
            for (std::vector<std::size_t>& part : split) {
                if (part.size() < 2)
                    continue;
                // A block shorter than asked for is the end of every member.
                if (got[part.front()] == static_cast<std::int64_t>(kBlock))
                    more = true;
                next.push_back(std::move(part));
            }
        }
        classes = std::move(next);
        if (!more || classes.empty())
            break;
        if (between)
            between();
    }
    return classes;
}

}  // namespace Trova
