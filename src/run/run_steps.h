// The steps of the run sequence that main calls in order. Each returns 0 to
// go on or -1, after its message, to end the run with -1.
#pragma once

// Opens /dev/null on any of the three standard descriptors that is closed;
// -1, after the message, when that cannot be done.
int keep_standard_streams(void);

// Sets up the name prefix as "/"; -1 after the message when memory runs out.
int start_name_prefix(void);

// Sets up the name prefix, adds the root entry, walks run.input_path and
// adds the built-in entries. The walk leaves out the file at
// run.output_path, when that is named already.
int walk_input(void);

// Sorts the table; with flattened names, drops names taken twice; warns
// about names that differ only in case.
void sort_catalogue(void);

// walk_input, then sort_catalogue.
int catalogue_input(void);

// Refuses an input whose files add up to 4 GiB or more: the container's
// offsets and lengths are 32-bit.
int check_input_size(void);

// Removes one trailing "/" from run.input_path in place and builds
// run.output_path from it with ".its" appended, then note_earlier_output.
int name_output(void);

// Notes which regular file run.output_path names already, if any, and
// where unfinished outputs are created (locate_output).
void note_earlier_output(void);

// Opens the new file for the output into run.output_file (see
// output_file.h); refuses a file that standard output writes to.
int open_output(void);

// Syncs the new file to disk, closes it, renames it over the output and
// marks the output complete; closes the temporary file. The output's last buffered bytes are
// written only by the close, so its result is checked: a failure there or
// in the rename ends the run with -1 and removes the new file.
void finish_output(void);

// The status of a run whose output is complete: 0, or 1 after a last line
// saying how many entries are incomplete. Also 1, with a line on standard
// error, when standard output did not take every message.
int completed_status(void);
