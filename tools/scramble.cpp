// Writes a data file in the scrambled container the program reads, or takes
// one apart again:
//   scramble IN OUT       IN scrambled with a fresh random key into OUT
//   scramble -d IN OUT    the plain text of the container IN into OUT
#include "trova/clean/scrambled.h"

#include "fendrel/utils.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: scramble IN OUT\n       scramble -d IN OUT\n");
    return 2;
}

bool ReadAll(const char* path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteAll(const char* path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    const bool unscramble = argc == 4 && std::strcmp(argv[1], "-d") == 0;
    if (argc != 3 && !unscramble) return Usage();
    const char* input = argv[unscramble ? 2 : 1];
    const char* output = argv[unscramble ? 3 : 2];

    std::vector<std::uint8_t> result;
    if (unscramble) {
        if (!Trova::ReadScrambledFile(Utils::AnsiToUtf16(input), result)) {
            std::fprintf(stderr, "scramble: %s is not a readable scrambled file\n", input);
            return 1;
        }
    } else {
        std::vector<std::uint8_t> plain;
        if (!ReadAll(input, plain)) {
            std::fprintf(stderr, "scramble: cannot read %s\n", input);
            return 1;
        }
        std::random_device random;
        std::uniform_int_distribution<int> byte(0, 255);
        std::uint8_t mask[4];
        for (std::uint8_t& m : mask) m = static_cast<std::uint8_t>(byte(random));
        result = Trova::Scramble(plain, mask, static_cast<std::uint8_t>(byte(random)));
    }
    if (!WriteAll(output, result)) {
        std::fprintf(stderr, "scramble: cannot write %s\n", output);
        return 1;
    }
    return 0;
}
