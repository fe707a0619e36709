// The output is written to a new file beside the one it replaces and renamed
// over it only when complete, so that a run that fails or is killed leaves
// the previous file as it was.
#pragma once

#include <cstdint>

// Finds the file that run.output_path names (following symbolic links, a
// dangling one included) into run.replaced_path and notes the directory
// that holds it. Leaves run.replaced_path null when the links loop or
// memory runs out; create_output then fails.
void locate_output(void);

// Whether name, in the directory with this device and inode, has the form
// of an unfinished output beside run.replaced_path: the hidden file of this
// run, of another run going on, or one that a killed run left behind.
bool is_unfinished_output(uint64_t device, uint64_t inode, const char *name);

// Locates the output unless that is done, checks that it may be replaced,
// and creates the new file beside it, open in run.output_file under
// run.unfinished_path. -1 when either cannot be done.
int create_output(void);

// Renames the closed new file, synced to disk by the caller, over the
// replaced one and syncs the directory, so that a crash leaves either the
// old file or the whole new one; -1 when the rename fails.
int replace_output(void);
