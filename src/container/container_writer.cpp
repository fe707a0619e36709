#include "container/container_writer.h"

#include <cassert>

#include "catalogue/builtin_entries.h"
#include "container/directory.h"
#include "container/encodings.h"
#include "container/output_seek.h"
#include "run/fatal.h"
#include "run/run_state.h"
#include "run/settings.h"

namespace {
const its_guid itsf_guid_1 = {0x7C01FD10, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
const its_guid itsf_guid_2 = {0x7C01FD11, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
const its_guid itsp_guid = {0x5D02926A, 0x212E, 0x11D0, {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};

constexpr uint32_t itsp_header_length = 84;
constexpr uint32_t header_section_0_length = 24;

// Names of the two content sections, by section number, in UTF-16LE.
const uint8_t namelist_bytes[namelist_length] = {
    30, 0, 2, 0,                                                       //
    12, 0, 'U', 0, 'n', 0, 'c', 0, 'o', 0, 'm', 0, 'p', 0, 'r', 0,    //
    'e', 0, 's', 0, 's', 0, 'e', 0, 'd', 0, 0, 0,                      //
    12, 0, 'M', 0, 'S', 0, 'C', 0, 'o', 0, 'm', 0, 'p', 0, 'r', 0,    //
    'e', 0, 's', 0, 's', 0, 'e', 0, 'd', 0, 0, 0,
};

const char transform_guid_text[] = "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}";
static_assert(sizeof transform_guid_text - 1 == transform_list_length);

// Version 2 has no field for the offset of section 0.
bool has_section_0_offset(void) { return settings.itsf_version != 2; }
uint32_t itsf_header_length(void) { return has_section_0_offset() ? 96 : 88; }

bool output_failed(void) { return ferror(run.output_file) || output_seek_failed; }

void skip(long bytes) { seek_output(run.output_file, bytes, SEEK_CUR); }

void write_itsf_header(void) {
    FILE *out = run.output_file;
    uint32_t length = itsf_header_length();
    fwrite("ITSF", 4, 1, out);
    put_le32(out, settings.itsf_version);
    put_le32(out, length);
    put_le32(out, 1);
    put_le32(out, settings.itsf_stamp);
    put_le32(out, settings.itsf_language);
    put_guid(out, itsf_guid_1);
    put_guid(out, itsf_guid_2);
    put_le64(out, length);
    put_le64(out, header_section_0_length);
    put_le64(out, length + header_section_0_length);
    skip(8);  // directory length
    if (has_section_0_offset()) skip(8);
}

void write_header_section_0(void) {
    FILE *out = run.output_file;
    put_le32(out, 0x1FE);
    put_le32(out, 0);
    skip(8);  // file length
    put_le32(out, 0);
    put_le32(out, 0);
}

void write_itsp_header(void) {
    FILE *out = run.output_file;
    fwrite("ITSP", 4, 1, out);
    put_le32(out, settings.itsp_version);
    put_le32(out, itsp_header_length);
    put_le32(out, 10);
    put_le32(out, settings.chunk_size);
    put_le32(out, settings.quickref_density);
    skip(8);  // depth, root chunk
    put_le32(out, 0);
    skip(4);  // last leaf
    put_le32(out, no_chunk);
    skip(4);  // number of chunks
    put_le32(out, settings.itsp_language);
    put_guid(out, itsp_guid);
    put_le32(out, itsp_header_length);
    put_le32(out, no_chunk);
    put_le32(out, no_chunk);
    put_le32(out, no_chunk);
}

void write_transform_list_file(void) {
    if (settings.list_guid_utf16) {
        uint8_t bytes[transform_list_length];
        for (uint32_t i = 0; i < transform_list_length / 2; i++) {
            bytes[2 * i] = static_cast<uint8_t>(transform_guid_text[i]);
            bytes[2 * i + 1] = 0;
        }
        fwrite(bytes, sizeof bytes, 1, run.output_file);
    } else {
        fwrite(transform_guid_text, transform_list_length, 1, run.output_file);
    }
}

void write_control_data(void) {
    FILE *out = run.output_file;
    put_le32(out, 6);
    fwrite("LZXC", 4, 1, out);
    put_le32(out, 2);
    put_le32(out, settings.reset_interval);
    put_le32(out, settings.window_size_code);
    // Windows per reset: chmlib resets every 2 x reset interval x this /
    // window size frames and divides by it; window size / 2 gives the reset
    // interval that the other readers take, and 0 only for a 32 KiB window.
    put_le32(out, settings.window_size_code / 2);
    put_le32(out, 0);
}

void write_reset_table(void) {
    FILE *out = run.output_file;
    const reset_table &table = run.reset_table;
    put_le32(out, settings.reset_table_version);
    put_le32(out, static_cast<uint32_t>(table.count + 1));
    put_le32(out, 8);
    put_le32(out, 40);
    put_le64(out, run.compress_results.uncompressed_length);
    put_le64(out, run.compress_results.compressed_length);
    put_le64(out, 0x8000);
    put_le64(out, 0);
    for (uint64_t i = 0; i < table.count; i++) put_le64(out, table.values[i]);
}

void write_section_0_file(const its_entry *file) {
    if (file == &namelist_entry) fwrite(namelist_bytes, sizeof namelist_bytes, 1, run.output_file);
    if (file == &transform_list_entry) write_transform_list_file();
    if (file == &span_info_entry) put_le64(run.output_file, run.compress_results.uncompressed_length);
    if (file == &control_data_entry) write_control_data();
    if (file == &reset_table_entry) write_reset_table();
}

// Each file ends where the catalogue says, unless writing failed.
void check_section_0_end([[maybe_unused]] const its_entry *file, [[maybe_unused]] long section_0_offset) {
    assert(output_failed() || section_0_offset < 0 ||
           ftell(run.output_file) - section_0_offset == long(file->offset) + long(file->length));
}

void write_section_0_files(long section_0_offset) {
    for (const its_entry *file : section_0_files) {
        if (!in_section_0(file)) continue;
        write_section_0_file(file);
        check_section_0_end(file, section_0_offset);
    }
    const entry_table &table = run.entry_table;
    for (uint64_t i = 0; i < table.count; i++) {
        const its_entry *file = table.entries[i];
        if (!is_memory_file_in_section_0(file)) continue;
        fwrite(file->memory, 1, file->length, run.output_file);
        check_section_0_end(file, section_0_offset);
    }
}

void patch_headers(const dir_summary &summary, uint64_t section_0_offset) {
    FILE *out = run.output_file;
    seek_output(out, 0, SEEK_END);
    long file_length = ftell(out);
    if (file_length < 0) output_seek_failed = true;

    seek_output(out, 80, SEEK_SET);
    // 64-bit, so that a directory of 4 GiB or more is not misreported.
    put_le64(out, itsp_header_length + static_cast<uint64_t>(summary.chunk_count) * settings.chunk_size);
    if (has_section_0_offset()) put_le64(out, section_0_offset);
    skip(8);
    put_le64(out, static_cast<uint64_t>(file_length));
    skip(32);
    put_le32(out, summary.depth);
    put_le32(out, summary.root_chunk);
    skip(4);
    put_le32(out, summary.last_leaf);
    skip(4);
    put_le32(out, summary.chunk_count);
}
}  // namespace

uint32_t copy_content(FILE *output, FILE *stream) {
    uint8_t buffer[512];
    uint32_t total = 0;
    size_t written;
    do {
        size_t got = fread(buffer, 1, sizeof buffer, stream);
        written = fwrite(buffer, 1, got, output);
        total += static_cast<uint32_t>(written);
    } while (written == sizeof buffer);
    return total;
}

void write_container(void) {
    FILE *out = run.output_file;
    output_seek_failed = false;

    write_itsf_header();
    write_header_section_0();
    write_itsp_header();
    dir_summary summary = build_directory();
    if (feof(out) || output_failed()) end_run("ERROR: Output file write error\n");

    long section_0_offset = ftell(out);
    if (section_0_offset < 0) output_seek_failed = true;
    write_section_0_files(section_0_offset);
    rewind(run.temp_file);
    copy_content(out, run.temp_file);
    if (ferror(run.temp_file) || output_failed()) {
        end_run("ERROR: Output file write error or temporary file read error\n");
    }

    patch_headers(summary, static_cast<uint64_t>(section_0_offset));
    // Push out the last patch now, so that a failing write is seen here and
    // not lost when the file is closed.
    fflush(out);
    if (output_failed()) end_run("ERROR: Output file write error\n");
}
