#include "run/shutdown.h"

#include <cstdio>
#include <cstdlib>

#include "run/interrupt.h"
#include "run/run_state.h"
#include "run/settings.h"

void on_exit_cleanup(void) {
    // The removal below is this run's own; a signal now would only race it.
    hold_interruptions();
    disarm_output_removal();
    if (settings.remove_output_on_exit && run.unfinished_path) {
        if (run.output_file) fclose(run.output_file);
        run.output_file = nullptr;
        remove(run.unfinished_path);
    }
    release_all();
}

void release_all(void) {
    free(run.name_prefix.buffer);
    run.name_prefix.buffer = nullptr;

    entry_table &table = run.entry_table;
    if (table.entries) {
        for (uint64_t i = 0; i < table.count; i++) {
            its_entry *entry = table.entries[i];
            if (!entry || entry->is_static) continue;
            free(entry->name);
            free(entry->source_path);
            free(entry);
            table.entries[i] = nullptr;
        }
        free(table.entries);
        table.entries = nullptr;
    }

    free(run.reset_table.values);
    run.reset_table.values = nullptr;

    free(run.output_path);
    run.output_path = nullptr;
    run.output_exists = false;
    free(run.replaced_path);
    run.replaced_path = nullptr;
    free(run.unfinished_path);
    run.unfinished_path = nullptr;

    release_chunk_levels();
}

void release_chunk_levels(void) {
    if (!run.chunk_levels) return;
    for (uint32_t level = 0; level < run.levels_in_use; level++) {
        free(run.chunk_levels[level].data_area);
        run.chunk_levels[level].data_area = nullptr;
    }
    free(run.chunk_levels);
    run.chunk_levels = nullptr;
    run.level_capacity = 0;
}
