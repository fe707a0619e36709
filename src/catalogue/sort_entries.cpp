#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/entry_table.h"
#include "run/run_state.h"

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

const char *shown_path(const its_entry *entry) { return entry->source_path ? entry->source_path : entry->name + 1; }
}  // namespace

int compare_names(const its_entry *a, const its_entry *b) {
    const unsigned char *x = reinterpret_cast<const unsigned char *>(a->name);
    const unsigned char *y = reinterpret_cast<const unsigned char *>(b->name);
    size_t shorter = std::min(a->name_len, b->name_len);
    for (size_t i = 0; i < shorter; i++) {
        unsigned p = fold(x[i]);
        unsigned q = fold(y[i]);
        if (p != q) return p < q ? -1 : 1;
    }
    return static_cast<int>(a->name_len) - static_cast<int>(b->name_len);
}

void sort_entries(void) {
    entry_table &table = run.entry_table;
    if (table.count < 2) return;
    std::sort(table.entries, table.entries + table.count, sorts_before);
}

void drop_duplicate_names(void) {
    entry_table &table = run.entry_table;
    uint64_t kept = 0;
    for (uint64_t i = 0; i < table.count; i++) {
        its_entry *entry = table.entries[i];
        its_entry *previous = kept > 0 ? table.entries[kept - 1] : nullptr;
        if (previous && !entry->is_static && compare_bytes(previous, entry) == 0) {
            printf("WARNING: The flattened name %s is taken by %s already (ignoring %s)\n", entry->name + 1,
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
