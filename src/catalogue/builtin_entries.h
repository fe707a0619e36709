// The container's own files under "::DataSpace/", which live for the whole
// run and are never owned by the entry table.
#pragma once
#include "catalogue/entry_table.h"

extern its_entry namelist_entry;
extern its_entry content_entry;
extern its_entry control_data_entry;
extern its_entry span_info_entry;
extern its_entry transform_list_entry;
extern its_entry instance_data_entry;
extern its_entry reset_table_entry;

// Fixed lengths of the built-in files of section 0.
inline constexpr uint32_t namelist_length = 60;
inline constexpr uint32_t transform_list_length = 38;
inline constexpr uint32_t span_info_length = 8;
inline constexpr uint32_t control_data_length = 28;
// The ResetTable's header with its first entry, the 0 where the first frame
// starts; 8 bytes follow for every reset point.
inline constexpr uint32_t reset_table_header_length = 48;

// Section 0 holds these files back to back, in this order, and the Content
// right behind them.
inline constexpr int section_0_file_count = 5;
extern its_entry *const section_0_files[section_0_file_count];
// Whether the file is part of this run's container: Transform/List only
// while it is written.
bool in_section_0(const its_entry *file);
// Places each file of section 0 where the lengths of those before it end.
void lay_out_section_0(void);

// Places the catalogue's section-0 files held in memory (a compiled help
// file's #SYSTEM) behind the ResetTable, in table order, once its length is
// known; returns where the Content starts.
uint32_t lay_out_memory_files(void);
// Whether the entry is such a file.
inline bool is_memory_file_in_section_0(const its_entry *entry) { return entry->memory && entry->section == 0; }

// Puts every built-in record back to its state at process start, laid out
// for the current settings.
void restore_builtin_entries(void);

// Appends the built-in entries in their fixed order, each under its setting.
// Returns -1 when one cannot be added: a container without it is unreadable.
int add_builtin_entries(void);
