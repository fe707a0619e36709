#include "cpu_quota.h"

#include <exception>
#include <fstream>
#include <sstream>

namespace lzx {

namespace {

// Whole CPUs for quota microseconds per period, rounded up; 0 for none.
unsigned long cpus_for(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    return static_cast<unsigned long>((quota + period - 1) / period);
}

// The tighter of two limits, where 0 is none.
unsigned long tighter(unsigned long a, unsigned long b) { return a == 0 ? b : b == 0 ? a : (a < b ? a : b); }

// cgroup v2: "max 100000" or "200000 100000".
unsigned long v2_limit(const std::string &dir) {
    std::ifstream file(dir + "/cpu.max");
    std::string quota;
    long long period = 0;
    if (!(file >> quota >> period) || quota == "max") return 0;
    try {
        return cpus_for(std::stoll(quota), period);
    } catch (const std::exception &) {
        return 0;
    }
}

// cgroup v1: a quota of -1 is none.
unsigned long v1_limit(const std::string &dir) {
    std::ifstream quota_file(dir + "/cpu.cfs_quota_us"), period_file(dir + "/cpu.cfs_period_us");
    long long quota = 0, period = 0;
    if (!(quota_file >> quota) || !(period_file >> period)) return 0;
    return cpus_for(quota, period);
}

// The tightest limit from the group at `path` below `mount` up to the
// mount itself. Inside a container the path may not exist below the
// mount, which then is the container's own group.
template <typename limit_fn>
unsigned long tightest_on_path(const std::string &mount, std::string path, limit_fn limit) {
    unsigned long cpus = 0;
    for (;;) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        cpus = tighter(cpus, limit(mount + (path == "/" ? "" : path)));
        if (path.empty() || path == "/") return cpus;
        size_t slash = path.rfind('/');
        path = slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
    }
}

}  // namespace

unsigned cpu_quota(const std::string &root) {
    std::ifstream groups(root + "/proc/self/cgroup");
    unsigned long cpus = 0;
    std::string line;
    // Lines are "id:controllers:path"; v2's has id 0 and no controllers.
    while (std::getline(groups, line)) {
        size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        std::string controllers = line.substr(first + 1, second - first - 1), path = line.substr(second + 1);
        if (controllers.empty()) {
            cpus = tighter(cpus, tightest_on_path(root + "/sys/fs/cgroup", path, v2_limit));
            continue;
        }
        std::stringstream list(controllers);
        for (std::string name; std::getline(list, name, ',');) {
            if (name != "cpu") continue;
            // Mounted as cpu,cpuacct with a cpu link on most systems.
            cpus = tighter(cpus, tightest_on_path(root + "/sys/fs/cgroup/cpu", path, v1_limit));
        }
    }
    return cpus > 0xFFFF ? 0xFFFF : static_cast<unsigned>(cpus);
}

}  // namespace lzx
