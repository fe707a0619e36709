// What the replaced output carried, carried over to the new file that
// takes its place: users of a shared directory keep their access.
#pragma once
#include <sys/stat.h>

// Gives the new file open at fd the owner, group, mode and extended
// attributes (the POSIX ACL among them) of the file at replaced, whose
// status is given; warns once, naming shown_path, about what could not be
// kept (only root may give a file away, for one).
void keep_attributes(int fd, const char *replaced, const struct stat &status, const char *shown_path);
