#include "catalogue/builtin_entries.h"

#include "run/run_state.h"
#include "run/settings.h"

namespace {
char namelist_name[] = "::DataSpace/NameList";
char content_name[] = "::DataSpace/Storage/MSCompressed/Content";
char control_data_name[] = "::DataSpace/Storage/MSCompressed/ControlData";
char span_info_name[] = "::DataSpace/Storage/MSCompressed/SpanInfo";
char transform_list_name[] = "::DataSpace/Storage/MSCompressed/Transform/List";
char instance_data_name[] =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/";
char reset_table_name[] =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

constexpr its_entry builtin(char *name, uint8_t name_len, uint32_t offset, uint32_t length) {
    return its_entry{name_len, name, 0, offset, length, 1, nullptr, nullptr, 0};
}
}  // namespace

// Starting values, kept so that the records can be put back. The offsets
// in section 0 follow from the lengths (lay_out_section_0); the ResetTable's
// length and the Content's place are known only after compression.
const its_entry initial_namelist = builtin(namelist_name, 20, 0, namelist_length);
const its_entry initial_content = builtin(content_name, 40, 0, 0);
const its_entry initial_control_data = builtin(control_data_name, 44, 0, control_data_length);
const its_entry initial_span_info = builtin(span_info_name, 41, 0, span_info_length);
const its_entry initial_transform_list = builtin(transform_list_name, 47, 0, transform_list_length);
const its_entry initial_instance_data = builtin(instance_data_name, 95, 0, 0);
const its_entry initial_reset_table = builtin(reset_table_name, 105, 0, 0);

its_entry namelist_entry = initial_namelist;
its_entry content_entry = initial_content;
its_entry control_data_entry = initial_control_data;
its_entry span_info_entry = initial_span_info;
its_entry transform_list_entry = initial_transform_list;
its_entry instance_data_entry = initial_instance_data;
its_entry reset_table_entry = initial_reset_table;

its_entry *const section_0_files[section_0_file_count] = {&namelist_entry, &transform_list_entry, &span_info_entry,
                                                          &control_data_entry, &reset_table_entry};

bool in_section_0(const its_entry *file) { return file != &transform_list_entry || settings.write_transform_list; }

void lay_out_section_0(void) {
    uint32_t offset = 0;
    for (its_entry *file : section_0_files) {
        if (!in_section_0(file)) continue;
        file->offset = offset;
        offset += file->length;
    }
}

uint32_t lay_out_memory_files(void) {
    uint32_t offset = reset_table_entry.offset + reset_table_entry.length;
    const entry_table &table = run.entry_table;
    for (uint64_t i = 0; i < table.count; i++) {
        its_entry *entry = table.entries[i];
        if (!is_memory_file_in_section_0(entry)) continue;
        entry->offset = offset;
        offset += entry->length;
    }
    return offset;
}

void restore_builtin_entries(void) {
    namelist_entry = initial_namelist;
    content_entry = initial_content;
    control_data_entry = initial_control_data;
    span_info_entry = initial_span_info;
    transform_list_entry = initial_transform_list;
    instance_data_entry = initial_instance_data;
    reset_table_entry = initial_reset_table;
    lay_out_section_0();
}

int add_builtin_entries(void) {
    int failed = 0;
    failed |= add_static_entry(&namelist_entry);
    failed |= add_static_entry(&content_entry);
    failed |= add_static_entry(&control_data_entry);
    failed |= add_static_entry(&span_info_entry);
    if (in_section_0(&transform_list_entry)) failed |= add_static_entry(&transform_list_entry);
    if (settings.add_directories) failed |= add_static_entry(&instance_data_entry);
    failed |= add_static_entry(&reset_table_entry);
    return failed ? -1 : 0;
}
