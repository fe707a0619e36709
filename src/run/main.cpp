// kelto: packs a directory tree into one ITS file, or compiles an HTML
// Help project into a .chm.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compress/compress_pass.h"
#include "container/container_writer.h"
#include "container/directory.h"
#include "run/compile_project.h"
#include "run/run_state.h"
#include "run/run_steps.h"
#include "run/settings.h"
#include "run/shutdown.h"
#include "run/terminal_output.h"
#include "run/usage.h"

int main(int argc, char **argv) {
    if (keep_standard_streams() != 0) return -1;
    guard_terminal_output();
    if (argc != 2) {
        print_usage();
        return -1;
    }
    if (derive_settings() != 0 || check_chunk_size() != 0) return -1;

    run.input_path = argv[1];
    struct stat status;
    if (stat(run.input_path, &status) != 0) {
        // Only when no such path exists: a file named --help is packed.
        if (strcmp(run.input_path, "--help") == 0 || strcmp(run.input_path, "--version") == 0) {
            print_usage();
            return 0;
        }
        printf("ERROR: Could not find the input dir or .hhp file\n");
        return -1;
    }
    atexit(on_exit_cleanup);
    if (S_ISREG(status.st_mode) && is_project_file(run.input_path)) return compile_project(run.input_path);
    if (!S_ISDIR(status.st_mode)) {
        printf("ERROR: %s is neither a directory nor a .hhp project file: kelto takes one of these\n",
               shown_name(run.input_path));
        return -1;
    }

    // Named first, so that the walk can leave out an earlier output.
    if (name_output() != 0) return -1;
    if (catalogue_input() != 0) return -1;
    if (check_input_size() != 0) return -1;
    if (open_output() != 0) return -1;

    compress_content();
    write_container();
    finish_output();
    return completed_status();
}
