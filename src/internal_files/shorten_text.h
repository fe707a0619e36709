// Cutting display text to a byte limit without splitting a character of a
// double-byte code page.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

// The longest prefix of text of at most max_bytes bytes that ends on a
// character boundary of code_page.
std::string_view shorten_text(std::string_view text, size_t max_bytes, uint32_t code_page);
