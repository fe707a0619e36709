#include "internal_files/url_hash.h"

uint32_t url_hash(std::string_view url) {
    uint32_t hash = 0;
    for (unsigned char c : url) {
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
        hash = hash * 43 + (static_cast<uint32_t>(c) - 0x30);
    }
    return hash;
}
