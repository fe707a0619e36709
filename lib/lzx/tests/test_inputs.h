// Test support: reproducible inputs of several kinds.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace lzx_test {

inline std::vector<uint8_t> random_bytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(size);
    for (auto &b : v) b = uint8_t(rng());
    return v;
}

// Word soup: many short repeats at varied distances, like markup and prose.
inline std::vector<uint8_t> text_bytes(size_t size, uint32_t seed) {
    static const char *const words[] = {"the ",   "<p>",      "</p>\n", "compression ", "of ",  "a ",
                                        "frame ", "<a href=\"", "\">",  "window ",      "and ", "LZX ",
                                        "block ", "offset ", "repeat ", "match ",       "tree ", "\n"};
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    v.reserve(size + 16);
    while (v.size() < size) {
        std::string w = words[rng() % (sizeof words / sizeof *words)];
        if (rng() % 7 == 0) w += std::to_string(rng() % 1000);
        v.insert(v.end(), w.begin(), w.end());
    }
    v.resize(size);
    return v;
}

}  // namespace lzx_test
