#include <cstdio>
#include <cstdlib>

#include "compress/compress_callbacks.h"
#include "run/fatal.h"
#include "run/run_state.h"

void record_reset_point(void *, uint32_t, uint32_t compressed_position) {
    reset_table &table = run.reset_table;
    // Room for ten more once the count reaches 9, 19, 29, ...
    uint64_t wanted = ((table.count + 1) / 10) * 10 + 10;
    if (wanted > table.capacity) {
        void *grown = realloc(table.values, wanted * sizeof *table.values);
        // A dropped reset point shifts every later frame: readers then
        // extract wrong bytes from a container that looks complete.
        if (!grown) end_run("ERROR: Failed to increase the size of the ResetTable\n");
        table.values = static_cast<uint64_t *>(grown);
        table.capacity = wanted;
    }
    table.values[table.count++] = compressed_position;
}
