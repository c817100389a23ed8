// The parts of fastdir.h every system shares: whole reads over the system's
// partial ones, and the digest loop over the system's SHA-512.
#include "fastdir.h"

#include "sha512state.h"

#include <memory>

namespace FastDir {

std::int64_t FileReader::Read(void* buffer, std::size_t want) {
    if (!m_open)
        return -1;
    std::size_t got = 0;
    while (got < want) {
        const std::int64_t part = ReadSome(static_cast<char*>(buffer) + got, want - got);
        if (part < 0)
            return -1;
        if (part == 0)
            break;
        got += static_cast<std::size_t>(part);
    }
    return static_cast<std::int64_t>(got);
}

Digest Sha512(const std::wstring& path, std::uint64_t limit, const std::function<bool()>& between) {
    Digest digest;
    FileReader file(path);
    if (!file.IsOpen())
        return digest;
    digest.id = file.id;
    digest.size = file.size;
    digest.lastWrite = file.lastWrite;

    Sha512State hash;
    bool ok = hash.Ok();
    thread_local std::unique_ptr<unsigned char[]> buffer(new unsigned char[1048576]);
    std::uint64_t left = limit;
    while (ok) {
        std::size_t want = 1048576;
        if (limit != 0 && left < want)
            want = static_cast<std::size_t>(left);
        if (want == 0)
            break;
        const std::int64_t got = file.Read(buffer.get(), want);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ok = hash.Update(buffer.get(), static_cast<std::size_t>(got));
        if (limit != 0)
            left -= static_cast<std::uint64_t>(got);
        else if (between && !between())
            ok = false;
    }
    if (ok)
        digest.bytes = hash.Finish();
    return digest;
}

}  // namespace FastDir
