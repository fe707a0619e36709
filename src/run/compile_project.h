// The run of the project compiler: a help project read, its internal files
// written, and all of it packed like a directory into a .chm.
#pragma once
#include <cstring>
#include <strings.h>

// Whether the path names a project file: its name ends in ".hhp", any case.
inline bool is_project_file(const char *path) {
    size_t length = strlen(path);
    return length > 4 && strcasecmp(path + length - 4, ".hhp") == 0;
}

// Compiles the project at path into the .chm its project file names and
// returns the run's status: 0, 1 when files that the project names are
// missing, -1 after an error (the earlier output left as it was).
int compile_project(const char *path);
