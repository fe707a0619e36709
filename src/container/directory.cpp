#include "container/directory.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container/encodings.h"
#include "container/output_seek.h"
#include "run/fatal.h"
#include "run/run_state.h"
#include "run/settings.h"
#include "run/shutdown.h"

namespace {
constexpr uint32_t most_entries = 65535;  // the 16-bit entry count

// Number of the last leaf written, for the previous field of the next leaf:
// index chunks may lie between two leaves in the file.
int32_t last_leaf_written = -1;

uint32_t header_size(uint32_t level) { return level == 0 ? 20 : 8; }
uint32_t data_area_size(uint32_t level) { return settings.chunk_size - header_size(level) - 2; }

void write_numbered_chunk(uint32_t level) {
    write_chunk(level);
    settings.last_chunk += 1;
    if (level == 0) last_leaf_written = settings.last_chunk;
}

// Names a chunk just written (its first name is entry_table[first_name]) in
// the level above it. A full index chunk is written in turn and named one
// level further up, so the numbers in index entries are always those of
// chunks already written.
void add_index_entry(uint32_t level, uint32_t first_name, uint32_t chunk_number) {
    if (level == run.levels_in_use) {
        ensure_level(level);
        init_chunk(level);
    }
    const its_entry *entry = run.entry_table.entries[first_name];
    if (add_to_chunk(level, entry, chunk_number)) {
        uint32_t full_first = run.chunk_levels[level].first_entry;
        write_numbered_chunk(level);
        add_index_entry(level + 1, full_first, static_cast<uint32_t>(settings.last_chunk));
        init_chunk(level);
        add_to_chunk(level, entry, chunk_number);
    }
    if (run.chunk_levels[level].entries_added == 1) run.chunk_levels[level].first_entry = first_name;
}

// Completes the next field of a leaf written earlier: the next chunk to be
// written is always the following leaf. Index chunks written since the leaf
// lie between it and the current position.
void link_next_leaf(int32_t leaf) {
    long behind = static_cast<long>(settings.last_chunk - leaf + 1) * settings.chunk_size;
    seek_output(run.output_file, -(behind - 16), SEEK_CUR);
    put_le32(run.output_file, static_cast<uint32_t>(settings.last_chunk + 1));
    seek_output(run.output_file, behind - 20, SEEK_CUR);
}
}  // namespace

int check_chunk_size(void) {
    constexpr uint32_t longest_name = 255;
    const uint32_t longest_index_entry = encint_size(longest_name) + longest_name + encint_size(UINT32_MAX);
    // The second entry of a chunk takes a quickref slot when every entry does.
    const uint32_t need = 2 * longest_index_entry + (run.quickref_spacing == 1 ? 2 : 0);
    if (settings.chunk_size >= header_size(1) + 2 && data_area_size(1) >= need) return 0;
    printf("ERROR: directory chunk size is too small\n");
    return -1;
}

void ensure_level(uint32_t level) {
    uint32_t needed = ((level + 1) / 4 + 1) * 4;
    if (run.level_capacity < needed) {
        void *grown = realloc(run.chunk_levels, needed * sizeof(chunk_level));
        if (!grown) end_run("ERROR: Could not get enough memory for a level %u directory chunk item\n", level);
        run.chunk_levels = static_cast<chunk_level *>(grown);
        memset(run.chunk_levels + run.level_capacity, 0, (needed - run.level_capacity) * sizeof(chunk_level));
        run.level_capacity = needed;
    }
    uint8_t *buffer = static_cast<uint8_t *>(calloc(data_area_size(level), 1));
    if (!buffer) end_run("ERROR: Could not get enough memory for a level %u directory chunk\n", level);
    run.chunk_levels[level].data_area = buffer;
    run.levels_in_use = level + 1;
}

void init_chunk(uint32_t level) {
    chunk_level &chunk = run.chunk_levels[level];
    chunk.free_bytes = data_area_size(level);
    chunk.write_pos = chunk.data_area;
    chunk.quickref_pos = chunk.data_area + chunk.free_bytes - 1;
    chunk.entry_count = 0;
    chunk.entries_added = 0;
}

bool add_to_chunk(uint32_t level, const its_entry *entry, uint32_t chunk_number) {
    chunk_level &chunk = run.chunk_levels[level];
    if (chunk.entry_count == most_entries) return true;

    // Readers take the name length as an encint like the numbers after it,
    // so a length of 128 or more takes two bytes.
    uint32_t need = encint_size(entry->name_len) + entry->name_len;
    if (level == 0) {
        need += encint_size(entry->section) + encint_size(entry->offset) + encint_size(entry->length);
    } else {
        need += encint_size(chunk_number);
    }
    // A spacing of 0 cannot come from the settings; it means no slots.
    uint32_t spacing = run.quickref_spacing;
    bool slot_due = spacing != 0 && chunk.entries_added > 0 && chunk.entries_added % spacing == 0;
    if (slot_due) need += 2;

    if (need > chunk.free_bytes) {
        if (chunk.entries_added == 0) end_run("ERROR: directory chunk size is too small\n");
        return true;
    }
    if (slot_due) {
        uint32_t offset = static_cast<uint32_t>(chunk.write_pos - chunk.data_area);
        chunk.quickref_pos[0] = static_cast<uint8_t>((offset >> 8) & 0xFF);
        chunk.quickref_pos[-1] = static_cast<uint8_t>(offset & 0xFF);
        chunk.quickref_pos -= 2;
    }

    uint8_t *at = chunk.write_pos;
    at += encint_put(at, entry->name_len);
    memcpy(at, entry->name, entry->name_len);
    at += entry->name_len;
    if (level == 0) {
        at += encint_put(at, entry->section);
        at += encint_put(at, entry->offset);
        at += encint_put(at, entry->length);
    } else {
        at += encint_put(at, chunk_number);
    }
    chunk.write_pos = at;

    chunk.entry_count += 1;
    chunk.free_bytes -= need;
    chunk.entries_added += 1;
    return false;
}

void write_chunk(uint32_t level) {
    chunk_level &chunk = run.chunk_levels[level];
    FILE *out = run.output_file;
    if (settings.clear_free_space) memset(chunk.write_pos, 0, chunk.free_bytes);

    uint32_t used = static_cast<uint32_t>(chunk.write_pos - chunk.data_area);
    fwrite(level == 0 ? "PMGL" : "PMGI", 4, 1, out);
    put_le32(out, settings.chunk_size - header_size(level) - used);
    if (level == 0) {
        put_le32(out, 0);
        put_le32(out, static_cast<uint32_t>(last_leaf_written));
        put_le32(out, no_chunk);  // completed once the next leaf is known
    }
    fwrite(chunk.data_area, data_area_size(level), 1, out);
    put_le16(out, chunk.entry_count);
}

dir_summary build_directory(void) {
    settings.last_chunk = -1;
    last_leaf_written = -1;
    run.levels_in_use = 0;
    run.current_index = 0;
    ensure_level(0);
    init_chunk(0);
    run.chunk_levels[0].first_entry = 0;

    while (run.current_index < run.entry_table.count) {
        const its_entry *entry = run.entry_table.entries[run.current_index];
        if (run.chunk_levels[0].entries_added == 0) run.chunk_levels[0].first_entry = run.current_index;
        if (!add_to_chunk(0, entry, static_cast<uint32_t>(settings.last_chunk + 1))) {
            run.current_index += 1;
            continue;
        }
        // The leaf is full: write it, name it above, and retry the entry in
        // a fresh leaf.
        uint32_t first = run.chunk_levels[0].first_entry;
        write_numbered_chunk(0);
        int32_t leaf = settings.last_chunk;
        init_chunk(0);
        add_index_entry(1, first, static_cast<uint32_t>(leaf));
        link_next_leaf(leaf);
    }

    // Flush, lowest level first, so that the single chunk of the top level,
    // the root, is written last. Naming a chunk may fill and write the
    // chunk above, or even add a level.
    for (uint32_t level = 0; level < run.levels_in_use; level++) {
        uint32_t first = run.chunk_levels[level].first_entry;
        write_numbered_chunk(level);
        if (level + 1 < run.levels_in_use) add_index_entry(level + 1, first, static_cast<uint32_t>(settings.last_chunk));
    }

    dir_summary summary;
    summary.depth = run.levels_in_use;
    summary.chunk_count = static_cast<uint32_t>(settings.last_chunk + 1);
    summary.last_leaf = static_cast<uint32_t>(last_leaf_written);
    summary.root_chunk = settings.last_chunk == 0 ? no_chunk : static_cast<uint32_t>(settings.last_chunk);
    release_chunk_levels();
    return summary;
}
