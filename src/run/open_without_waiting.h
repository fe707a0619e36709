// Opening files that may turn out to be named pipes.
#pragma once
#include <sys/types.h>

// As openat(dir_fd, path, flags, mode), except that a named pipe with no
// process at its other end fails or opens at once instead of blocking the
// run; the descriptor is blocking again for the reads and writes that
// follow. Returns the descriptor, or -1.
int open_without_waiting(int dir_fd, const char *path, int flags, mode_t mode);
