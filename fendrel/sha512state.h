// SHA-512 as each system offers it (CNG on Windows, OpenSSL on Linux),
// behind one small interface for the portable digest of fastdir.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace FastDir {

class Sha512State {
public:
    Sha512State();
    ~Sha512State();
    Sha512State(const Sha512State&) = delete;
    Sha512State& operator=(const Sha512State&) = delete;

    bool Ok() const { return m_ok; }
    bool Update(const void* data, std::size_t size);
    // The 64-byte digest; empty on failure.
    std::vector<std::uint8_t> Finish();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    bool m_ok = false;
};

}  // namespace FastDir
