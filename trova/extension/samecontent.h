// Which files of a candidate group really have the same contents: read side
// by side in blocks, split wherever a block differs, so every file is read
// once and a difference ends its reading at once. Hard links to one file
// count once; a file whose size or time changed since the walk saw it, or
// that cannot be read, drops out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Trova {

struct ContentCandidate {
    std::wstring path;
    std::uint64_t size = 0;        // as the walk saw it
    std::uint64_t lastWrite = 0;   // FILETIME, as the walk saw it
};

// The classes of identical files (indices into `files`), each with two or
// more members, in the order of their first member. `between` runs between
// blocks and may throw to give up.
std::vector<std::vector<std::size_t>> SameContent(const std::vector<ContentCandidate>& files,
                                                  const std::function<void()>& between);

}  // namespace Trova
