// The output is written to a new file beside the one it replaces and renamed
// over it only when complete, so that a run that fails or is killed leaves
// the previous file as it was.
#pragma once

// Finds the file that run.output_path names (following symbolic links, a
// dangling one included) into run.replaced_path, checks that it may be
// replaced, and creates the new file beside it, open in run.output_file
// under run.unfinished_path. -1 when either cannot be done.
int create_output(void);

// Renames the closed new file over the replaced one; -1 when that fails.
int replace_output(void);
