// The steps of the run sequence that main calls in order. Each returns 0 to
// go on or -1, after its message, to end the run with -1.
#pragma once

// Opens /dev/null on any of the three standard descriptors that is closed;
// -1, after the message, when that cannot be done.
int keep_standard_streams(void);

// Sets up the name prefix, adds the root entry, walks run.input_path and
// adds the built-in entries. The walk leaves out the file at
// run.output_path, when that is named already.
int walk_input(void);

// Sorts the table; with flattened names, drops names taken twice.
void sort_catalogue(void);

// walk_input, then sort_catalogue.
int catalogue_input(void);

// Refuses an input whose files add up to 4 GiB or more: the container's
// offsets and lengths are 32-bit.
int check_input_size(void);

// Removes one trailing "/" from run.input_path in place and builds
// run.output_path from it with ".its" appended; notes which file is there
// already, if any.
int name_output(void);

// Opens run.output_path for writing into run.output_file; refuses a file
// that standard output writes to.
int open_output(void);

// The file to remove when the run does not finish: run.output_path, or the
// file it leads to when it is a symbolic link.
const char *unfinished_output_path(void);

// Marks the output complete and closes both files. The output's last
// buffered bytes are written only by the close, so its result is checked:
// a failure there ends the run with -1 and removes the output.
void finish_output(void);
