#include "run/settings.h"

#include <cstdio>

#include "catalogue/builtin_entries.h"
#include "run/run_state.h"

const its_settings default_settings = {
    .reset_interval = 2,
    .window_size_code = 2,
    .window_bits = 16,
    .itsf_version = 3,
    .itsp_version = 1,
    .reset_table_version = 2,
    .chunk_size = 4096,
    .quickref_density = 2,
    .itsf_language = 1033,
    .itsp_language = 1033,
    .list_guid_utf16 = 1,
    .write_transform_list = 1,
    .add_directories = 1,
    .lzx_block_flag = 1,
    .file_section = 1,
    .remove_output_on_exit = 1,
    .last_chunk = -1,
    .itsf_stamp = 0,
    .flatten_names = 0,
    .clear_free_space = 0,
};

its_settings settings = default_settings;

namespace {
// Window size codes are powers of two from 1 to 0x40: code 2^k gives 15 + k.
int window_bits_for(uint32_t code) {
    for (int k = 0; k <= 6; k++) {
        if (code == (1u << k)) return 15 + k;
    }
    return -1;
}
}  // namespace

int derive_settings(void) {
    run.quickref_spacing = static_cast<uint16_t>((1u << settings.quickref_density) + 1u);

    lay_out_section_0();

    int bits = window_bits_for(settings.window_size_code);
    if (bits < 0) {
        printf("ERROR: Invalid window size code: 0x%x (must be one of 1, 2, 4, 8, 0x10, 0x20 or 0x40)\n",
               settings.window_size_code);
        return -1;
    }
    settings.window_bits = static_cast<uint32_t>(bits);

    // The block loop resets the stream before every block of 2^window_bits
    // bytes, that is every window_size_code frames; readers reset where
    // ControlData says, and decode wrong bytes anywhere else.
    if (settings.reset_interval != settings.window_size_code) {
        printf("ERROR: Invalid reset interval: 0x%x (must equal the window size code, 0x%x)\n",
               settings.reset_interval, settings.window_size_code);
        return -1;
    }
    return 0;
}
