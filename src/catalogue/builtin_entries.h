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

// Puts every built-in record back to its state at process start.
void restore_builtin_entries(void);

// Appends the built-in entries in their fixed order, each under its setting.
// Returns -1 when one cannot be added: a container without it is unreadable.
int add_builtin_entries(void);
