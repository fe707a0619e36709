#include "test_support.h"

#include <cstring>

#include "catalogue/builtin_entries.h"
#include "run/run_state.h"
#include "run/settings.h"

#include "run/shutdown.h"

void reset_run_for_test(void) {
    release_all();
    run = run_state{};
    settings = default_settings;
    restore_builtin_entries();
}
