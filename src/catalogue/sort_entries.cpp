#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/entry_table.h"
#include "run/run_state.h"
#include "run/terminal_output.h"

namespace {
// Only ASCII capitals fold; every other byte, UTF-8 included, keeps its
// unsigned value whatever the locale.
unsigned fold(unsigned char byte) { return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte; }

int compare_bytes(const its_entry *a, const its_entry *b) {
    size_t shorter = std::min(a->name_len, b->name_len);
    int order = memcmp(a->name, b->name, shorter);
    if (order != 0) return order;
    return static_cast<int>(a->name_len) - static_cast<int>(b->name_len);
}

// Entries of the input directory itself (no source path) come first.
int compare_sources(const its_entry *a, const its_entry *b) {
    if (!a->source_path || !b->source_path) return (a->source_path != nullptr) - (b->source_path != nullptr);
    return strcmp(a->source_path, b->source_path);
}

bool sorts_before(const its_entry *a, const its_entry *b) {
    int order = compare_names(a, b);
    if (order == 0) order = compare_bytes(a, b);
    if (order == 0) order = compare_sources(a, b);
    return order < 0;
}

// A name's eight bytes from `offset` on, folded, as a number that orders
// as they do; past the end zeros, which sort before any byte of a name.
uint64_t folded_key(const its_entry *entry, size_t offset) {
    uint64_t key = 0;
    for (size_t at = offset; at < offset + 8; at++) {
        unsigned byte = at < entry->name_len ? fold(static_cast<unsigned char>(entry->name[at])) : 0;
        key = key << 8 | byte;
    }
    return key;
}

struct keyed_entry {
    uint64_t key;
    its_entry *entry;
};

bool key_below(const keyed_entry &a, const keyed_entry &b) { return a.key < b.key; }
bool name_below(const keyed_entry &a, const keyed_entry &b) { return sorts_before(a.entry, b.entry); }

// Below this many entries a plain comparison sort is as quick.
constexpr ptrdiff_t few_entries = 32;

// Sorts entries whose names agree, folded, in their first `offset` bytes.
// Comparing keys kept beside the pointers, eight bytes at a time, reads
// each name once per step instead of at every comparison: with a million
// names that is most of the time a comparison sort spends waiting on memory.
void sort_from(keyed_entry *first, keyed_entry *last, size_t offset) {
    if (last - first < few_entries) {
        std::sort(first, last, name_below);
        return;
    }
    for (keyed_entry *item = first; item != last; ++item) item->key = folded_key(item->entry, offset);
    std::sort(first, last, key_below);
    for (keyed_entry *group = first; group != last;) {
        keyed_entry *end = group + 1;
        while (end != last && end->key == group->key) ++end;
        if (end - group > 1) {
            // Equal keys of names that end within them: names equal folded.
            if (group->entry->name_len <= offset + 8) std::sort(group, end, name_below);
            else sort_from(group, end, offset + 8);
        }
        group = end;
    }
}

const char *shown_path(const its_entry *entry) {
    return shown_name(entry->source_path ? entry->source_path : entry->name + 1);
}
}  // namespace

int compare_names(const its_entry *a, const its_entry *b) {
    const unsigned char *x = reinterpret_cast<const unsigned char *>(a->name);
    const unsigned char *y = reinterpret_cast<const unsigned char *>(b->name);
    size_t shorter = std::min(a->name_len, b->name_len);
    // Names below one directory share its whole name: skip equal bytes,
    // which stay equal folded, eight at a time.
    size_t i = 0;
    while (i + 8 <= shorter && memcmp(x + i, y + i, 8) == 0) i += 8;
    for (; i < shorter; i++) {
        unsigned p = fold(x[i]);
        unsigned q = fold(y[i]);
        if (p != q) return p < q ? -1 : 1;
    }
    return static_cast<int>(a->name_len) - static_cast<int>(b->name_len);
}

void sort_entries(void) {
    entry_table &table = run.entry_table;
    if (table.count < 2) return;
    keyed_entry *keyed = static_cast<keyed_entry *>(malloc(table.count * sizeof(keyed_entry)));
    if (!keyed) {
        // Slower, but needs no memory.
        std::sort(table.entries, table.entries + table.count, sorts_before);
        return;
    }
    for (uint64_t i = 0; i < table.count; i++) keyed[i].entry = table.entries[i];
    sort_from(keyed, keyed + table.count, 0);
    for (uint64_t i = 0; i < table.count; i++) table.entries[i] = keyed[i].entry;
    free(keyed);
}

void drop_duplicate_names(void) {
    entry_table &table = run.entry_table;
    uint64_t kept = 0;
    for (uint64_t i = 0; i < table.count; i++) {
        its_entry *entry = table.entries[i];
        its_entry *previous = kept > 0 ? table.entries[kept - 1] : nullptr;
        if (previous && !entry->is_static && compare_bytes(previous, entry) == 0) {
            printf("WARNING: The flattened name %s is taken by %s already (ignoring %s)\n", shown_name(entry->name + 1),
                   shown_path(previous), shown_path(entry));
            free(entry->name);
            free(entry->source_path);
            free(entry);
            continue;
        }
        table.entries[kept++] = entry;
    }
    for (uint64_t i = kept; i < table.count; i++) table.entries[i] = nullptr;
    table.count = kept;
}

void warn_names_equal_but_for_case(void) {
    const entry_table &table = run.entry_table;
    for (uint64_t i = 1; i < table.count; i++) {
        const its_entry *first = table.entries[i - 1];
        const its_entry *second = table.entries[i];
        if (compare_names(first, second) != 0 || compare_bytes(first, second) == 0) continue;
        printf("WARNING: The names %s and %s differ only in case: a lookup by name finds only one of them (both "
               "kept)\n",
               shown_name(first->name + 1), shown_name(second->name + 1));
    }
}
