#include "huffman.h"

#include <algorithm>
#include <cstring>

namespace lzx {

namespace {

// Moffat and Katajainen's in-place minimum-redundancy code. a[] holds the
// weights in ascending order (and is overwritten); count_of[d] receives the
// number of leaves at depth d for d up to the depth returned, the longest.
uint32_t minimum_redundancy_depths(uint32_t *a, uint32_t n, uint32_t *count_of) {
    a[0] += a[1];
    uint32_t root = 0, leaf = 2;
    for (uint32_t next = 1; next < n - 1; next++) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = next;
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = next;
        } else {
            a[next] += a[leaf++];
        }
    }
    a[n - 2] = 0;
    for (int32_t next = int32_t(n) - 3; next >= 0; next--) a[next] = a[a[next]] + 1;
    // Internal nodes per depth tell how many leaves each depth has.
    int32_t avail = 1, used = 0, root_i = int32_t(n) - 2;
    uint32_t depth = 0;
    while (avail > 0) {
        while (root_i >= 0 && a[root_i] == depth) {
            used++;
            root_i--;
        }
        count_of[depth] = uint32_t(avail - used);
        avail = 2 * used;
        depth++;
        used = 0;
    }
    return depth - 1;
}

// Brings the length counts under max_length while keeping the Kraft sum at 1.
void limit_length_counts(uint32_t *count_of, uint32_t longest, uint32_t max_length) {
    for (uint32_t len = longest; len > max_length; len--) {
        count_of[max_length] += count_of[len];
        count_of[len] = 0;
    }
    // Kraft sum in units of 2^-max_length.
    uint64_t target = uint64_t(1) << max_length, total = 0;
    for (uint32_t len = 1; len <= max_length; len++) total += uint64_t(count_of[len]) << (max_length - len);
    // Too full: push the deepest leaves above the limit one level down.
    while (total > target) {
        uint32_t len = max_length - 1;
        while (count_of[len] == 0) len--;
        count_of[len]--;
        count_of[len + 1]++;
        total -= uint64_t(1) << (max_length - len - 1);
    }
    // Room left: lift the deepest leaves while they fit.
    for (uint32_t len = max_length; len > 1 && total < target; len--) {
        while (count_of[len] > 0 && total + (uint64_t(1) << (max_length - len)) <= target) {
            count_of[len]--;
            count_of[len - 1]++;
            total += uint64_t(1) << (max_length - len);
        }
    }
}

// Sorts keys packed as weight << 10 | symbol, already in symbol order, by
// weight: a stable radix sort on the weight's bytes, as few as it has.
void sort_by_weight(uint64_t *keys, uint32_t n, uint64_t heaviest) {
    uint64_t other[max_huffman_symbols];
    uint64_t *from = keys, *to = other;
    for (uint32_t shift = 10; (heaviest >> shift) != 0; shift += 8) {
        uint32_t start[257] = {};
        for (uint32_t i = 0; i < n; i++) start[((from[i] >> shift) & 255) + 1]++;
        for (uint32_t d = 1; d < 256; d++) start[d] += start[d - 1];
        for (uint32_t i = 0; i < n; i++) to[start[(from[i] >> shift) & 255]++] = from[i];
        std::swap(from, to);
    }
    if (from != keys) std::memcpy(keys, from, sizeof(uint64_t) * n);
}

}  // namespace

uint64_t build_code_lengths(const uint32_t *freqs, uint32_t count, uint32_t max_length, uint8_t *lengths) {
    std::memset(lengths, 0, count);
    // Used symbols sorted by weight, ties by symbol, packed as weight << 10 | symbol.
    uint64_t sorted[max_huffman_symbols];
    uint32_t used = 0, heaviest = 0;
    for (uint32_t s = 0; s < count; s++) {
        if (freqs[s] != 0) sorted[used++] = (uint64_t(freqs[s]) << 10) | s;
        heaviest = std::max(heaviest, freqs[s]);
    }
    if (used == 0) return 0;
    if (used == 1) {
        uint32_t s = uint32_t(sorted[0] & 1023);
        lengths[s] = 1;
        lengths[s == 0 ? 1 : 0] = 1;
        return freqs[s];
    }
    // Few keys sort faster by comparison.
    if (used <= 64) {
        std::sort(sorted, sorted + used);
    } else {
        sort_by_weight(sorted, used, uint64_t(heaviest) << 10);
    }
    uint32_t work[max_huffman_symbols];
    for (uint32_t i = 0; i < used; i++) {
        uint64_t w = sorted[i] >> 10;
        work[i] = w > 0xFFFFFFF ? 0xFFFFFFF : uint32_t(w);
    }
    uint32_t count_of[max_huffman_symbols + 1];
    const uint32_t longest = minimum_redundancy_depths(work, used, count_of);
    for (uint32_t len = longest + 1; len <= max_length; len++) count_of[len] = 0;
    if (longest > max_length) limit_length_counts(count_of, longest, max_length);
    // The rarest symbols take the longest codes.
    uint32_t i = 0;
    uint64_t bits = 0;
    for (uint32_t len = std::min(longest, max_length); len >= 1; len--) {
        for (uint32_t k = 0; k < count_of[len]; k++, i++) {
            lengths[sorted[i] & 1023] = uint8_t(len);
            bits += (sorted[i] >> 10) * len;
        }
    }
    return bits;
}

void build_canonical_codes(const uint8_t *lengths, uint32_t count, uint16_t *codes) {
    uint32_t count_of[33] = {};
    for (uint32_t s = 0; s < count; s++) count_of[lengths[s]]++;
    count_of[0] = 0;
    uint32_t next_code[33] = {};
    uint32_t code = 0;
    for (uint32_t len = 1; len <= 32; len++) {
        code = (code + count_of[len - 1]) << 1;
        next_code[len] = code;
    }
    for (uint32_t s = 0; s < count; s++) codes[s] = lengths[s] ? uint16_t(next_code[lengths[s]]++) : 0;
}

}  // namespace lzx
