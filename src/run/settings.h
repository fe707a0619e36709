// The settings record: every value that shapes a run, with its defaults.
#pragma once
#include <cstdint>

struct its_settings {
    uint32_t reset_interval;
    uint32_t window_size_code;
    uint32_t window_bits;
    uint32_t itsf_version;
    uint32_t itsp_version;
    uint32_t reset_table_version;
    uint32_t chunk_size;
    uint32_t quickref_density;
    uint32_t itsf_language;
    uint32_t itsp_language;
    uint8_t list_guid_utf16;
    uint8_t write_transform_list;
    uint8_t add_directories;
    int8_t lzx_block_flag;
    int8_t file_section;
    uint8_t remove_output_on_exit;
    int32_t last_chunk;
    uint32_t itsf_stamp;
    uint8_t flatten_names;
    uint8_t clear_free_space;
};

// The defaults, kept apart so that tests can put them back.
extern const its_settings default_settings;

// The one settings record of the process.
extern its_settings settings;

// Derives window_bits, quickref_spacing and the lowered built-in offsets,
// and checks that the reset interval is the one the stream has.
// Returns 0, or -1 after printing why the settings are unusable.
int derive_settings(void);
