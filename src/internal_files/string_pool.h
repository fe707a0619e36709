// /#STRINGS: the pool of NUL-terminated strings that the other internal
// files name by offset.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "internal_files/byte_output.h"

class string_pool {
public:
    explicit string_pool(uint32_t code_page);

    // The offset of text, adding it when new: 0 for the empty string (the
    // pool's first byte), one offset for equal strings. A string never
    // crosses a 4096-byte block, since the viewers read it from its block
    // alone; one too long for a block is shortened to fill one.
    uint32_t add(std::string_view text);

    const byte_vector &bytes() const { return pool; }

private:
    uint32_t code_page;
    byte_vector pool;
    std::unordered_map<std::string, uint32_t> offsets;
};
