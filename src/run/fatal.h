// Ending the run on a fatal error.
#pragma once

// Prints the formatted message on standard output and ends the process with
// status -1; the exit handler then removes an unfinished output.
[[noreturn]] void end_run(const char *format, ...) __attribute__((format(printf, 1, 2)));
