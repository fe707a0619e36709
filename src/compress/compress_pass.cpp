#include "compress/compress_pass.h"

#include <cstdint>
#include <cstdio>

#include "catalogue/builtin_entries.h"
#include "compress/compress_callbacks.h"
#include "lzxcomp.h"
#include "run/fatal.h"
#include "run/run_state.h"
#include "run/settings.h"

namespace {
// Kept here rather than on the stack so that it stays reachable when a
// fatal error ends the process mid-pass.
lzx_data *compressor;

void run_block_loop(void) {
    int block_size = 1 << settings.window_bits;
    while (!input_exhausted(nullptr)) {
        lzx_reset(compressor);
        // A container built from part of the input would pass for the whole.
        if (lzx_compress_block(compressor, block_size, settings.lzx_block_flag) < 0) {
            close_input_dir();
            // The compressor gives up when its output is refused; name the cause.
            if (ferror(run.temp_file)) end_run("ERROR: Temporary file write error\n");
            end_run("ERROR: LZX compression failure\n");
        }
    }
}

void set_builtin_lengths(void) {
    uint64_t resets = run.reset_table.count;
    reset_table_entry.length = static_cast<uint32_t>(reset_table_header_length + 8 * resets);
    content_entry.offset = lay_out_memory_files();
    content_entry.length = static_cast<uint32_t>(run.compress_results.compressed_length);
}
}  // namespace

void compress_content(void) {
    run.temp_file = tmpfile();
    if (!run.temp_file) end_run("ERROR: Could not open temporary output file\n");

    if (lzx_init(&compressor, static_cast<int>(settings.window_bits), feed_input, nullptr, input_exhausted,
                 write_compressed, run.temp_file, record_reset_point, nullptr) != 0)
        end_run("ERROR: LZX initialization failed\n");

    open_input_dir(run.input_path);
    run_block_loop();
    close_input_dir();

    int finished = lzx_finish(compressor, &run.compress_results);
    compressor = nullptr;
    // Worker threads deliver the last frames here: a full temporary file
    // shows up as a failure to finish.
    if (finished < 0 && ferror(run.temp_file)) end_run("ERROR: Temporary file write error\n");
    if (finished < 0) end_run("ERROR: LZX deinitialisation failure\n");
    // Flush first: buffered bytes that cannot be written show up only then.
    if (fflush(run.temp_file) != 0 || feof(run.temp_file) || ferror(run.temp_file))
        end_run("ERROR: Temporary file write error\n");
    // The Content length is a 32-bit field; incompressible input just short
    // of 4 GiB can grow past it.
    if (run.compress_results.compressed_length > UINT32_MAX)
        end_run("ERROR: The compressed content reaches 4 GiB; an ITS file holds less than 4 GiB\n");

    set_builtin_lengths();
}
