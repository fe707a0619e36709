#include <cstdio>
#include <cstdlib>

#include "compress/compress_callbacks.h"
#include "run/fatal.h"
#include "run/growth.h"
#include "run/run_state.h"

void record_reset_point(void *, uint32_t, uint32_t compressed_position) {
    reset_table &table = run.reset_table;
    if (capacity_before_append(table.count) > table.capacity) {
        uint64_t wanted = grown_capacity(table.count, table.capacity);
        void *grown = realloc(table.values, wanted * sizeof *table.values);
        // A dropped reset point shifts every later frame: readers then
        // extract wrong bytes from a container that looks complete.
        if (!grown) end_run("ERROR: Failed to increase the size of the ResetTable\n");
        table.values = static_cast<uint64_t *>(grown);
        table.capacity = wanted;
    }
    table.values[table.count++] = compressed_position;
}
