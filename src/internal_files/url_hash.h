// The hash by which /#URLTBL orders its records and #SYSTEM names the
// contents and index files.
#pragma once
#include <cstdint>
#include <string_view>

// h = h * 43 + (c - '0') over the bytes, ASCII letters taken in capitals,
// modulo 2^32.
uint32_t url_hash(std::string_view url);
