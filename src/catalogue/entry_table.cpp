#include "catalogue/entry_table.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "run/growth.h"
#include "run/run_state.h"
#include "run/settings.h"

namespace {
// Grows the slot array so that a slot is always free after an add.
int grow_table(void) {
    entry_table &table = run.entry_table;
    if (table.capacity >= capacity_before_append(table.count)) return 0;
    uint64_t grown_to = grown_capacity(table.count, table.capacity);
    void *grown = realloc(table.entries, grown_to * sizeof(its_entry *));
    if (!grown) return -1;
    table.entries = static_cast<its_entry **>(grown);
    table.capacity = grown_to;
    return 0;
}

void append(its_entry *entry) {
    entry_table &table = run.entry_table;
    table.entries[table.count++] = entry;
}

// A new entry named prefix + name, owned by the table; null when memory
// runs out.
its_entry *new_entry(const char *name) {
    its_entry *entry = static_cast<its_entry *>(calloc(1, sizeof(its_entry)));
    if (!entry) return nullptr;
    const name_prefix &prefix = run.name_prefix;
    size_t name_length = strlen(name);
    size_t total = prefix.length + name_length;
    entry->name = static_cast<char *>(malloc(total + 1));
    if (!entry->name) {
        free(entry);
        return nullptr;
    }
    memcpy(entry->name, prefix.buffer, prefix.length);
    memcpy(entry->name + prefix.length, name, name_length + 1);
    // Callers keep names within 255 bytes.
    assert(total >= 1 && total <= 255);
    entry->name_len = static_cast<uint8_t>(total);
    return entry;
}
}  // namespace

int add_dir_entry(void) { return add_subdir_entry(""); }

int add_subdir_entry(const char *name) {
    if (grow_table() != 0) return -1;
    its_entry *entry = new_entry(name);
    if (!entry) return -1;
    append(entry);
    return 0;
}

int add_file_entry(const char *name) { return add_file_entry_from(name, nullptr); }

int add_file_entry_from(const char *name, const char *source) {
    if (grow_table() != 0) return -1;
    its_entry *entry = new_entry(name);
    if (!entry) return -1;
    if (source) {
        entry->source_path = strdup(source);
        if (!entry->source_path) {
            free(entry->name);
            free(entry);
            return -1;
        }
    }
    entry->section = static_cast<uint32_t>(static_cast<int32_t>(settings.file_section));
    append(entry);
    return 0;
}

int add_memory_entry(const char *name, const uint8_t *bytes, uint32_t length, uint32_t section) {
    if (grow_table() != 0) return -1;
    its_entry *entry = new_entry(name);
    if (!entry) return -1;
    entry->section = section;
    entry->memory = bytes;
    entry->memory_length = length;
    if (section == 0) entry->length = length;
    append(entry);
    return 0;
}

int add_static_entry(its_entry *entry) {
    if (grow_table() != 0) return -1;
    append(entry);
    return 0;
}
