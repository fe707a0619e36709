// The CPU time a control group allows this process, in whole CPUs.
#pragma once
#include <string>

namespace lzx {

// A container limited to 2 CPUs' worth of time on a 64-CPU machine still
// sees all 64 in its affinity mask; threads beyond its quota only wait
// their turn and hold memory. Reads the process's cgroup (v2 cpu.max, or
// v1 cpu.cfs_quota_us and cpu.cfs_period_us) below the directory `root`
// ("" for the machine's own; another in tests), the tightest quota along
// the group's path up, rounded up to whole CPUs.
// 0 when no quota is set or none can be read.
unsigned cpu_quota(const std::string &root);

}  // namespace lzx
