#include "thread_count.h"

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "cpu_quota.h"

namespace lzx {

namespace {

// 0 when the variable is unset or not a positive number.
unsigned long threads_asked_for() {
    const char *text = std::getenv("LZXCOMP_THREADS");
    if (text == nullptr || *text < '0' || *text > '9') return 0;
    char *end = nullptr;
    errno = 0;
    unsigned long count = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0') return 0;
    return count;
}

unsigned long usable_cpus() {
    cpu_set_t cpus;
    // Fails on machines with more CPUs than the set holds.
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return static_cast<unsigned long>(CPU_COUNT(&cpus));
    return std::thread::hardware_concurrency();
}

}  // namespace

unsigned thread_count() {
    unsigned long count = threads_asked_for();
    if (count == 0) {
        count = usable_cpus();
        const unsigned quota = cpu_quota("");
        if (quota > 0 && quota < count) count = quota;
    }
    if (count == 0) count = 1;
    return count > max_threads ? max_threads : static_cast<unsigned>(count);
}

}  // namespace lzx
