#include "run/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstring>

namespace {
// A broken pipe on standard output, a file-size or CPU-time limit, a timer
// or a user signal nobody handles ends the run just as a terminal's or a
// supervisor's signals do.
const int caught_signals[] = {SIGINT, SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE,
                              SIGXFSZ, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2};

// The handler may call only async-signal-safe functions, so the path is
// copied beforehand into storage that lives as long as the process.
char removal_path_buffer[PATH_MAX + 8];
const char *removal_path = nullptr;
volatile sig_atomic_t output_unfinished = 0;
bool handlers_installed = false;
sigset_t mask_before_hold;

void remove_unfinished_output(int signal_number) {
    if (output_unfinished && removal_path) unlink(removal_path);
    // The action was reset to the default on entry: end as the signal would.
    raise(signal_number);
}

sigset_t caught_set(void) {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : caught_signals) sigaddset(&set, signal_number);
    return set;
}
}  // namespace

void catch_interruptions(const char *path) {
    size_t length = strlen(path);
    if (length < sizeof removal_path_buffer) {
        memcpy(removal_path_buffer, path, length + 1);
        removal_path = removal_path_buffer;
    } else {
        // Too long to copy; the run keeps this string until it ends.
        removal_path = path;
    }
    if (handlers_installed) return;
    handlers_installed = true;
    for (int signal_number : caught_signals) {
        struct sigaction old_action;
        // A signal ignored at start (nohup, a background job, a test) stays
        // ignored, and one that already has a handler (a profiler's, say)
        // keeps it.
        if (sigaction(signal_number, nullptr, &old_action) != 0 || old_action.sa_handler != SIG_DFL) continue;
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = remove_unfinished_output;
        // The other caught signals wait; this one, raised again, does not.
        action.sa_mask = caught_set();
        sigdelset(&action.sa_mask, signal_number);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigaction(signal_number, &action, nullptr);
    }
}

void hold_interruptions(void) {
    if (!handlers_installed) return;
    sigset_t set = caught_set();
    sigprocmask(SIG_BLOCK, &set, &mask_before_hold);
}

void release_interruptions(void) {
    if (!handlers_installed) return;
    // Signals blocked by whoever started the run stay blocked.
    sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

void arm_output_removal(void) { output_unfinished = 1; }

void disarm_output_removal(void) { output_unfinished = 0; }
