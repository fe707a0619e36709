#include "run/run_steps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "catalogue/builtin_entries.h"
#include "catalogue/entry_table.h"
#include "catalogue/walk_dir.h"
#include "run/fatal.h"
#include "run/interrupt.h"
#include "run/output_file.h"
#include "run/run_state.h"
#include "run/settings.h"

namespace {
void end_run_out_of_memory(void) { end_run("ERROR: Out of memory while reading the input directory\n"); }
}  // namespace

int keep_standard_streams(void) {
    // A closed standard descriptor would be handed to the next file opened,
    // the output among them: messages printed would land inside it.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
        if (fcntl(fd, F_GETFD) >= 0) continue;
        int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            int moved = dup2(opened, fd);
            close(opened);
            opened = moved;
        }
        if (opened != fd) {
            printf("ERROR: A standard stream is closed and /dev/null could not be opened in its place\n");
            return -1;
        }
    }
    return 0;
}

int start_name_prefix(void) {
    // The set-up's two bytes are not counted in capacity, so the first
    // extension of the prefix obtains a buffer of its own size.
    run.name_prefix.buffer = static_cast<char *>(malloc(2));
    if (!run.name_prefix.buffer) {
        printf("ERROR: Out of memory while reading the input directory\n");
        return -1;
    }
    memcpy(run.name_prefix.buffer, "/", 2);
    run.name_prefix.length = 1;
    run.name_prefix.capacity = 0;
    return 0;
}

int walk_input(void) {
    if (start_name_prefix() != 0) return -1;
    if (settings.add_directories && add_dir_entry() != 0) {
        printf("WARNING: Could not add the root dir of the chm\n");
        run.incomplete_entries++;
    }

    uint64_t before = run.entry_table.count;
    // The walk's loop checks keep standard containers, which throw when
    // memory runs out; nothing here catches, so end the run instead.
    std::new_handler previous = std::set_new_handler(end_run_out_of_memory);
    // An input directory that cannot be opened is packed as an empty one.
    if (walk_dir(run.input_path) < 0) run.incomplete_entries++;
    std::set_new_handler(previous);
    if (run.entry_table.count == before) printf("WARNING: The input directory was empty (no files added)\n");

    if (add_builtin_entries() != 0) {
        printf("ERROR: Could not add the container's own files to the catalogue\n");
        return -1;
    }
    return 0;
}

void sort_catalogue(void) {
    sort_entries();
    if (settings.flatten_names) drop_duplicate_names();
    warn_names_equal_but_for_case();
}

int catalogue_input(void) {
    if (walk_input() != 0) return -1;
    sort_catalogue();
    return 0;
}

int check_input_size(void) {
    if (run.input_size < (uint64_t{1} << 32)) return 0;
    printf("ERROR: The input files add up to %llu bytes; an ITS file holds less than 4 GiB\n",
           static_cast<unsigned long long>(run.input_size));
    return -1;
}

int name_output(void) {
    char *input = run.input_path;
    size_t length = strlen(input);
    // "/" alone stays: emptied, it would name no directory for later stages.
    if (length > 1 && input[length - 1] == '/') input[--length] = '\0';
    run.output_path = static_cast<char *>(malloc(length + 5));
    if (!run.output_path) {
        printf("ERROR: Filename malloc failed\n");
        return -1;
    }
    memcpy(run.output_path, input, length);
    memcpy(run.output_path + length, ".its", 5);
    note_earlier_output();
    return 0;
}

void note_earlier_output(void) {
    struct stat status;
    run.output_exists = stat(run.output_path, &status) == 0 && S_ISREG(status.st_mode);
    if (run.output_exists) {
        run.output_device = static_cast<uint64_t>(status.st_dev);
        run.output_inode = static_cast<uint64_t>(status.st_ino);
    }
    locate_output();
}

namespace {
// As with "kelto d > d.its": the messages would be written into the output.
bool output_is_standard_output(void) {
    struct stat standard;
    return fstat(STDOUT_FILENO, &standard) == 0 && is_output_file(standard.st_dev, standard.st_ino);
}
}  // namespace

int open_output(void) {
    if (output_is_standard_output()) {
        printf("ERROR: Standard output is the output file %s\n", run.output_path);
        return -1;
    }
    // Installs the handlers; the path they remove is set once it exists.
    catch_interruptions(run.output_path);
    // A signal between the creation and the arming would leave the file.
    hold_interruptions();
    bool created = create_output() == 0;
    if (created) {
        catch_interruptions(run.unfinished_path);
        arm_output_removal();
    }
    release_interruptions();
    if (created) return 0;
    printf("ERROR: Could not open output file %s\n", run.output_path);
    return -1;
}

void finish_output(void) {
    // From here the run ends with a complete output or removes it itself;
    // a signal now waits and the process still ends with this run's status.
    hold_interruptions();
    // On disk before the rename: a crash must not leave a name for a file
    // whose blocks were never written.
    if (fflush(run.output_file) != 0 || ferror(run.output_file) || fsync(fileno(run.output_file)) != 0) {
        end_run("ERROR: Output file write error\n");
    }
    FILE *output = run.output_file;
    run.output_file = nullptr;
    // Until the rename the exit handler removes the new file.
    if (fclose(output) != 0) end_run("ERROR: Output file write error\n");
    if (replace_output() != 0) end_run("ERROR: Could not replace output file %s\n", run.output_path);
    settings.remove_output_on_exit = 0;
    disarm_output_removal();
    fclose(run.temp_file);
    run.temp_file = nullptr;
}

int completed_status(void) {
    uint64_t count = run.incomplete_entries;
    if (count != 0)
        printf("ERROR: Could not read all of the input: %llu %s missing or incomplete in %s\n",
               static_cast<unsigned long long>(count), count == 1 ? "entry is" : "entries are", run.output_path);
    // Warnings that never reached anyone (a full disk, a closed pipe whose
    // signal is ignored) must not pass for a clean run.
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "ERROR: Could not write the messages to standard output\n");
        return 1;
    }
    return count == 0 ? 0 : 1;
}
