// How many threads compress frames, the caller's thread included.
#pragma once

namespace lzx {

// Each thread keeps a compressor of a few megabytes; this bounds the memory.
constexpr unsigned max_threads = 16;

// LZXCOMP_THREADS when it holds a positive number, else the CPUs this process
// may run on; never more than max_threads. 1 means no worker threads.
unsigned thread_count();

}  // namespace lzx
