// How many worker threads compress spans.
#pragma once

namespace lzx {

// Each thread keeps a compressor of a few megabytes; this bounds the memory.
constexpr unsigned max_threads = 16;

// LZXCOMP_THREADS when it holds a positive number, else the CPUs this process
// may run on, or its control group's CPU quota where that is less; never
// more than max_threads. 1 means none: the caller's thread
// compresses every span itself.
unsigned thread_count();

}  // namespace lzx
