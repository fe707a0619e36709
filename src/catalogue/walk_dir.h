// The walk of the input directory that fills the catalogue.
#pragma once

// Catalogues every file and subdirectory below path, depth first, under the
// current name prefix, printing a warning for whatever it leaves out.
// Returns -1 when path cannot be opened as a directory, else how many of its
// own entries it catalogued. The working directory is never changed.
int walk_dir(const char *path);
